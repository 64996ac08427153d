#!/bin/sh
# Runs the window program with no display to connect to: it must end with status 1 and exactly one
# line that points to velmoth-sim, not with a toolkit message or a crash.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$1" 2>&1)
status=$?
lines=$(printf '%s\n' "$out" | wc -l)
printf '%s\n' "$out"
[ "$status" -eq 1 ] && [ "$lines" -eq 1 ] && printf '%s\n' "$out" | grep -q 'velmoth-sim'
