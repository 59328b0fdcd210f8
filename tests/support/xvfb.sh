# Sourced by the scripts that run the real program under Xvfb: a private
# folder $work, the array pids whose processes are ended by their own PID on
# exit, bounded waits and a private display.

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$p" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Bounded wait: wait_for SECONDS COMMAND...
wait_for() {
  local limit=$1
  shift
  local end=$(($(date +%s) + limit))
  until "$@"; do
    [ "$(date +%s)" -ge "$end" ] && return 1
    sleep 0.1
  done
}

# start_xvfb [GEOMETRY]: a private Xvfb; exports DISPLAY. The number comes
# from a high random range, away from :0 and the low numbers other tools
# default to, and the server's own lock decides: a server that cannot take
# its number exits, and another number is tried. (A display picked by
# -displayfd alone can be one that another server on this machine is just
# giving up, whose exit then removes the new server's socket.) -noreset: by
# default the server resets when its last client leaves, and a program that
# connects during the reset (right after the readiness probe) is refused.
start_xvfb() {
  local geometry=${1:-1280x1024x24} n pid
  for _ in $(seq 20); do
    n=$((200 + RANDOM % 800))
    [ -e "/tmp/.X$n-lock" ] && continue
    : >"$work/display"
    Xvfb ":$n" -displayfd 3 -screen 0 "$geometry" -nolisten tcp -noreset \
      3>"$work/display" >"$work/xvfb.out" 2>&1 &
    pid=$!
    # Ready once it writes its number; gone at once if the number is taken.
    for _ in $(seq 100); do
      grep -q '^[0-9]' "$work/display" && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if grep -q "^$n\$" "$work/display" && kill -0 "$pid" 2>/dev/null; then
      pids+=("$pid")
      export DISPLAY=":$n"
      wait_for 10 xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
      return 1
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  return 1
}
