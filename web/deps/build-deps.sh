#!/usr/bin/env bash
# build-deps.sh SRC PREFIX: builds the libraries that fetch-sources.sh unpacked into SRC for the
# browser (Emscripten, static, optimised as the release build is) and installs them into PREFIX,
# where the engine's Emscripten build finds them. Each is built by its own build system, as Debian
# builds it (TinyXML, which has none that fits, from the object files Debian's rules name), with
# WebAssembly's own exceptions, as the engine is built: the parser throws and catches. A library
# already installed is not built again.
set -euo pipefail
src=$(cd "$1" && pwd)
prefix=$(mkdir -p "$2" && cd "$2" && pwd)
work=$prefix/.build
mkdir -p "$work" "$prefix/include" "$prefix/lib"

# One CMake project of SRC/NAME-*, configured with the Emscripten toolchain and installed.
cmake_project() {
  local name=$1 stamp=$prefix/.$1.done
  shift
  [ -f "$stamp" ] && return 0
  local dir
  dir=$(echo "$src/$name"-[0-9]*/)
  emcmake cmake -S "$dir" -B "$work/$name" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_TESTING=OFF -DCMAKE_CXX_FLAGS=-fwasm-exceptions "$@" >"$work/$name.log" 2>&1
  cmake --build "$work/$name" -j2 >>"$work/$name.log" 2>&1
  cmake --install "$work/$name" >>"$work/$name.log" 2>&1
  touch "$stamp"
}

