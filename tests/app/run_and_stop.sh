#!/bin/sh
# The window program as a user starts it, recording from the start, then ended by SIGTERM: it must
# close in order (status 0), with every recorded row complete and the arm moving, and (in the
# sanitizer build) without a leak report, so that a leak of ours would fail here.
#   run_and_stop.sh VELMOTH COLUMNS [OPTIONS...]   COLUMNS: fields per row (5 + 4 per joint)
# With COLUMNS 0 the options must make it refuse to start: status 2, one line naming the problem.
# With COLUMNS box the options (and nothing else) must bring up a message box at the start: the
# signal that closes the box must end the program too, not open the window.
# With COLUMNS slow the options must make the first tick take far longer than the test: the signal
# must end the program while that tick is still computing (status 0, the recording's header alone).
# With COLUMNS full the recording's file may hold its header and no row (as on a full disk): one
# signal ends the program (status 0) and the recording's failure is said on standard error.
# VELMOTH_SIGNAL names the signal that ends a recording (default TERM; HUP when the terminal
# closes, QUIT for Ctrl-\): the recording's replay must end with its end line, counting its rows.
velmoth=$1
signal=${VELMOTH_SIGNAL:-TERM}
columns=$2
shift 2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# Waits for the recording's header and then for the given seconds, then sends SIGTERM once; fails
# unless the program ends with status 0 by itself, within a minute.
stop_once() {
  i=0
  while [ ! -s "$dir/run.csv" ] && [ $i -lt 3000 ]; do
    sleep 0.02
    i=$((i + 1))
  done
  sleep "$1"
  kill -TERM $pid
  i=0
  while kill -0 $pid 2>/dev/null && [ $i -lt 600 ]; do
    sleep 0.1
    i=$((i + 1))
  done
  if kill -0 $pid 2>/dev/null; then
    kill -KILL $pid
    echo "FAIL: still running a minute after SIGTERM"
    exit 1
  fi
  wait $pid
  status=$?
  cat "$dir/stderr"
  if [ "$status" -ne 0 ] || grep -q 'LeakSanitizer' "$dir/stderr"; then
    echo "FAIL: status $status"
    exit 1
  fi
}
if [ "$columns" = slow ]; then
  "$velmoth" --record "$dir/run.csv" "$@" 2>"$dir/stderr" &
  pid=$!
  stop_once 2  # the window is up, its first tick computing
  [ "$(wc -l <"$dir/run.csv")" -eq 1 ] || { echo "FAIL: a tick was recorded"; exit 1; }
  exit 0
fi
if [ "$columns" = full ]; then
  (trap '' XFSZ; ulimit -f 1; exec "$velmoth" --record "$dir/run.csv" "$@" 2>"$dir/stderr") &
  pid=$!
  stop_once 0.5  # rows were recorded, and may have failed to reach the file
  grep -q "^velmoth: Recording to $dir/run.csv stopped: " "$dir/stderr" ||
    { echo "FAIL: the failure is not on standard error"; exit 1; }
  exit 0
fi
if [ "$columns" = box ]; then
  "$velmoth" "$@" 2>"$dir/stderr" &
  pid=$!
  echo >"$dir/run.csv"  # nothing to wait for: the box is up three seconds after the start
  stop_once 3
  exit 0
fi
"$velmoth" --record "$dir/run.csv" "$@" 2>"$dir/stderr" &
pid=$!
if [ "$columns" -eq 0 ]; then
  sleep 3  # the message box is up by now; the signal closes it
  kill -TERM $pid
  wait $pid
  status=$?
  cat "$dir/stderr"
  for file; do :; done  # the last option names the file
  [ "$status" -eq 2 ] && grep -q "^velmoth: $file: " "$dir/stderr" && [ ! -e "$dir/run.csv" ] && exit 0
  echo "FAIL: status $status"
  exit 1
fi
# Rows reach the file at least once a second; wait for a few seconds' worth of them.
i=0
while [ "$(wc -l <"$dir/run.csv" 2>/dev/null || echo 0)" -lt 150 ] && [ $i -lt 600 ]; do
  sleep 0.1
  i=$((i + 1))
done
kill -"$signal" $pid
wait $pid
status=$?
cat "$dir/stderr"
rows=$(wc -l <"$dir/run.csv")
[ "$(tail -n 1 "$dir/run.csv.replay")" = "$((rows - 1)) end" ] ||
  { echo "FAIL: the replay does not end with '$((rows - 1)) end'"; exit 1; }
bad=$(awk -F, -v n="$columns" 'NR > 1 && NF != n' "$dir/run.csv" | wc -l)
moves=$(awk -F, 'NR == 2 { first = $3 } NR > 2 && $3 != first { moved = 1 } END { print moved + 0 }' "$dir/run.csv")
if [ "$status" -ne 0 ] || [ "$rows" -lt 150 ] || [ "$bad" -ne 0 ] || [ "$moves" -ne 1 ] ||
   [ -n "$(tail -c 1 "$dir/run.csv")" ] || grep -q 'LeakSanitizer' "$dir/stderr"; then
  echo "FAIL: status $status, $rows lines, $bad incomplete rows, moving $moves"
  exit 1
fi
head -1 "$dir/run.csv" | grep -q '^tick,time,q0,' || { echo "FAIL: header"; exit 1; }
