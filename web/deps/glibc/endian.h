/* The byte order glibc's double-precision functions ask their own endian.h for. */
#include_next <endian.h>
#define LITTLE_ENDI 1
#define HIGH_HALF 1
#define LOW_HALF 0
