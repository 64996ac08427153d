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
cmake_project tinyxml2
cmake_project console-bridge
cmake_project urdfdom-headers
cmake_project urdfdom
cmake_project cli11 -DCLI11_BUILD_TESTS=OFF -DCLI11_BUILD_EXAMPLES=OFF -DCLI11_BUILD_DOCS=OFF
cmake_project eigen3 -DEIGEN_BUILD_DOC=OFF -DEIGEN_BUILD_PKGCONFIG=OFF -DEIGEN_TEST_NOQT=ON
