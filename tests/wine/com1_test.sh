#!/usr/bin/env bash
# The Win32 serial layer against the simulated tracker, through Wine's COM1,
# and kw9cli.exe reading and writing that tracker the way a user would, then
# downloading a built-in track into the golden file and repairing a KML file.
# (The window against the tracker is window_tracker_test.sh, on COM3.)
#   com1_test.sh WINE TEST_EXE KW9CLI_EXE
# KW9_TRACKERSIM names the Linux build's trackersim (./run test sets it);
# without it the test is skipped (exit 77). WINEPREFIX as for the other Wine
# tests. The prefix's com1 link is pointed at trackersim's pseudo-terminal for
# the run and put back as it was afterwards.
set -u
wine=$1
exe=$2
cli=$3

. "$(dirname "$0")/sim_port.sh"
sim_port_begin
"$wine" "$exe" --gtest_list_tests </dev/null >/dev/null 2>&1 ||
  fail "$exe does not start under $wine"

# Every byte value, so that a line which eats XON/XOFF or turns CR into LF is
# seen; then the same backwards. The rest of the log memory reads 0xFF.
image=$work/image.bin
for i in $(seq 0 255) $(seq 255 -1 0); do printf '%b' "\\0$(printf %03o "$i")"; done >"$image"
[ "$(stat -c %s "$image")" = 512 ] || fail "could not write the log image"

start_sim_port com1 --size 1024 --image "$image"
echo "COM1 -> $pty (trackersim $sim_pid)"

KW9_COM1_IMAGE="Z:$image" "$wine" "$exe" --gtest_filter='Com1.*' </dev/null
status=$?

[ "$(readlink "$sim_link")" = "$pty" ] ||
  fail "something pointed com1 elsewhere during the run: $(readlink "$sim_link")"
kill -0 "$sim_pid" 2>/dev/null || fail "trackersim ended during the run: $(cat "$work/sim.err")"
[ "$status" = 0 ] || fail "the COM1 exchange failed (exit $status)"

# kw9cli.exe: Read, a Write of one field, and a Read that sees it.
cli_run() {  # expected-status arguments...
  local want=$1
  shift
  "$wine" "$cli" "$@" </dev/null >"$work/cli.out" 2>"$work/cli.err"
  local got=$?
  tr -d '\r' <"$work/cli.out" >"$work/cli.txt"
  [ "$got" = "$want" ] || fail "kw9cli $* exited $got, not $want: $(cat "$work/cli.err")"
}
expect_line() {
  grep -qxF "$1" "$work/cli.txt" || fail "kw9cli printed no line $1: $(cat "$work/cli.txt")"
}
cli_run 0 read --port COM1
expect_line "modelLabel=Model: KLX-TX3"
expect_line "statusText=Read Complete"
cli_run 0 write --port COM1 --store-interval 33 --enable-nmea 1
expect_line "statusText=Write Complete"
cli_run 0 read --port COM1
expect_line "storeInterval=33"
expect_line "enableNmea=1"
cli_run 2 write --port COM1 --serial-number 5

# A second tracker with the built-in 64-kbit track: kw9cli.exe must
# write exactly the golden file, replacing an older one, and repair a file in
# place.
start_sim_port com1 --size 64
golden=$(cd "$(dirname "$0")/../golden" && pwd)/track64.kml
# A download's file: the golden bytes, then its stamp naming the simulated
# tracker (the last line, whose time is the download's).
stamped_golden() {
  local last
  last=$(tail -n 1 "$1" | tr -d '\r')
  head -n -1 "$1" | cmp -s - "$golden" &&
    [[ $last =~ ^"<!-- kw9 download "20[0-9-]{8}T[0-9:]{8}Z" model KLX-TX3 firmware 20 serial 2417 -->"$ ]]
}
echo "an older track" >"$work/track.kml"
cli_run 0 download --port COM1 --output "Z:$work/track.kml"
expect_line "percentLabel=100.00"
stamped_golden "$work/track.kml" || fail "kw9cli.exe download did not write $golden"
[ "$(ls "$work" | grep -c '\.tmp$')" = 0 ] || fail "a temporary file was left: $(ls "$work")"
printf '1.5, 2.5, 100\n<coordinates>, 7.1, 50.2\n' >"$work/fix.kml"
cli_run 0 fix-kml "Z:$work/fix.kml" "Z:$work/fix.kml"
[ "$(cat "$work/fix.kml")" = "$(printf '1.5,2.5,100\r\n<coordinates>7.1,50.2\r')" ] ||
  fail "kw9cli.exe fix-kml did not repair in place: $(od -c "$work/fix.kml")"

# Devices that are no port and no file, answered as Linux answers for
# /dev/null: the exit status and the line on standard error.
while IFS='|' read -r want line args; do
  # shellcheck disable=SC2086  # the arguments are words
  cli_run "$want" $args
  tr -d '\r' <"$work/cli.err" | grep -qxF "$line" ||
    fail "kw9cli $args printed no line $line: $(cat "$work/cli.err")"
done <<'ROWS'
3|kw9: Not a serial device: choose a serial port from the list.|read --port NUL
3|kw9: Not a serial device: choose a serial port from the list.|read --port CON
7|kw9cli: not erased: NUL is no file that can be read back|download --port COM1 --output NUL --erase-after
ROWS

echo "PASSED"
