# Starting an Xvfb of our own. Sourced, not run.

voz_xvfb_pid=""
# voz_start_xvfb FIRST LAST: starts an Xvfb of 1024 x 768 x 24 on the first
# free display number from FIRST to LAST, exports DISPLAY and sets
# voz_xvfb_pid. Two scripts may try the same number at the same moment; the
# display is ours only once its lock file names our server, since the
# loser's server lives on for a moment beside the winner's socket.
voz_start_xvfb() {
  local n lock
  for n in $(seq "$1" "$2"); do
    lock=/tmp/.X$n-lock
    [ -e "$lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    voz_xvfb_pid=$!
    for _ in $(seq 1 100); do
      kill -0 "$voz_xvfb_pid" 2>/dev/null || break
      if [ -e "/tmp/.X11-unix/X$n" ] && [ "$(tr -d ' \n' <"$lock" 2>/dev/null)" = "$voz_xvfb_pid" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      sleep 0.1
    done
    kill "$voz_xvfb_pid" 2>/dev/null || true
    wait "$voz_xvfb_pid" 2>/dev/null || true
    voz_xvfb_pid=""
  done
  return 1
}
