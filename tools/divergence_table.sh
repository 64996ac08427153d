#!/usr/bin/env bash
# Where velmoth-sim runs of the built-in arm stop being finite: longer chains and stronger viscous
# friction need a finer step than the fixed 0.01 s. Prints a Markdown table, one row per run: the
# arguments, and the tick and simulated time of the first state that is not finite ("-" when the
# run stays finite for LIMIT ticks). The run is stopped as soon as it has diverged.
#   tools/divergence_table.sh [VELMOTH_SIM [LIMIT]]
# VELMOTH_SIM defaults to build/release/bin/velmoth-sim, LIMIT to 3000 ticks (30 s).
set -euo pipefail
cd "$(dirname "$0")/.."
sim=${1:-build/release/bin/velmoth-sim}
limit=${2:-3000}
[ -x "$sim" ] || { echo "no $sim; build it with: cmake --build --preset release" >&2; exit 2; }
err=$(mktemp)
trap 'rm -f "$err"' EXIT

# Runs velmoth-sim with the given arguments and prints the row.
measure() {
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
  local tick=- time=-
  if [ -n "$found" ]; then
    tick=$(sed 's/.*tick \([0-9]*\).*/\1/' <<<"$found")
    time=$(sed 's/.*t = \([0-9.]*\) s.*/\1/' <<<"$found")
  fi
  printf '| `%s` | %s | %s |\n' "$*" "$tick" "$time"
}

echo '| arguments | first tick not finite | simulated time (s) |'
echo '|---|---|---|'
for links in 6 7 8 9 10 12 15 20 30 50 100; do
  measure --links "$links"
done
for viscous in 0 0.5 1 1.5 2 5; do
  measure --links 6 --viscous "$viscous"
done
