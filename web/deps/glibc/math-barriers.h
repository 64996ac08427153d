/* Values the compiler may not compute ahead of time (for the floating-point exceptions, which
   WebAssembly does not have): a volatile copy keeps them where they are. */
#define math_opt_barrier(x) ({ volatile __typeof(x) __x = (x); __x; })
#define math_force_eval(x) ({ volatile __typeof(x) __x = (x); (void)__x; })
