# Shared by the end-to-end scripts (sourced): bounded waits, the simulator,
# a private Xvfb display, the program from a temporary folder. Every process
# is ended by its own PID; every wait is bounded.

source "$(dirname "${BASH_SOURCE[0]}")/../support/xvfb.sh"

fail() {
  echo "FAIL: $*"
  for f in sim tavrin; do [ -f "$work/$f.out" ] && sed "s/^/  $f: /" "$work/$f.out" | tail -n 30; done
  exit 1
}

# start_sim ARGS...: the simulator on a port it picks itself; sets $port.
# Requests go to $work/requests.log, answers to $work/answers.log.
start_sim() {
  "$sim" --port 0 --log "$work/requests.log" --answer-log "$work/answers.log" "$@" \
    >"$work/sim.out" 2>&1 &
  pids+=($!)
  wait_for 10 grep -q 'listening on 127.0.0.1:' "$work/sim.out" || fail "simulator did not start"
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out" | head -n 1)
}

# start_tavrin [EXTRA INI LINES]: the program in $work/app with a settings
# file at the screen's top left that points at the simulator; sets $tpid and
# $win (its main window).
find_window() { win=$(xdotool search --name '^Tavrin V1\.04' 2>/dev/null | head -n 1); [ -n "$win" ]; }
start_tavrin() {
  mkdir -p "$work/app"
  cp "$tavrin" "$work/app/Tavrin"
  {
    printf '[Main]\r\nleft=0\r\ntop=0\r\nwidth=999\r\nheight=819\r\n[LAN]\r\nip=127.0.0.1\r\nport=%s\r\n' "$port"
    printf '%s' "${1:-}"
  } >"$work/app/Tavrin.ini"
  (cd "$work/app" && exec env -u QT_QPA_PLATFORM ./Tavrin >"$work/tavrin.out" 2>&1) &
  tpid=$!
  pids+=($tpid)
  wait_for 15 find_window || fail "the main window did not appear"
  sleep 0.5
}

# Positions are the design places: the client area starts at the screen's
# top left (left=0, top=0 and no window manager). PanelClient begins at x 289.
click() { xdotool mousemove --sync "$1" "$2" click 1; sleep 0.3; }
type_text() {
  click 588 33 # the text field
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 30 "$1"
  sleep 0.3
}

# Closes the window as a window manager's close box does; the program must
# exit with code 0.
close_tavrin() {
  "$closer" "$win" || fail "could not send WM_DELETE_WINDOW"
  wait_for 15 bash -c "! kill -0 $tpid 2>/dev/null" || fail "the program did not exit on close"
  local rc
  wait "$tpid"; rc=$?
  [ "$rc" -eq 0 ] || fail "the program exited with $rc"
}

# Sanitizer builds: reports of the program or the simulator fail the test.
no_sanitizer_reports() {
  if grep -h -E 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$work/tavrin.out" "$work/sim.out"; then
    cat "$work/tavrin.out"
    fail "sanitizer report"
  fi
}

# The settings file holds every entry once: 4 window, 6 Modbus, 2 LAN and
# 156 registers R0..R155, under their four sections.
ini_complete() {
  local ini=$1 entries k
  entries=$(grep -c '=' "$ini")
  [ "$entries" -eq 168 ] || fail "Tavrin.ini holds $entries entries, not 168"
  for k in left top width height seNodeID seProtocolID seTransactionID edRRStart edRRNums edText ip port; do
    [ "$(grep -c "^$k=" "$ini")" -eq 1 ] || fail "Tavrin.ini: $k is not there once"
  done
  for k in $(seq 0 155); do
    [ "$(grep -c "^R$k=" "$ini")" -eq 1 ] || fail "Tavrin.ini: R$k is not there once"
  done
  for s in Main Modbus LAN REG; do
    grep -q $'^\['"$s"$'\]\r$' "$ini" || fail "Tavrin.ini: section [$s] missing"
  done
}
