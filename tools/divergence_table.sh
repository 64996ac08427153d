#!/usr/bin/env bash
# Where velmoth-sim runs of the built-in arm stop being finite: longer chains and stronger viscous
# friction are more than the closed form's Euler step, the built-in arm's own, can hold at 0.01 s;
# the recursive engine with the implicit step or with the error-controlled dopri5 step (the default
# of arms from files) holds them. Prints a Markdown table, one row per arm: the arguments, and for
# each of the three steps the simulated time of the first state that is not finite ("-" when the
# run stays finite for LIMIT ticks). A run is stopped as soon as it has diverged.
#   tools/divergence_table.sh [VELMOTH_SIM [LIMIT]]
# VELMOTH_SIM defaults to build/release/bin/velmoth-sim, LIMIT to 3000 ticks (30 s).
set -euo pipefail
cd "$(dirname "$0")/.."
sim=${1:-build/release/bin/velmoth-sim}
limit=${2:-3000}
[ -x "$sim" ] || { echo "no $sim; build it with: cmake --build --preset release" >&2; exit 2; }
err=$(mktemp)
trap 'rm -f "$err"' EXIT

# Runs velmoth-sim with the given arguments and prints when it diverged, or "-".
diverged_at() {
  : >"$err"
  "$sim" run --ticks "$limit" --every "$limit" "$@" >/dev/null 2>"$err" &
  local pid=$! found=""
  while kill -0 "$pid" 2>/dev/null; do
    found=$(grep -o 'diverged at tick [0-9]* (t = [0-9.]* s)' "$err" || true)
    if [ -n "$found" ]; then
      kill "$pid" 2>/dev/null || true
      break
    fi
    sleep 0.1
  done
  wait "$pid" 2>/dev/null || true
  [ -n "$found" ] || found=$(grep -o 'diverged at tick [0-9]* (t = [0-9.]* s)' "$err" || true)
  if [ -n "$found" ]; then
    sed 's/.*t = \([0-9.]*\) s.*/\1 s/' <<<"$found"
  else
    echo -
  fi
}

# The row of one arm.
measure() {
  printf '| `%s` | %s | %s | %s |\n' "$*" "$(diverged_at "$@")" \
    "$(diverged_at "$@" --engine recursive --integrator implicit)" \
    "$(diverged_at "$@" --engine recursive --integrator dopri5)"
}

echo '| arguments | closed form, Euler: diverged at | recursive, implicit | recursive, dopri5 |'
echo '|---|---|---|---|'
for links in 6 7 8 9 10 12 15 20 30 50 100; do
  measure --links "$links"
done
for viscous in 0 0.5 1 1.5 2 5; do
  measure --links 6 --viscous "$viscous"
done
measure --links 6 --viscous 0 --coulomb 0
