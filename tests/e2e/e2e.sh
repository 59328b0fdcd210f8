#!/usr/bin/env bash
# The real Tavrin executable from a temporary folder, against tavrin-sim on
# 127.0.0.1: Connect, Read all registers, type and send a text, close the
# window; then the simulator's request log and the written Tavrin.ini are
# checked. Every process is ended by its own PID; every wait is bounded.
set -uo pipefail
tavrin=$1 sim=$2 closer=$3
source "$(dirname "$0")/e2e_common.sh"

start_sim --stall-after 0
start_xvfb || fail "Xvfb did not start"
start_tavrin

click 400 86                       # Connect
click 738 208                      # Read all registers (func 3)
wait_for 10 grep -q '03 00 00 00 FF' "$work/requests.log" || fail "read all did not reach the simulator"
type_text 'Hello e2e'
click 916 62                       # Send (func 16)
wait_for 10 grep -q ' 01 10 00 37 ' "$work/requests.log" || fail "the text did not reach the simulator"

close_tavrin

expect_req() {
  grep -qx "REQ $1" "$work/requests.log" || { echo "expected request: $1"; sed 's/^/  got: /' "$work/requests.log"; fail "request bytes differ"; }
}
expect_req "00 00 00 0C 00 01 00 01 00 06 01 03 00 00 00 FF"
expect_req "00 00 00 21 00 02 00 01 00 1B 01 10 00 37 00 0A 14 00 48 00 65 00 6C 00 6C 00 6F 00 20 00 65 00 32 00 65 00 00"
[ "$(grep -c '^REQ ' "$work/requests.log")" -eq 2 ] || fail "unexpected extra requests"

ini="$work/app/Tavrin.ini"
ini_complete "$ini"
grep -q $'^edText=Hello e2e\r$' "$ini" || fail "edText not saved"
grep -q $'^seTransactionID=3\r$' "$ini" || fail "transaction ID not saved as 3"
grep -q $'^R54=9\r$' "$ini" || fail "string length not saved"
grep -q $'^R23=104\r$' "$ini" || fail "the version read from the device not saved"
grep -q $'^ip=127.0.0.1\r$' "$ini" || fail "ip changed"
no_sanitizer_reports
echo "e2e: 1 passed, 0 failed"
