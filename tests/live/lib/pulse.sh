# A private PulseAudio daemon for the live tests, with a null sink, and ALSA's "default"
# pointed at it through a configuration file of its own. Source this file, then:
#
#   pulse_start DIR   starts the daemon with its runtime folder, socket, cookie and ALSA
#                     configuration in DIR (created if missing) and waits until it answers.
#                     Exports XDG_RUNTIME_DIR, PULSE_SERVER, PULSE_CLIENTCONFIG,
#                     ALSA_CONFIG_PATH, KESTRUM_PULSE_PID and KESTRUM_PULSE_MONITOR (the null
#                     sink's monitor source, for parec). Returns 1, after printing the
#                     daemon's log, when it cannot start: callers fail, they do not skip.
#                     A client of its own plays silence into the sink all along (see below).
#   pulse_stop        stops the daemon (if still running) and waits for it.
#   pulse_kill        kills it at once (SIGKILL): the sound server vanishes mid-stream.
#   pulse_no_server DIR
#                     the opposite: ALSA's default is the sound server, and no server is
#                     there (PULSE_SERVER names a socket nobody listens on).
#
# Works as root without a user session: --system=no keeps it a per-user daemon, --disallow-exit
# and --exit-idle-time=-1 keep it up between clients, no D-Bus, no shared memory, no realtime.

KESTRUM_PULSE_SINK=kestrum_null

_pulse_alsa_config() {  # DIR: the ALSA configuration that sends "default" to PulseAudio
  cat > "$1/asound.conf" <<'CONF'
pcm.!default { type pulse }
ctl.!default { type pulse }
CONF
  printf 'autospawn = no\n' > "$1/client.conf"
  export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$1/asound.conf"
  export PULSE_CLIENTCONFIG="$1/client.conf"
}

_pulse_wait_low_latency() {  # until the sink's latency is below 100 ms, at most 5 s
  local j usec
  for j in $(seq 1 50); do
    usec=$(pactl list sinks 2>/dev/null | sed -n 's/^[[:space:]]*Latency: \([0-9]*\) usec.*/\1/p' | head -1)
    [ -n "$usec" ] && [ "$usec" -lt 100000 ] && return 0
    sleep 0.1
  done
  echo "pulse: the sink's latency stays at ${usec:-?} usec" >&2
}

pulse_start() {
  local dir=$1
  mkdir -p "$dir/runtime" "$dir/home"
  chmod 700 "$dir/runtime"
  export XDG_RUNTIME_DIR="$dir/runtime"
  export PULSE_SERVER="unix:$dir/native"
  _pulse_alsa_config "$dir"
  if ! command -v pulseaudio >/dev/null; then
    echo "pulse: pulseaudio is not installed (scripts/setup.sh installs it)" >&2
    return 1
  fi
  HOME="$dir/home" pulseaudio -n --daemonize=no --system=no --disallow-exit --exit-idle-time=-1 \
    --realtime=no --high-priority=no --disable-shm=yes --use-pid-file=no --log-target=stderr \
    -L "module-null-sink sink_name=$KESTRUM_PULSE_SINK rate=48000 format=float32le channels=2" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
    >"$dir/pulse.log" 2>&1 &
  KESTRUM_PULSE_PID=$!
  export KESTRUM_PULSE_PID
  export KESTRUM_PULSE_MONITOR="$KESTRUM_PULSE_SINK.monitor"
  local i
  for i in $(seq 1 100); do
    if ! kill -0 "$KESTRUM_PULSE_PID" 2>/dev/null; then break; fi
    if pactl info >/dev/null 2>&1; then
      pactl set-default-sink "$KESTRUM_PULSE_SINK" >/dev/null 2>&1
      # A null sink without clients renders 2 s ahead of time, and a stream that connects
      # then waits out that block before it is heard. A real device's sink follows its
      # clients; a client that plays silence at low latency all along makes this one do so.
      pacat --latency-msec=10 --raw --format=float32le --rate=48000 --channels=2 /dev/zero \
        >/dev/null 2>&1 &
      KESTRUM_PULSE_KEEPER_PID=$!
      _pulse_wait_low_latency
      return 0
    fi
    sleep 0.1
  done
  echo "pulse: the daemon did not start; its log:" >&2
  cat "$dir/pulse.log" >&2
  pulse_stop
  return 1
}

_pulse_stop_keeper() {
  if [ -n "${KESTRUM_PULSE_KEEPER_PID:-}" ]; then
    kill "$KESTRUM_PULSE_KEEPER_PID" 2>/dev/null
    wait "$KESTRUM_PULSE_KEEPER_PID" 2>/dev/null
    KESTRUM_PULSE_KEEPER_PID=
  fi
}

pulse_stop() {
  _pulse_stop_keeper
  if [ -n "${KESTRUM_PULSE_PID:-}" ]; then
    kill "$KESTRUM_PULSE_PID" 2>/dev/null
    wait "$KESTRUM_PULSE_PID" 2>/dev/null
    KESTRUM_PULSE_PID=
  fi
  return 0
}

pulse_kill() {
  if [ -n "${KESTRUM_PULSE_PID:-}" ]; then
    kill -KILL "$KESTRUM_PULSE_PID" 2>/dev/null
    wait "$KESTRUM_PULSE_PID" 2>/dev/null
    KESTRUM_PULSE_PID=
  fi
  _pulse_stop_keeper
  return 0
}

pulse_no_server() {
  local dir=$1
  mkdir -p "$dir/runtime"
  chmod 700 "$dir/runtime"
  export XDG_RUNTIME_DIR="$dir/runtime"
  export PULSE_SERVER="unix:$dir/nobody-listens"
  _pulse_alsa_config "$dir"
}
