# A private X display for the live tests and benchmarks: Xvfb on the first free display
# number from a starting one, with openbox as its window manager. Source this file, then:
#
#   display_start FIRST SCREEN DIR   FIRST: display number to try first; SCREEN: e.g.
#                                    1024x768; DIR: folder for the servers' logs. Exports
#                                    DISPLAY and sets xvfb_pid and wm_pid. Returns 1, after
#                                    printing Xvfb's log, when the display does not answer.
#
# Stopping is the caller's (kill "$wm_pid" "$xvfb_pid"), in its own clean-up.

display_start() {
  local n=$1 screen=$2 dir=$3
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  export DISPLAY=":$n"
  Xvfb "$DISPLAY" -screen 0 "${screen}x24" -nolisten tcp >"$dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  if ! xdpyinfo >/dev/null 2>&1; then
    echo "Xvfb did not start on $DISPLAY:"
    cat "$dir/xvfb.log"
    return 1
  fi
  openbox >"$dir/openbox.log" 2>&1 &
  wm_pid=$!
}
