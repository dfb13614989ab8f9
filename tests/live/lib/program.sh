# The real program in its window on a display and a sound server of the test's own (source
# display.sh and pulse.sh first, and start both). Source this file, then:
#
#   program_launch KESTRUM LOG   starts the program, waits up to 20 s for its window and sets
#                                app_pid and app_wid. Returns 1 when no window appeared.
#   program_click_start DRIVER   clicks the start/stop button ({32, 285, 274, 331} at 560 x
#                                760, clicked at its centre) through the live driver while the
#                                sink's monitor is recorded; sets start_ms to the milliseconds
#                                from the click to the first sound, empty when none came within
#                                5 s. The driver's lines go to stdout; call it without a pipe,
#                                so that start_ms is set in the caller's shell.
#   program_close                ends the program (if running) and waits for it.

program_launch() {
  "$1" >"$2" 2>&1 &
  app_pid=$!
  app_wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^Kestrum - Radio Band Scanner\$" | head -1)
  [ -n "$app_wid" ]
}

program_click_start() {
  local out
  out=$("$1" --live click 5 "$KESTRUM_PULSE_MONITOR" "$app_wid" 153 308)
  echo "$out"
  start_ms=$(echo "$out" | sed -n 's/^first sound \([0-9.]*\) ms after the click$/\1/p')
}

program_close() {
  if [ -n "${app_pid:-}" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null
  fi
  app_pid=
}
