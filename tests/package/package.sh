#!/usr/bin/env bash
# The package as a user gets it: its contents listed and checked, unpacked
# into a temporary folder, the desktop entry validated and put into a menu
# folder the way the user guide says, then the unpacked Tavrin started from
# another working folder under Xvfb and closed by WM_DELETE_WINDOW; it must
# leave Tavrin.ini beside itself. Every process is ended by its own PID.
set -uo pipefail
archive=$1 closer=$2

source "$(dirname "$0")/../support/xvfb.sh"
fail() {
  echo "FAIL: $*"
  [ -f "$work/tavrin.out" ] && sed 's/^/  tavrin: /' "$work/tavrin.out" | tail -n 30
  exit 1
}

[ -f "$archive" ] || fail "no package at $archive"
top=$(basename "$archive" .tar.gz)
[[ $top =~ ^Tavrin-1\.04-Linux-[A-Za-z0-9_]+$ ]] || fail "unexpected package name $top"

echo "contents of $(basename "$archive"):"
tar -tzvf "$archive" | sed 's/^/  /'
# One folder, named as the archive, holding these files and nothing else.
listed=$(tar -tzf "$archive" | grep -v '/$' | sort)
expected=$(printf '%s\n' "$top/README.md" "$top/Tavrin" "$top/tavrin-cli" "$top/tavrin-sim" \
  "$top/tavrin.desktop" "$top/tavrin.png" "$top/tavrin.svg" \
  "$top/docs/user-guide.md" "$top/docs/command-line.md" "$top/docs/developer-guide.md" "$top/docs/simulator.md" | sort)
[ "$listed" = "$expected" ] || fail "package holds $(echo "$listed" | tr '\n' ' ')"

mkdir -p "$work/unpacked" "$work/elsewhere"
tar -xzf "$archive" -C "$work/unpacked" || fail "cannot unpack"
app="$work/unpacked/$top"
for f in Tavrin tavrin-cli tavrin-sim; do [ -x "$app/$f" ] || fail "$f is not executable"; done
# Runs against the system's libraries alone. (The output is kept first: a
# grep -q that stops reading early fails the pipe under pipefail.)
libs=$(ldd "$app/Tavrin") || fail "ldd failed"
if grep 'not found' <<<"$libs"; then fail "unresolved libraries"; fi
grep -q 'libQt6Widgets\.so\.6 => /' <<<"$libs" || fail "not linked to the system Qt 6"

desktop-file-validate "$app/tavrin.desktop" || fail "desktop entry invalid"
# The user guide's menu entry, into a private folder instead of ~/.local/share.
(cd "$app" && desktop-file-install --dir="$work/applications" \
  --set-key=Exec --set-value="\"$PWD/Tavrin\"" --set-icon="$PWD/tavrin.png" tavrin.desktop) \
  || fail "desktop-file-install refused the entry"
desktop-file-validate "$work/applications/tavrin.desktop" || fail "installed entry invalid"
grep -qx "Exec=\"$app/Tavrin\"" "$work/applications/tavrin.desktop" || fail "Exec not set"

# The simulator starts from the package too.
"$app/tavrin-sim" --port 0 >"$work/sim.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q 'listening on 127.0.0.1:' "$work/sim.out" || fail "tavrin-sim did not start"

# The command line reads the simulator from the package, and fails as
# documented where nothing listens.
simport=$(grep -o 'listening on 127.0.0.1:[0-9]*' "$work/sim.out" | head -n 1 | cut -d: -f2)
"$app/tavrin-cli" read 40024 --host 127.0.0.1 --port "$simport" >"$work/cli.out" 2>&1 \
  || fail "tavrin-cli read failed: $(cat "$work/cli.out")"
grep -q '^40024 *104 *Wersja$' "$work/cli.out" || fail "tavrin-cli read: $(cat "$work/cli.out")"
"$app/tavrin-cli" read --host 127.0.0.1 --port 0 >/dev/null 2>&1; rc=$?
[ "$rc" -eq 2 ] || fail "tavrin-cli with port 0 exited with $rc, not 2"

start_xvfb || fail "Xvfb did not start"

# Started by its path from another working folder: the settings file still
# goes beside the executable.
(cd "$work/elsewhere" && exec env -u QT_QPA_PLATFORM "$app/Tavrin" >"$work/tavrin.out" 2>&1) &
tpid=$!
pids+=($tpid)
find_window() { win=$(xdotool search --name '^Tavrin V1\.04$' 2>/dev/null | head -n 1); [ -n "$win" ]; }
wait_for 15 find_window || fail "the main window did not appear"
# The window carries the program's icon.
wait_for 5 bash -c "xprop -id $win _NET_WM_ICON | grep -q '_NET_WM_ICON(CARDINAL) = '" \
  || fail "the window has no icon"

"$closer" "$win" || fail "could not send WM_DELETE_WINDOW"
wait_for 15 bash -c "! kill -0 $tpid 2>/dev/null" || fail "the program did not exit on close"
wait "$tpid"; rc=$?
[ "$rc" -eq 0 ] || fail "the program exited with $rc"

ini="$app/Tavrin.ini"
[ -f "$ini" ] || fail "no Tavrin.ini beside the executable"
[ ! -e "$work/elsewhere/Tavrin.ini" ] || fail "Tavrin.ini went to the working folder"
entries=$(grep -c '=' "$ini")
[ "$entries" -eq 168 ] || fail "Tavrin.ini holds $entries entries, not 168"
grep -q $'^ip=192.168.10.50\r$' "$ini" || fail "ip not saved"
if grep -h -E 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$work/tavrin.out" "$work/sim.out"; then
  fail "sanitizer report"
fi
echo "package: 1 passed, 0 failed"
