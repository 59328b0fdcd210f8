#!/usr/bin/env bash
# The unpacked Windows zip under wine and Xvfb: tavrin-sim.exe on 127.0.0.1,
# tavrin-cli.exe reading it; Tavrin.exe from the zip's folder with a
# settings file that points at it;
# Connect and Read all registers clicked by xdotool, the window closed by
# WM_DELETE_WINDOW; then the Tavrin.ini that Tavrin.exe wrote beside itself
# must hold all 168 entries and the registers the simulator answered.
#   e2e_windows.sh APP_FOLDER CLOSE_WINDOW [SCREENSHOT.png]
# WINEPREFIX must name a prepared prefix (scripts/windows makes one).
set -uo pipefail
app=$1 closer=$2 shot=${3:-}
source "$(dirname "$0")/e2e_common.sh"

start_xvfb || fail "Xvfb did not start"
# A server left from an earlier run keeps a desktop on a display that is gone.
wineserver -k 2>/dev/null || true
wineserver -p 2>/dev/null
wine wineboot >/dev/null 2>&1 || true

(cd "$work" && exec wine "$app/tavrin-sim.exe" --port 0 --log "$work/requests.log" \
  --stall-after 0 >"$work/sim.out" 2>&1) &
pids+=($!)
wait_for 30 grep -q 'listening on 127.0.0.1:' "$work/sim.out" || fail "tavrin-sim.exe did not start"
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out" | tr -d '\r' | head -n 1)

# The zip's command line reads the simulator too (exit 0 and the version).
(cd "$work" && wine "$app/tavrin-cli.exe" read 40024 --host 127.0.0.1 --port "$port" \
  >"$work/cli.out" 2>&1) || fail "tavrin-cli.exe read failed: $(cat "$work/cli.out")"
grep -q '^40024 *104 *Wersja' "$work/cli.out" || fail "tavrin-cli.exe read: $(cat "$work/cli.out")"

printf '[Main]\r\nleft=0\r\ntop=0\r\nwidth=999\r\nheight=819\r\n[LAN]\r\nip=127.0.0.1\r\nport=%s\r\n' \
  "$port" >"$app/Tavrin.ini"
(cd "$app" && exec wine ./Tavrin.exe >"$work/tavrin.out" 2>&1) &
tpid=$!
pids+=($tpid)
wait_for 60 find_window || fail "the main window did not appear"
sleep 2
# The client area's origin on the screen: wine may place a frame around it.
eval "$(xdotool getwindowgeometry --shell "$win")"
ox=$X oy=$Y
at() { click $((ox + $1)) $((oy + $2)); }

at 400 86                       # Connect
at 738 208                      # Read all registers (func 3)
wait_for 15 grep -q '03 00 00 00 FF' "$work/requests.log" || fail "read all did not reach the simulator"
sleep 1
[ -n "$shot" ] && import -window root "$shot"

"$closer" "$win" || fail "could not send WM_DELETE_WINDOW"
wait_for 30 bash -c "! kill -0 $tpid 2>/dev/null" || fail "Tavrin.exe did not exit on close"
wait "$tpid"
rc=$?
[ "$rc" -eq 0 ] || fail "Tavrin.exe exited with $rc"

ini="$app/Tavrin.ini"
ini_complete "$ini"
grep -q $'^ip=127.0.0.1\r$' "$ini" || fail "ip changed"
grep -q $'^seTransactionID=2\r$' "$ini" || fail "transaction ID not saved as 2"
# The words read from the simulator's start image: the version 104, the IP
# 192.168.10.50, port 502 and brightness 80 (R23, R24..R27, R36, R37).
for kv in 23=104 24=192 25=168 26=10 27=50 36=502 37=80; do
  grep -q "^R${kv}"$'\r$' "$ini" || fail "R${kv%%=*} does not hold the word read (${kv#*=})"
done
wineserver -k 2>/dev/null || true
echo "e2e windows: 1 passed, 0 failed"
