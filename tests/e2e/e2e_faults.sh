#!/usr/bin/env bash
# The real Tavrin executable against tavrin-sim in one of its fault modes:
#
#   e2e_faults.sh TAVRIN SIM CLOSER PINGER MODE [ARG]
#     MODE: flood, split, exception, close-after N, slow MS
#
# Connect, read all, read range, send a text, write range, read all; after
# each command the program must be alive and its window must answer a ping
# (message boxes that come up are dismissed). Then the window is closed: the
# program exits with 0, the settings file holds every entry, and each saved
# register holds its starting value, a value the text command set, or a
# 16-bit value that the simulator's answers carried.
set -uo pipefail
tavrin=$1 sim=$2 closer=$3 pinger=$4
shift 4
mode=("$@")
source "$(dirname "$0")/e2e_common.sh"

start_sim --stall-after 0 --mode "${mode[@]}"
start_xvfb || fail "Xvfb did not start"
# Starting image: R<i> = 1000 + i, values no answer of the simulator carries.
regs=""
for i in $(seq 0 155); do regs+="R$i=$((1000 + i))"$'\r\n'; done
start_tavrin $'[REG]\r\n'"$regs"

boxes=0
# After a command: the program lives, its window answers (within 10 s, more
# than the 3 s an unanswered exchange blocks it), and a message box that came
# up is taken note of and dismissed.
check_alive() {
  local what=$1 box
  kill -0 "$tpid" 2>/dev/null || fail "the program died after: $what"
  "$pinger" "$win" 10000 || fail "the window did not answer after: $what"
  sleep 0.3
  box=$(xdotool search --onlyvisible --name '^Tavrin$' 2>/dev/null | head -n 1)
  if [ -n "$box" ]; then
    boxes=$((boxes + 1))
    xdotool windowfocus --sync "$box" 2>/dev/null
    xdotool key --clearmodifiers Return
    wait_for 5 bash -c "! xdotool search --onlyvisible --name '^Tavrin\$' >/dev/null 2>&1" ||
      fail "the message box after '$what' did not go"
    "$pinger" "$win" 10000 || fail "the window did not answer after the box of: $what"
  fi
  echo "e2e ${mode[*]}: $what: alive, answering"
}

text='Fault e2e'
click 400 86;  check_alive "Connect"
click 738 208
if [ "${mode[0]}" = slow ]; then
  # The exchange blocks the window for 3 s: a ping must go unanswered now, or
  # the pings prove nothing.
  "$pinger" "$win" 1000 && fail "the window answered while an exchange blocked it"
fi
check_alive "Read all registers"
click 565 177; check_alive "Read range registers"
type_text "$text"
click 916 62;  check_alive "Send text"
click 565 203; check_alive "Write range registers"
click 738 208; check_alive "Read all registers again"

close_tavrin
no_sanitizer_reports
ini="$work/app/Tavrin.ini"
ini_complete "$ini"

requests=$(grep -c '^REQ ' "$work/requests.log")
case "${mode[0]}" in
  close-after)
    # The first answer, then the device hangs up: the later commands find the
    # connection closed and say so in a message box; nothing more goes out.
    [ "$requests" -eq "${mode[1]}" ] || fail "$requests requests reached the simulator, not ${mode[1]}"
    [ "$boxes" -ge 1 ] || fail "no message box said that the device is not connected"
    ;;
  *)
    [ "$requests" -eq 5 ] || fail "$requests requests reached the simulator, not 5"
    ;;
esac

# Every saved register: its starting value, the value the text command gave
# it, or a big-endian 16-bit value at any place in the stream of answer bytes.
bad=$(awk -v text="$text" '
  FNR == 1 { file++ }
  file == 1 && /^ANS / {
    for (k = 2; k <= NF; k++) stream[n++] = $k
    next
  }
  file == 2 {
    sub(/\r$/, "")
    if (match($0, /^R[0-9]+=/)) {
      i = substr($0, 2, RLENGTH - 2) + 0
      v = substr($0, RLENGTH + 1)
      saved[i] = v
    }
  }
  END {
    for (k = 0; k + 1 < n; k++) carried[hex(stream[k]) * 256 + hex(stream[k + 1])] = 1
    L = length(text)
    for (key in saved) {
      i = key + 0
      v = saved[key] + 0
      if (v == 1000 + i) continue
      if (i == 54 && v == L) continue
      if (i >= 55 && i <= 155 && v == (i - 55 < L ? ord(substr(text, i - 54, 1)) : 0)) continue
      if (v in carried) continue
      printf "R%d=%d ", i, v
    }
  }
  function hex(h,   d, r, c) {
    r = 0
    for (d = 1; d <= length(h); d++) r = r * 16 + index("0123456789ABCDEF", substr(h, d, 1)) - 1
    return r
  }
  function ord(c,   k) {
    for (k = 32; k < 127; k++) if (sprintf("%c", k) == c) return k
    return -1
  }
' "$work/answers.log" "$ini")
[ -z "$bad" ] || fail "registers hold values that no answer carried: $bad"
[ -s "$work/answers.log" ] || [ "${mode[0]}" = close-after ] || fail "the simulator logged no answer"
echo "e2e ${mode[*]}: passed ($requests requests, $boxes message boxes)"
