#!/usr/bin/env bash
# The real Tavrin executable from a temporary folder, against tavrin-sim on
# 127.0.0.1: Connect, Read all registers, type and send a text, close the
# window; then the simulator's request log and the written Tavrin.ini are
# checked. Every process is ended by its own PID; every wait is bounded.
set -uo pipefail
tavrin=$1 sim=$2 closer=$3

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$p" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for f in sim tavrin; do [ -f "$work/$f.out" ] && sed "s/^/  $f: /" "$work/$f.out" | tail -n 30; done
  exit 1
}

# Bounded wait: wait_for SECONDS COMMAND...
wait_for() {
  local limit=$1; shift
  local end=$(( $(date +%s) + limit ))
  until "$@"; do
    [ "$(date +%s)" -ge "$end" ] && return 1
    sleep 0.1
  done
}

# The simulator, on a port it picks itself.
"$sim" --port 0 --stall-after 0 --log "$work/requests.log" >"$work/sim.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q 'listening on 127.0.0.1:' "$work/sim.out" || fail "simulator did not start"
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out" | head -n 1)

# A free display.
display=""
for n in $(seq 91 120); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=":$n"; break; }
done
[ -n "$display" ] || fail "no free X display"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.out" 2>&1 &
pids+=($!)
export DISPLAY=$display
wait_for 10 xdotool getdisplaygeometry >/dev/null 2>&1 || fail "Xvfb did not start"

mkdir -p "$work/app"
cp "$tavrin" "$work/app/Tavrin"
printf '[Main]\r\nleft=0\r\ntop=0\r\nwidth=999\r\nheight=819\r\n[LAN]\r\nip=127.0.0.1\r\nport=%s\r\n' "$port" \
  >"$work/app/Tavrin.ini"
(cd "$work/app" && exec env -u QT_QPA_PLATFORM ./Tavrin >"$work/tavrin.out" 2>&1) &
tpid=$!
pids+=($tpid)

find_window() { win=$(xdotool search --name '^Tavrin V1\.04' 2>/dev/null | head -n 1); [ -n "$win" ]; }
wait_for 15 find_window || fail "the main window did not appear"
sleep 0.5

# Positions are the design places: the client area starts at the screen's
# top left (left=0, top=0 and no window manager). PanelClient begins at x 289.
click() { xdotool mousemove --sync "$1" "$2" click 1; sleep 0.3; }
click 400 86                       # Connect
click 738 208                      # Read all registers (func 3)
wait_for 10 grep -q '03 00 00 00 FF' "$work/requests.log" || fail "read all did not reach the simulator"
click 588 33                       # the text field
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 30 'Hello e2e'
sleep 0.3
click 916 62                       # Send (func 16)
wait_for 10 grep -q ' 01 10 00 37 ' "$work/requests.log" || fail "the text did not reach the simulator"

"$closer" "$win" || fail "could not send WM_DELETE_WINDOW"
wait_for 15 bash -c "! kill -0 $tpid 2>/dev/null" || fail "the program did not exit on close"

expect_req() {
  grep -qx "REQ $1" "$work/requests.log" || { echo "expected request: $1"; sed 's/^/  got: /' "$work/requests.log"; fail "request bytes differ"; }
}
expect_req "00 00 00 0C 00 01 00 01 00 06 01 03 00 00 00 FF"
expect_req "00 00 00 21 00 02 00 01 00 1B 01 10 00 37 00 0A 14 00 48 00 65 00 6C 00 6C 00 6F 00 20 00 65 00 32 00 65 00 00"
[ "$(wc -l <"$work/requests.log")" -eq 2 ] || fail "unexpected extra requests"

ini="$work/app/Tavrin.ini"
entries=$(grep -c '=' "$ini")
[ "$entries" -eq 168 ] || fail "Tavrin.ini holds $entries entries, not 168"
grep -q $'^edText=Hello e2e\r$' "$ini" || fail "edText not saved"
grep -q $'^seTransactionID=3\r$' "$ini" || fail "transaction ID not saved as 3"
grep -q $'^R54=9\r$' "$ini" || fail "string length not saved"
grep -q $'^R23=104\r$' "$ini" || fail "the version read from the device not saved"
grep -q $'^ip=127.0.0.1\r$' "$ini" || fail "ip changed"
# Sanitizer builds: reports of the program or the simulator fail the test.
if grep -h -E 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$work/tavrin.out" "$work/sim.out"; then
  cat "$work/tavrin.out"
  fail "sanitizer report"
fi
wait "$tpid"; rc=$?
[ "$rc" -eq 0 ] || { cat "$work/tavrin.out"; fail "the program exited with $rc"; }
echo "e2e: 1 passed, 0 failed"
