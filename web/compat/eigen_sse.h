// Included ahead of simulation/equation.cpp, the one file that uses Eigen, in the page's build.
// The desktop build's Eigen vectorises with SSE2 (GCC 12 on x86-64), which sums its dot products in
// another order than its plain code does; Emscripten's SSE2 on WebAssembly's SIMD gives the same
// order, with clang named GCC 12 as the desktop build's compiler is. For that GCC Eigen also writes
// empty x86 register barriers into its product kernels (asm ("" : "+x,m" (a))), which WebAssembly
// cannot take and which change no value: asm statements are dropped from Eigen's code. The system
// headers are read first, as they are, so that only Eigen's code goes without them.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <emmintrin.h>
#include <xmmintrin.h>

#define __asm__(...)
