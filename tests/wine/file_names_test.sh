#!/usr/bin/env bash
# File names as users give them: kw9cli.exe downloads and exports to and from
# names outside any code page (Ł, ü, 東京, an emoji) and under a path of 300
# characters, and writes what the Linux kw9cli writes, byte for byte: the
# files, the plain and JSON output, the custody log. A download cut short
# leaves no temporary file behind.
#   file_names_test.sh WINE KW9CLI_EXE
# KW9_TRACKERSIM names the Linux build's trackersim (exit 77 without it); the
# Linux kw9cli is the one beside it (../cli/kw9cli). WINEPREFIX as for the
# other Wine tests; it uses COM2, so that it runs beside the COM1 test, and
# the prefix's com2 link is put back as it was afterwards.
set -u
export LC_ALL=C.UTF-8  # Wine turns the arguments into UTF-16 by the locale's charset
wine=$1
cli_exe=$2

. "$(dirname "$0")/sim_port.sh"
sim_port_begin
linux_cli=$(dirname "$KW9_TRACKERSIM")/../cli/kw9cli
[ -x "$linux_cli" ] || fail "no Linux kw9cli at $linux_cli"
golden=$(cd "$(dirname "$0")/../golden" && pwd)/track64.kml
# A download's file: the golden bytes, then its stamp naming the simulated
# tracker (the last line, whose time is the download's).
stamped_golden() {
  local last
  last=$(tail -n 1 "$1" | tr -d '\r')
  head -n -1 "$1" | cmp -s - "$golden" &&
    [[ $last =~ ^"<!-- kw9 download "20[0-9-]{8}T[0-9:]{8}Z" model KLX-TX3 firmware 20 serial 2417 -->"$ ]]
}

start_sim() { start_sim_port com2 --size "$1"; }  # size: trackersim behind COM2

# The same relative names on both sides (Wine's current folder is the Linux
# one), so even the output that names the files must agree.
mkdir "$work/linux" "$work/windows" || fail "cannot make $work's folders"
long=$(printf 'd%.0s' $(seq 95))
long="$long/$long/$long"
mkdir -p "$work/linux/$long" "$work/windows/$long" || fail "cannot make the long path"
names=("Łódź" "Müller track" "東京 track" "🛰 track" "$long/東京 🛰 long")
[ "$(printf '%s' "${names[4]}.kml" | iconv -t UTF-16LE | wc -c)" -ge 600 ] ||
  fail "the long name is under 300 UTF-16 characters"

run() {  # side status arguments...: kw9cli in work/side; its output in out
  local side=$1 want=$2
  shift 2
  if [ "$side" = windows ]; then
    (cd "$work/windows" && "$wine" "$cli_exe" "$@" </dev/null >"$work/out.raw" 2>"$work/err")
  else
    (cd "$work/linux" && "$linux_cli" "$@" </dev/null >"$work/out.raw" 2>"$work/err")
  fi
  local got=$?
  tr -d '\r' <"$work/out.raw" >"$work/out.$side"
  [ "$got" = "$want" ] || fail "$side kw9cli $* exited $got, not $want: $(cat "$work/err")"
}
# Windows text files end their lines in CR LF, by design; a GPX file's
# creation time is the moment it was written.
today=$(date -u +%Y-%m-%d)
same() {  # file: the Windows copy is the Linux one
  for side in linux windows; do
    tr -d '\r' <"$work/$side/$1" | sed "s/${today}T[0-9:]*Z/NOW/g" >"$work/$side.text"
  done
  cmp -s "$work/linux.text" "$work/windows.text" || fail "the Windows $1 differs from the Linux one"
}
no_tmp() {
  local left
  left=$(find "$work" -name '*.tmp')
  [ -z "$left" ] || fail "$* left a temporary file: $left"
}

# A download to the longest name writes the golden file Linux writes (a
# download takes long under Wine: the names' other downloads are cut short
# below); the other names get that file.
start_sim 64
run windows 0 download --port COM2 --output "${names[4]}.kml"
stamped_golden "$work/windows/${names[4]}.kml" || fail "the download did not write $golden"
no_tmp "the download"
stop_sim
for n in "${names[@]}"; do
  cp "$golden" "$work/linux/$n.kml"
  cp "$golden" "$work/windows/$n.kml"
done

# Exports from and to each name, the CSV to its default name; plain output,
# JSON and the custody log's line (less its time) as on Linux.
for n in "${names[@]}"; do
  for f in gpx geojson kml22 svg csv; do
    args=(export --to "$f" "$n.kml" --date 2024-05-01 --log "$n.log")
    [ "$f" = csv ] || args+=(--output "$n.$f")
    [ "$f" = kml22 ] && args+=(--json)
    for side in linux windows; do run "$side" 0 "${args[@]}"; done
    cmp -s "$work/out.linux" "$work/out.windows" ||
      fail "export of $n to $f printed $(cat "$work/out.windows"), Linux $(cat "$work/out.linux")"
    [ "$f" = csv ] && same "$n.csv" || same "$n.$f"
  done
  for side in linux windows; do
    sed 's/"time":"[^"]*"//' "$work/$side/$n.log" | tr -d '\r' >"$work/$side.log"
  done
  cmp -s "$work/linux.log" "$work/windows.log" || fail "the custody logs of $n differ"
  no_tmp "exports of $n"
done

# Failures: a download cut short once its temporary file exists keeps the
# older file and leaves no temporary one; nor does an export into a folder
# that does not exist.
for n in "${names[@]}"; do
  echo "an older track" >"$work/windows/$n.kml"
  start_sim 1024
  (cd "$work/windows" && "$wine" "$cli_exe" download --port COM2 --output "$n.kml" \
    </dev/null >"$work/out.raw" 2>"$work/err") &
  download=$!
  for _ in $(seq 200); do
    [ -n "$(find "$work/windows" -name '*.tmp')" ] && break
    sleep 0.05
  done
  [ -n "$(find "$work/windows" -name '*.tmp')" ] || fail "download to $n.kml made no temporary file"
  stop_sim
  wait "$download" && fail "download to $n.kml succeeded with the tracker gone"
  no_tmp "a download to $n.kml cut short"
  [ "$(cat "$work/windows/$n.kml")" = "an older track" ] || fail "$n.kml was replaced"
  cp "$golden" "$work/windows/$n.kml"
  run windows 5 export --to gpx "$n.kml" --output "missing/$n.gpx"
  no_tmp "an export of $n to a missing folder"
done
echo "PASSED"
