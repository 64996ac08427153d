#!/bin/sh
# The window program as a user starts it, recording from the start, then ended by SIGTERM: it must
# close in order (status 0), with every recorded row complete in the file, and (in the sanitizer
# build) without a leak report, so that a leak of ours would fail here.
velmoth=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$velmoth" --record "$dir/run.csv" 2>"$dir/stderr" &
pid=$!
# Rows reach the file at least once a second; wait for a few seconds' worth of them.
i=0
while [ "$(wc -l <"$dir/run.csv" 2>/dev/null || echo 0)" -lt 150 ] && [ $i -lt 600 ]; do
  sleep 0.1
  i=$((i + 1))
done
kill -TERM $pid
wait $pid
status=$?
cat "$dir/stderr"
rows=$(wc -l <"$dir/run.csv")
bad=$(awk -F, 'NR > 1 && NF != 29' "$dir/run.csv" | wc -l)
if [ "$status" -ne 0 ] || [ "$rows" -lt 150 ] || [ "$bad" -ne 0 ] ||
   [ -n "$(tail -c 1 "$dir/run.csv")" ] || grep -q 'LeakSanitizer' "$dir/stderr"; then
  echo "FAIL: status $status, $rows lines, $bad incomplete rows"
  exit 1
fi
head -1 "$dir/run.csv" | grep -q '^tick,time,q0,' || { echo "FAIL: header"; exit 1; }
