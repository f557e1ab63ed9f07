# Sourced by the Wine tests: trackersim on a new pseudo-terminal, with a COM
# port of the Wine prefix pointing at it, and the port's link put back as it
# was by stop_sim_port. sim_port_begin skips the test (exit 77) without
# KW9_TRACKERSIM, makes the scratch folder work, removed on exit with the
# link put back, and brings a Wine session up; start_sim_port sets sim_pid,
# pty and sim_link.
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

sim_port_begin() {
  if [ -z "${KW9_TRACKERSIM:-}" ]; then
    echo "SKIPPED: KW9_TRACKERSIM is not set; point it at the Linux build's trackersim" \
      "(build/default/tools/trackersim), as ./run test does"
    exit 77
  fi
  [ -x "$KW9_TRACKERSIM" ] || fail "KW9_TRACKERSIM=$KW9_TRACKERSIM is not an executable"
  work=$(mktemp -d) || fail "no temporary directory"
  trap 'stop_sim_port; rm -rf "$work"' EXIT
  # Wine's serial driver points each comN at /dev/ttyS(N-1) whenever a Wine
  # session starts. So bring the session up first, and keep it up for a while
  # after each program (a wineserver already running, as under ./run, is kept
  # as it is). System processes inherit standard output: keep them off ours.
  wineserver -p10 </dev/null >/dev/null 2>&1
}
sim_pid=
pty=
sim_link=
sim_old_target=
sim_linked=0

stop_sim() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  sim_pid=
}

start_sim_port() {  # comN trackersim-arguments...
  local port=$1
  shift
  stop_sim
  "$KW9_TRACKERSIM" "$@" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  pty=
  for _ in $(seq 100); do
    pty=$(head -n 1 "$work/sim.out" 2>/dev/null)
    [ -n "$pty" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  { [ -n "$pty" ] && [ -c "$pty" ]; } || fail "trackersim printed no device: $(cat "$work/sim.err")"
  sim_link=${WINEPREFIX:-$HOME/.wine}/dosdevices/$port
  mkdir -p "${sim_link%/*}" || fail "no ${sim_link%/*}"
  if [ "$sim_linked" = 0 ]; then
    sim_old_target=$(readlink "$sim_link" 2>/dev/null)
    sim_linked=1
  fi
  rm -f "$sim_link"
  ln -s "$pty" "$sim_link" || fail "cannot link $sim_link"
}

stop_sim_port() {
  stop_sim
  if [ "$sim_linked" = 1 ]; then
    rm -f "$sim_link"
    [ -n "$sim_old_target" ] && ln -s "$sim_old_target" "$sim_link"
    sim_linked=0
  fi
}
