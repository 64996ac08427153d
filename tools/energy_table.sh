#!/usr/bin/env bash
# What each step does to the energy of the built-in six-link arm without friction, falling from
# horizontal, where it should stay at its start, 0 J, while the arm swings through about +-50 J.
# Prints a Markdown table, one row per step: the total energy after 60 s and after 600 s of
# simulated time ("diverged at" the time when the state stopped being finite) and the cost of one
# tick, measured as the run's processor time (user and system) over its ticks.
#   tools/energy_table.sh [VELMOTH_SIM]
# VELMOTH_SIM defaults to build/release/bin/velmoth-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
sim=${1:-build/release/bin/velmoth-sim}
[ -x "$sim" ] || { echo "no $sim; build it with: cmake --build --preset release" >&2; exit 2; }
err=$(mktemp)
trap 'rm -f "$err" "$err.out"' EXIT

# Runs 600 s of the arm on the step ENGINE INTEGRATOR SUBSTEPS and prints the row.
measure() {
  local out e60 e600 cost seconds
  local TIMEFORMAT='%U %S'
  seconds=$({ time "$sim" run --viscous 0 --coulomb 0 --engine "$1" --integrator "$2" \
    --substeps "$3" --ticks 60000 --every 6000 >"$err.out" 2>"$err"; } 2>&1)
  out=$(cat "$err.out")
  e60=$(awk -F, '$1 == 6000 { printf "%.3f J", $NF }' <<<"$out")
  e600=$(awk -F, '$1 == 60000 { printf "%.3f J", $NF }' <<<"$out")
  if grep -q 'diverged at tick' "$err"; then
    local at
    at=$(grep -o 't = [0-9.]* s' "$err" | head -1)
    [[ $e60 == *nan* || $e60 == *inf* ]] && e60="diverged at ${at#t = }"
    [[ $e600 == *nan* || $e600 == *inf* ]] && e600="diverged at ${at#t = }"
  fi
  cost=$(awk -v t="$seconds" 'BEGIN { split(t, s, " "); printf "%.1f", (s[1] + s[2]) / 60000 * 1e6 }')
  printf '| %s | %s | %s | %s | %s | %s µs |\n' "$1" "$2" "$3" "$e60" "$e600" "$cost"
}

echo '| engine | integrator | substeps | energy after 60 s | after 600 s | cost per tick |'
echo '|---|---|---|---|---|---|'
measure closed-form euler 1
measure closed-form euler 4
measure recursive euler 1
measure recursive euler 4
measure recursive implicit 1
measure recursive implicit 4
measure recursive dopri5 1
for substeps in 1 2 4 8 16; do
  measure recursive rk4 "$substeps"
done
