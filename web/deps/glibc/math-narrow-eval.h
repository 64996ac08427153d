/* WebAssembly evaluates doubles in double precision. */
#define math_narrow_eval(x) (x)
