#!/usr/bin/env bash
# kw9.exe's window against the simulated tracker with the built-in 64-kbit
# track, through Wine's COM3: it reads, downloads into the golden file, writes,
# updates, runs the service buttons and is closed mid-work; its picture is
# saved as SCREENSHOT.
#   window_tracker_test.sh WINE WINDOW_TESTS_EXE KW9_EXE SCREENSHOT
# KW9_TRACKERSIM as for com1_test.sh (exit 77 without it); without an X display
# (DISPLAY) the window is not tried. COM3, so that it runs beside the COM1 and
# COM2 tests; the prefix's com3 link is put back as it was afterwards.
set -u
wine=$1
window_tests=$2
kw9_exe=$3
screenshot=$4

if [ -z "${DISPLAY:-}" ]; then
  echo "SKIPPED: no X display (DISPLAY): kw9.exe's window was not tried"
  exit 77
fi
. "$(dirname "$0")/sim_port.sh"
sim_port_begin

golden=$(cd "$(dirname "$0")/../golden" && pwd)/track64.kml
start_sim_port com3 --size 64
echo "COM3 -> $pty (trackersim $sim_pid)"
rm -f "$screenshot"
KW9_EXE=$kw9_exe KW9_PORT=COM3 KW9_SCREENSHOT="Z:$screenshot" KW9_WORK="Z:$work" \
  KW9_GOLDEN="Z:$golden" "$wine" "$window_tests" --gtest_filter='Kw9Tracker.*' </dev/null ||
  fail "kw9.exe's window did not read the tracker"
[ -s "$screenshot" ] || fail "no screenshot in $screenshot"
echo "screenshot: $screenshot"
echo "PASSED"
