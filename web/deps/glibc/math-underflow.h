/* The underflow exception is not raised: WebAssembly has no floating-point exceptions. */
#define math_check_force_underflow(x) ((void)0)
