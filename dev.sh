#!/usr/bin/env bash
# Velmoth on a Debian 12 machine: installs the Debian packages that are missing, builds, and then
#   ./dev.sh run [OPTIONS]  builds only the window program and starts it (release build), with
#                           velmoth's options, e.g. ./dev.sh run --urdf examples/puma560.urdf
#   ./dev.sh build  builds the window program, velmoth-sim and the Python module (release build)
#   ./dev.sh test   runs the whole test suite in the sanitizer build and in the release build,
#                   under a virtual X display
#   ./dev.sh bench  runs the benchmarks (release build)
#   ./dev.sh web [PORT]  builds the page (WebAssembly engine, scripts, samples) into build/web/page
#                   and serves it on http://127.0.0.1:PORT/ (default 8036) until interrupted
# Every build uses all of the machine's processors.
# Every step is idempotent: a second call installs nothing and rebuilds only what changed.
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libqt6opengl6-dev qt6-qpa-plugins qt6-charts-dev libgl1-mesa-dri libglu1-mesa-dev
  liborocos-kdl-dev libcli11-dev liburdfdom-dev libkdl-parser-dev libtinyxml-dev libtinyxml2-dev libeigen3-dev
  libassimp-dev
  libmujoco-dev
  pybind11-dev python3-dev python3-numpy python3-pytest python3-distributed python3-matplotlib
  python3-pandas python3-nbclient python3-nbformat python3-ipykernel jupyter-notebook
  xvfb xauth locales clang-format
  emscripten chromium nodejs dpkg-dev
)

install_missing() {
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  # npm comes with some builds of Node.js and is a package of its own in Debian's.
  command -v npm >/dev/null || missing+=(npm)
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}"
}

# build PRESET [TARGET...]: configures once, then builds the targets (all when none is named).
build() {
  local preset=$1
  shift
  cmake --preset "$preset" >/dev/null
  local targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}"
}

case "${1:-}" in
  run)
    install_missing
    build release velmoth
    shift
    echo "Starting build/release/bin/velmoth (./dev.sh build builds velmoth-sim and the Python module too)"
    exec build/release/bin/velmoth "$@"
    ;;
  build)
    install_missing
    build release velmoth velmoth-sim velmoth_python
    echo "Built build/release/bin/velmoth, build/release/bin/velmoth-sim and the Python module in"
    echo "build/release/python: PYTHONPATH=build/release/python /usr/bin/python3 -c 'import velmoth'"
    ;;
  test)
    install_missing
    # The sanitizer build finds memory and undefined-behaviour faults but hands every matrix block
    # straight to the allocator; the release build runs the shipped code, block recycling included.
    # Both run every test; the run fails if either does.
    build debug
    build release
    export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
    export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
    # Leaks inside the system's GL, X and font libraries are theirs, not ours; see the file.
    export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan_suppressions.txt:print_suppressions=0}"
    export QT_QPA_PLATFORM=xcb
    # No session bus: Qt's accessibility bridge would otherwise connect to the desktop's, or have
    # the D-Bus library start one from a thread of every window test (autolaunch).
    export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/velmoth-tests-use-no-session-bus
    status=0
    # -noreset: otherwise the server resets each time its last client leaves, and a window test
    # that connects meanwhile is refused, or dies of SIGPIPE.
    for preset in debug release; do
      echo "== tests of the $preset build"
      xvfb-run -a -s "-screen 0 1600x1200x24 -noreset" ctest --preset "$preset" -j "$(nproc)" || status=1
    done
    # The page: its engine under Node against the release build's velmoth-sim, then the page in
    # headless Chromium.
    echo "== tests of the page"
    web/build.sh build/web/page
    node --test tests/web/ || status=1
    exit "$status"
    ;;
  bench)
    install_missing
    build release
    # The view and dialog benchmarks need a display; without one they get a virtual one.
    display=()
    [ -n "${DISPLAY:-}" ] || display=(xvfb-run -a -s "-screen 0 1600x1200x24 -noreset")
    for b in build/release/bin/*_bench; do
      echo "== $b"
      "${display[@]}" "$b"
    done
    ;;
  web)
    install_missing
    web/build.sh build/web/page
    port=${2:-8036}
    echo "Serving the page at http://127.0.0.1:$port/ (Ctrl+C ends)"
    exec python3 -m http.server --bind 127.0.0.1 --directory build/web/page "$port"
    ;;
  *)
    echo "usage: $0 run [VELMOTH OPTIONS]|build|test|bench|web [PORT]" >&2
    exit 2
    ;;
esac