if [ ! -f "$prefix/.tinyxml.done" ]; then
  # Debian's rules: -DTIXML_USE_STL (its patched header defines it too), these three objects.
  dir=$(echo "$src"/tinyxml-[0-9]*/)
  mkdir -p "$work/tinyxml"
  for f in tinyxml tinyxmlparser tinyxmlerror; do
    em++ -O2 -fwasm-exceptions -DTIXML_USE_STL -c "$dir/$f.cpp" -o "$work/tinyxml/$f.o"
  done
  emar rc "$prefix/lib/libtinyxml.a" "$work"/tinyxml/*.o
  install -m 644 "$dir/tinyxml.h" "$prefix/include/"
  touch "$prefix/.tinyxml.done"
fi
# The math functions are built again whenever their shim or these lines change.
glibc_shim=$(cd "$(dirname "$0")/glibc" && pwd)
glibc_key=$(cat "$glibc_shim"/* "$0" | sha256sum | cut -c1-16)
if [ "$(cat "$prefix/.glibc-math.done" 2>/dev/null)" != "$glibc_key" ]; then
  # glibc's sin, cos, atan2 and pow, which the desktop programs call: Emscripten's own (musl's)
  # differ from them by an ulp for some arguments (sin and cos for about 3%), and the arm's motion
  # carries such a difference on. On x86-64 glibc computes them with fused multiply-adds wherever
  # its compiler contracts a * b + c; clang contracts the same ones within an expression
  # (-ffp-contract=on; those GCC makes across statements are below), and those are made calls of
  # an exact multiply-add here (glibc/exact_fma.c), WebAssembly having no fused instruction of its
  # own: the results are glibc's bit for bit (tests/web/math_check.c holds them to the machine's
  # on millions of arguments). x86-64 builds them with -mfma, which defines __FP_FAST_FMA:
  # pow then takes its branches written with explicit fused multiply-adds (__builtin_fma), made
  # calls of the same exact one. Only the four functions keep their public names; glibc's internal
  # ones are renamed, so that none meets musl's of the same name.
  dir=$(echo "$src"/glibc-math-*/sysdeps/ieee754/dbl-64)
  shim=$glibc_shim
  names=(-D__sin=sin -D__cos=cos -D__ieee754_atan2=atan2 -D__pow=pow)
  for internal in __branred __sincostab __exp_data __log_data __log2_data __pow_log_data \
    __math_oflow __math_uflow __math_may_uflow __math_divzero __math_invalid __math_check_oflow \
    __math_check_uflow __math_edom __math_err __math_invalidf; do
    names+=("-D$internal=glibc$internal")
  done
  mkdir -p "$work/glibc"
  # GCC also fuses a product kept in a variable of its own with the sum it is used in, where clang
  # fuses within one expression only. In sin, cos and atan2 such products are exact (the pieces of
  # pi / 2 times the quadrant, split operands), and fused or not they give the same; pow has two
  # that are not, written here into the sums they feed, as GCC computes them.
  log_tail='ar3 * (A[1] + r * A[2] + ar2 * (A[3] + r * A[4] + ar2 * (A[5] + r * A[6])))'
  sed -e 's/^  kd = math_narrow_eval (z + Shift);$/  kd = math_narrow_eval (InvLn2N * x + Shift);/' \
    -e "s/^  lo = lo1 + lo2 + lo3 + lo4 + p;\$/  lo = lo1 + lo2 + lo3 + lo4 + $log_tail;/" \
    "$dir/e_pow.c" >"$work/glibc/e_pow.c"
  if [ "$(grep -c 'InvLn2N \* x + Shift\|lo4 + ar3 \* (A\[1\]' "$work/glibc/e_pow.c")" != 2 ]; then
    echo "build-deps.sh: e_pow.c is not the one whose products the build fuses as GCC does" >&2
    exit 1
  fi
  modules=()
  for f in s_sin branred sincostab e_atan2 e_pow e_exp_data e_pow_log_data math_err; do
    source=$dir/$f.c
    [ "$f" = e_pow ] && source=$work/glibc/e_pow.c
    emcc -O2 -ffp-contract=on -D__FP_FAST_FMA=1 -I"$shim" -I"$dir" "${names[@]}" -S -emit-llvm \
      "$source" -o "$work/glibc/$f.ll"
    # (Both intrinsics in one file leave two declarations of the one function: the first stays.)
    sed -i 's/@llvm\.fmuladd\.f64(/@velmoth_fma(/g; s/@llvm\.fma\.f64(/@velmoth_fma(/g' "$work/glibc/$f.ll"
    awk '!/^declare double @velmoth_fma\(/ || !seen++' "$work/glibc/$f.ll" >"$work/glibc/$f.ll.new"
    mv "$work/glibc/$f.ll.new" "$work/glibc/$f.ll"
    if grep -q 'llvm\.fmuladd\|llvm\.fma\.' "$work/glibc/$f.ll"; then
      echo "build-deps.sh: $f.c: a multiply-add of a kind the build does not make exact" >&2
      exit 1
    fi
    modules+=("$work/glibc/$f.ll")
  done
  # One module with the multiply-add, so that the optimiser inlines it.
  emcc -O2 -ffp-contract=off -S -emit-llvm "$shim/exact_fma.c" -o "$work/glibc/exact_fma.ll"
  llvm-link-14 "${modules[@]}" "$work/glibc/exact_fma.ll" -o "$work/glibc/glibc_math.bc"
  emcc -O2 -c "$work/glibc/glibc_math.bc" -o "$work/glibc/glibc_math.o"
  rm -f "$prefix/lib/libglibc_math.a"
  emar rc "$prefix/lib/libglibc_math.a" "$work/glibc/glibc_math.o"
  echo "$glibc_key" >"$prefix/.glibc-math.done"
fi
cmake_project tinyxml2
cmake_project console-bridge
cmake_project urdfdom-headers
cmake_project urdfdom
cmake_project cli11 -DCLI11_BUILD_TESTS=OFF -DCLI11_BUILD_EXAMPLES=OFF -DCLI11_BUILD_DOCS=OFF
cmake_project eigen3 -DEIGEN_BUILD_DOC=OFF -DEIGEN_BUILD_PKGCONFIG=OFF -DEIGEN_TEST_NOQT=ON
