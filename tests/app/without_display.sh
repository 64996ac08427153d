#!/bin/sh
# The window program where no window can be opened, and the options that never open one. Without
# a display, or with a platform plugin that cannot start, it ends with status 1 and exactly one line
# that names what is missing and points to velmoth-sim, not with a toolkit message or a crash.
# --help and --version print and exit 0 without a display (1 when nothing can be written), and a
# bad option gives status 2, in one line that says what is wrong.
velmoth=$1
failed=0
check() {  # name, expected status, actual status, output, pattern the one line must match
  lines=$(printf '%s\n' "$4" | wc -l)
  if [ "$3" -ne "$2" ] || ! printf '%s\n' "$4" | grep -q -- "$5" || { [ "$2" -ne 0 ] && [ "$lines" -ne 1 ]; }; then
    printf 'FAIL %s: status %s (want %s)\n%s\n' "$1" "$3" "$2" "$4"
    failed=1
  fi
}
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY "$@"; }

out=$(nodisplay QT_QPA_PLATFORM=xcb "$velmoth" 2>&1); check "no display" 1 $? "$out" 'velmoth-sim'
out=$(QT_QPA_PLATFORM=bogus "$velmoth" 2>&1); check "bogus platform" 1 $? "$out" '"bogus".*velmoth-sim'
out=$(nodisplay "$velmoth" --help 2>&1); check "--help" 0 $? "$out" 'F5 pauses'
out=$(nodisplay "$velmoth" --version 2>&1); check "--version" 0 $? "$out" '^velmoth [0-9]'
out=$(nodisplay "$velmoth" --help 2>&1 >/dev/full); check "--help to a full disk" 1 $? "x$out" 'x'
out=$(nodisplay "$velmoth" --no-such-option 2>&1); check "bad option" 2 $? "$out" 'no-such-option'
out=$(nodisplay "$velmoth" --record '' 2>&1); check "--record ''" 2 $? "$out" "^velmoth: --record: expects a file name, not ''$"
out=$(nodisplay "$velmoth" --urdf= 2>&1); check "--urdf=" 2 $? "$out" "^velmoth: --urdf: expects a file name, not ''$"
out=$(nodisplay "$velmoth" --links 6 --links 7 2>&1); check "--links twice" 2 $? "$out" '^velmoth: --links is given 2 times; give it once$'
# What every front end refuses, refused before any window, in the words velmoth-sim uses.
out=$(nodisplay "$velmoth" --viscous=-1 2>&1); check "--viscous -1" 2 $? "$out" '^velmoth: --viscous must be finite and 0 or more, not -1$'
out=$(nodisplay "$velmoth" --coulomb nan 2>&1); check "--coulomb nan" 2 $? "$out" '^velmoth: --coulomb must be finite and 0 or more, not nan$'
out=$(nodisplay "$velmoth" --q0 '0, nan' 2>&1); check "--q0 nan" 2 $? "$out" '^velmoth: --q0 must be finite, not nan at index 1$'
out=$(nodisplay "$velmoth" --links 2 --qd0=-inf 2>&1); check "--qd0 -inf" 2 $? "$out" '^velmoth: --qd0 must be finite, not -inf at index 0$'
# A display that names no X server is named as the display that cannot be opened.
out=$(DISPLAY=:8731 QT_QPA_PLATFORM=xcb "$velmoth" 2>&1); check "no X server" 1 $? "$out" '^velmoth: cannot open the display ":8731" (DISPLAY); velmoth-sim'
exit $failed
