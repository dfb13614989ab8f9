#!/usr/bin/env bash
# Makes the MP3 recordings the catalogue tests decode, into tests/catalog/fixtures/.
# Run once; the results are committed. Needs python3 (for the test signals) and lame
# (apt-get install -y lame). Silent and garbage recordings are made by the tests themselves.
#
#   square_mono22k.mp3   22050 Hz mono, 96 kbit/s CBR, 20 s: a square wave near full scale
#                        (loud: the gain clamps at 0.2); shorter than 1 MiB and than 30 s of clip
#   quiet_stereo48k.mp3  48000 Hz stereo, 128 kbit/s CBR, 18 s: different quiet sines left and
#                        right (the gain clamps at 8); at 48 kHz the clip is the decoded signal
#   rising_stereo44k.mp3 44100 Hz stereo, 128 kbit/s CBR, 70 s (over 1 MiB): sines rising in
#                        level through the file, with a loud 5 ms burst every second (the peak
#                        limiter engages); later windows are louder, so each attempt wins in turn
#   faint_mono8k.mp3     8000 Hz mono, 16 kbit/s CBR, 105 s: a sine far below the loudness at
#                        which a clip is worth playing (and the lowest rate a window may have)
set -euo pipefail
cd "$(dirname "$0")/.."
out=tests/catalog/fixtures
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

python3 - "$tmp" <<'EOF'
import math, struct, sys, wave

def write(path, rate, channels, seconds, sample):
    frames = bytearray()
    for n in range(int(rate * seconds)):
        t = n / rate
        for c in range(channels):
            v = max(-1.0, min(1.0, sample(t, c)))
            frames += struct.pack('<h', int(round(v * 32767)))
    with wave.open(path, 'wb') as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))

d = sys.argv[1]
write(d + '/square.wav', 22050, 1, 20.0,
      lambda t, c: 0.9 if math.sin(2 * math.pi * 220 * t) >= 0 else -0.9)
write(d + '/quiet.wav', 48000, 2, 18.0,
      lambda t, c: 0.03 * math.sin(2 * math.pi * 440 * t) if c == 0
      else 0.022 * math.sin(2 * math.pi * 660 * t))

def rising(t, c):
    level = 0.02 + 0.18 * t / 70.0
    v = level * math.sin(2 * math.pi * (330 if c == 0 else 495) * t)
    if t % 1.0 < 0.005:
        v += 0.5 * math.sin(2 * math.pi * 2000 * t)
    return v
write(d + '/rising.wav', 44100, 2, 70.0, rising)
write(d + '/faint.wav', 8000, 1, 105.0, lambda t, c: 0.006 * math.sin(2 * math.pi * 400 * t))
EOF

lame --quiet --cbr -b 96 -m m "$tmp/square.wav" "$out/square_mono22k.mp3"
lame --quiet --cbr -b 128 -m s "$tmp/quiet.wav" "$out/quiet_stereo48k.mp3"
lame --quiet --cbr -b 128 -m s "$tmp/rising.wav" "$out/rising_stereo44k.mp3"
lame --quiet --cbr -b 16 -m m "$tmp/faint.wav" "$out/faint_mono8k.mp3"
ls -l "$out"
