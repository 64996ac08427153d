/* What glibc's functions take from glibc's own headers, for building them on their own with
   Emscripten (see build-deps.sh): nothing of glibc's internals beyond these names. */
#include <errno.h>
#include <stdint.h>
#define attribute_hidden
#ifndef __always_inline
#define __always_inline inline __attribute__((always_inline))
#endif
#define __set_errno(e) (errno = (e))
#ifndef __glibc_unlikely
#define __glibc_unlikely(cond) __builtin_expect((cond), 0)
#define __glibc_likely(cond) __builtin_expect((cond), 1)
#endif
