#!/usr/bin/env python3
"""Builds Kestrum's built-in station programme: data/stations.txt and the
recordings of the stations that ship with the program.

Every recording is synthesized from scratch: music is composed here as MIDI
and rendered by fluidsynth with the FluidR3 General MIDI soundfont (or, for
one station, made from sox's tone generators), speech is read by espeak-ng,
and sox and lame mix, level and encode. A station identification (name and
frequency) comes every 20 to 40 seconds.

All randomness flows from SEED, one generator per station, so a run on the
same Debian packages writes the same files again.

    tools/make_stations.py [--out DIR] [--only STEM ...] [--jobs N] [--keep]
"""

import argparse
import json
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import wave

SEED = 4_2024_0001
SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
WORK_RATE = 48000          # every intermediate file: 48 kHz, stereo, 16 bit
MIB = 1024 * 1024
ID_GAP_S = (21.0, 30.0)    # from one identification's start to the next
SILENCE_MAX_S = 2.0

# ---- The list ----
# (frequency, name, file stem, spoken name, programme or None). A station
# without a programme has no built-in recording: it plays only when a user
# puts its file into the radio folder.
STATIONS = [
    ("87.9", "KESTRUM ONE", "kestrumone", "Kestrum One", "pop"),
    ("88.3", "CLASSIC 88.3", "classic883", "Classic eighty eight three", "classical"),
    ("88.6", "NEWS 24", "news24", "News twenty four", "news"),
    ("89.1", "RADIO NORD", "radionord", "Radio Nord", None),
    ("89.5", "BLUE NOTE FM", "bluenote", "Blue Note F M", "jazz"),
    ("90.2", "HERITAGE FM", "heritage", "Heritage F M", None),
    ("90.9", "TALK CITY", "talkcity", "Talk City", "talk"),
    ("91.2", "METRO HITS", "metrohits", "Metro Hits", "dance"),
    ("91.8", "RADIO 91.8", "radio918", "Radio ninety one eight", None),
    ("92.4", "COUNTRY ROADS", "countryroads", "Country Roads", "country"),
    ("94.6", "ORGAN HOUR", "organhour", "The Organ Hour", "organ"),
    ("94.8", "SPORT LIVE", "sportlive", "Sport Live", "sport"),
    ("95.5", "WAVE 95.5", "wave955", "Wave ninety five five", None),
    ("96.3", "CAMPUS RADIO", "campus", "Campus Radio", None),
    ("97.1", "ROCK 97.1", "rock971", "Rock ninety seven one", "rock"),
    ("97.4", "EASY FM", "easyfm", "Easy F M", None),
    ("98.2", "BAROQUE 98.2", "baroque982", "Baroque ninety eight two", "baroque"),
    ("98.9", "RADIO LATINO", "latino", "Radio Latino", "latin"),
    ("99.6", "WEATHER LINE", "weather", "Weather Line", "weather"),
    ("100.3", "CHIPTUNE FM", "chiptune", "Chiptune F M", "chip"),
    ("100.7", "GOSPEL 100.7", "gospel1007", "Gospel one hundred seven", None),
    ("102.9", "DEEP SPACE", "deepspace", "Deep Space", "ambient"),
    ("103.3", "KIDS RADIO", "kidsradio", "Kids Radio", "kids"),
    ("103.6", "NIGHT OWL", "nightowl", "Night Owl", None),
    ("104.1", "POLKA 104", "polka104", "Polka one oh four", "polka"),
    ("104.5", "TRAFFIC INFO", "traffic", "Traffic Info", "traffic"),
    ("104.9", "RADIO MONDO", "mondo", "Radio Mondo", None),
    ("105.3", "BRASS BAND FM", "brassband", "Brass Band F M", "march"),
    ("105.8", "CITY JAZZ", "cityjazz", "City Jazz", None),
    ("106.2", "LAST CALL", "lastcall", "Last Call", None),
]

# ---- Formats and levels ----
# stem: (sample rate, channels, kbit/s, target size MiB, ID3v2 padding or
# None for no tag, target RMS dBFS, voice, speech rate wpm, pitch)
FORMATS = {
    "kestrumone":   (44100, 2, 128, 1.60, 0,    -17, "en-gb+m3", 170, 52),
    "classic883":   (48000, 2, 160, 1.90, None, -23, "en-gb-x-rp+m1", 140, 40),
    "news24":       (22050, 1, 48,  1.30, None, -18, "en-gb-x-rp", 165, 45),
    "bluenote":     (44100, 2, 112, 1.50, None, -21, "en-us+m7", 150, 35),
    "talkcity":     (32000, 1, 56,  1.35, 0,    -16, "en-us", 175, 50),
    "metrohits":    (48000, 2, 192, 2.30, None, -14, "en-us+f3", 185, 60),
    "countryroads": (32000, 2, 96,  1.45, None, -19, "en-us+m2", 150, 42),
    "organhour":    (44100, 1, 80,  1.40, None, -24, "en-gb+m6", 130, 38),
    "sportlive":    (22050, 1, 64,  1.30, None, -15, "en-gb-scotland", 200, 58),
    "rock971":      (48000, 2, 128, 1.75, 8192, -15, "en-us-nyc+m4", 175, 30),
    "baroque982":   (32000, 2, 112, 1.50, None, -22, "en-gb-x-rp+f2", 145, 55),
    "latino":       (44100, 2, 160, 2.00, None, -17, "en-029+m3", 170, 55),
    "weather":      (22050, 1, 56,  1.30, None, -20, "en-us+f2", 155, 55),
    "chiptune":     (32000, 1, 64,  1.25, None, -18, "en-gb-x-gbclan+m5", 180, 65),
    "deepspace":    (48000, 2, 96,  1.40, 0,    -25, "en-gb+m4", 125, 25),
    "kidsradio":    (22050, 2, 80,  1.35, None, -19, "en-us+f4", 150, 75),
    "polka104":     (32000, 2, 128, 1.50, None, -16, "en-gb-x-gbcwmd+m3", 175, 55),
    "traffic":      (32000, 1, 48,  1.30, None, -17, "en-gb-x-gbclan", 180, 48),
    "brassband":    (44100, 2, 192, 2.20, None, -18, "en-gb+m1", 160, 45),
}


def log(*a):
    print(*a, file=sys.stderr, flush=True)


def run(cmd, **kw):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)
    if r.returncode != 0:
        raise RuntimeError("%s failed: %s" % (cmd[0], r.stderr.decode(errors="replace")[-600:]))
    return r


SOX = ["sox", "-D", "-R", "-V1"]     # no dither, repeatable


def wav_seconds(path):
    with wave.open(path, "rb") as w:
        return w.getnframes() / w.getframerate()


def sox_stats(path):
    """RMS and peak amplitude (0..1) of a sound file, from sox's stat effect."""
    r = run(SOX + [path, "-n", "stat"])
    out = {}
    for line in r.stderr.decode().splitlines():
        if ":" in line:
            k, v = line.split(":", 1)
            out[k.strip()] = v.strip()
    peak = max(abs(float(out["Maximum amplitude"])), abs(float(out["Minimum amplitude"])))
    return float(out["RMS     amplitude"]), peak


# ---- MIDI writing ----
TPQ = 480


class Midi:
    """A format-0 MIDI file built from events placed in quarter-note beats."""

    def __init__(self):
        self.ev = []   # (tick, order, bytes); order puts note-offs before note-ons

    def _at(self, beat):
        return max(0, int(round(beat * TPQ)))

    def tempo(self, beat, bpm):
        us = int(round(60_000_000 / bpm))
        self.ev.append((self._at(beat), 0, b"\xff\x51\x03" + us.to_bytes(3, "big")))

    def program(self, beat, ch, prog):
        self.ev.append((self._at(beat), 1, bytes([0xC0 | ch, prog])))

    def cc(self, beat, ch, ctl, val):
        self.ev.append((self._at(beat), 1, bytes([0xB0 | ch, ctl, max(0, min(127, val))])))

    def note(self, ch, beat, dur, pitch, vel):
        if not 0 <= pitch <= 127 or dur <= 0:
            return
        vel = max(1, min(127, int(vel)))
        t0, t1 = self._at(beat), self._at(beat + dur)
        if t1 <= t0:
            t1 = t0 + 1
        self.ev.append((t0, 3, bytes([0x90 | ch, pitch, vel])))
        self.ev.append((t1, 2, bytes([0x80 | ch, pitch, 0])))

    def write(self, path):
        def vlq(n):
            out = [n & 0x7F]
            n >>= 7
            while n:
                out.append(0x80 | (n & 0x7F))
                n >>= 7
            return bytes(reversed(out))
        body = bytearray()
        last = 0
        for tick, _, data in sorted(self.ev, key=lambda e: (e[0], e[1])):
            body += vlq(tick - last) + data
            last = tick
        body += vlq(TPQ) + b"\xff\x2f\x00"
        with open(path, "wb") as f:
            f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, TPQ))
            f.write(b"MTrk" + struct.pack(">I", len(body)) + body)


# ---- Composition ----
SCALES = {
    "major": [0, 2, 4, 5, 7, 9, 11],
    "minor": [0, 2, 3, 5, 7, 8, 10],
    "harmonic": [0, 2, 3, 5, 7, 8, 11],
    "dorian": [0, 2, 3, 5, 7, 9, 10],
    "mixolydian": [0, 2, 4, 5, 7, 9, 10],
}

DRUM = 9
KICK, SNARE, STICK, CLAP, HAT, PEDAL, OPEN, CRASH, RIDE = 36, 38, 37, 39, 42, 44, 46, 49, 51
COWBELL, CLAVES, MARACAS, CONGA_HI, CONGA_LO, TOM_LO, TOM_MID, TAMB = 56, 75, 70, 63, 64, 45, 47, 54


class Key:
    def __init__(self, root, scale):
        self.root, self.steps = root, SCALES[scale]

    def pitch(self, deg, base):
        """Pitch of scale degree deg (0 = tonic; may be negative or above 6)
        counted from the tonic in the octave that starts at MIDI note base."""
        return base + self.root + 12 * (deg // 7) + self.steps[deg % 7]

    def chord(self, deg, base, size=3):
        return [self.pitch(deg + 2 * i, base) for i in range(size)]


def is_chord_tone(deg, chord_deg, size):
    return (deg - chord_deg) % 7 in [2 * i for i in range(size)]


def compose_melody(rng, chords, rhythms, meter, lo, hi, size):
    """Scale-degree melody over one section: chord tones on strong beats,
    steps between them, a held chord tone at each phrase end."""
    notes, prev = [], (lo + hi) // 2
    for bar, cd in enumerate(chords):
        pat = rng.choice(rhythms)
        for i, (on, du) in enumerate(pat):
            strong = on == int(on) and (int(on) % 2 == 0 or meter == 3 and on == 0)
            if strong:
                cands = [d for d in range(lo, hi + 1) if is_chord_tone(d, cd, size)]
                cands.sort(key=lambda d: abs(d - prev) + rng.random() * 2.5)
                deg = cands[0]
            else:
                deg = prev + rng.choice([-2, -1, -1, 1, 1, 2])
                deg = min(hi, max(lo, deg))
            if bar % 4 == 3 and i == len(pat) - 1:
                cands = [d for d in range(lo, hi + 1) if is_chord_tone(d, cd, size)]
                deg = min(cands, key=lambda d: abs(d - prev))
                du = meter - on
            notes.append((bar * meter + on, du, deg))
            prev = deg
    return notes


def swing(beat, amount):
    frac = beat - math.floor(beat)
    if amount and abs(frac - 0.5) < 1e-6:
        return math.floor(beat) + 0.5 + amount
    return beat


def play_bass(m, ch, pat, t, meter, key, cd, next_cd, rng, vel, base, size):
    root = key.pitch(cd, base)
    fifth = key.pitch(cd + 4, base)
    if pat == "held":
        m.note(ch, t, meter, root, vel)
    elif pat == "halves":
        for b in range(0, meter, 2):
            m.note(ch, t + b, 2, root if b == 0 else fifth, vel)
    elif pat == "quarters":
        for b in range(meter):
            m.note(ch, t + b, 0.9, root, vel - 8 * (b % 2))
    elif pat == "eighths":
        for i in range(meter * 2):
            m.note(ch, t + i * 0.5, 0.45, root + (12 if i == 7 else 0), vel - 10 * (i % 2))
    elif pat == "offbeat":
        m.note(ch, t, 0.4, root, vel)
        for b in range(meter):
            m.note(ch, t + b + 0.5, 0.4, root + 12 * (b % 2), vel - 6)
    elif pat == "rootfifth":
        for b in range(meter):
            m.note(ch, t + b, 0.8, root if b % 2 == 0 else fifth - 12, vel - 5 * (b % 2))
    elif pat == "walking":
        target = key.pitch(next_cd, base)
        line = [root, key.pitch(cd + rng.choice([2, 4]), base), key.pitch(cd + rng.choice([4, 5]), base),
                target + rng.choice([-1, 1])]
        for b in range(meter):
            m.note(ch, t + b, 0.95, line[b], vel - 4 * (b % 2))
    elif pat == "tumbao":
        m.note(ch, t, 0.4, root, vel - 12)
        m.note(ch, t + 1.5, 1.4, fifth, vel)
        m.note(ch, t + 3, 1.0, key.pitch(next_cd, base), vel)
    elif pat == "oompah":
        for b in range(meter):
            m.note(ch, t + b, 0.45, root if b % 2 == 0 else fifth - 12, vel - 4 * (b % 2))
    elif pat == "continuo":
        line = [root, key.pitch(cd + 2, base), fifth, key.pitch(cd + 2, base)]
        for b in range(meter):
            m.note(ch, t + b, 0.9, line[b % 4], vel)


def play_chords(m, ch, pat, t, meter, key, cd, rng, vel, base, size):
    notes = key.chord(cd, base, size)
    if pat == "held":
        for p in notes:
            m.note(ch, t, meter, p, vel)
    elif pat == "quarters":
        for b in range(meter):
            for p in notes:
                m.note(ch, t + b, 0.85, p, vel - 6 * (b % 2))
    elif pat == "backbeat":
        for b in range(1, meter, 2):
            for i, p in enumerate(notes + [notes[0] + 12]):
                m.note(ch, t + b + 0.02 * i, 0.4, p, vel)
    elif pat == "offbeat":
        for b in range(meter):
            for p in notes:
                m.note(ch, t + b + 0.5, 0.3, p, vel)
    elif pat == "comp":
        for on in sorted(rng.sample([0, 0.667, 1.667, 2, 2.667, 3.667], 3)):
            for p in notes:
                m.note(ch, t + on, 0.3, p, vel + rng.randint(-8, 8))
    elif pat == "montuno":
        hi = [p + 12 for p in notes]
        seq = [notes[0], hi[0], notes[1], hi[1], notes[2], hi[0], notes[1], hi[2]]
        for i, on in enumerate([0, 0.5, 1, 1.5, 2, 2.5, 3, 3.5][:meter * 2]):
            m.note(ch, t + on + (0.25 if i % 4 == 3 else 0), 0.35, seq[i], vel - 5 * (i % 2))
    elif pat == "arp16":
        seq = notes + [notes[0] + 12] + notes[::-1][1:]
        for i in range(meter * 4):
            m.note(ch, t + i * 0.25, 0.22, seq[i % len(seq)], vel - 8 * (i % 2))
    elif pat == "arp8":
        seq = notes + [notes[0] + 12, notes[1] + 12] + notes[1:][::-1]
        for i in range(meter * 2):
            m.note(ch, t + i * 0.5, 0.9, seq[i % len(seq)], vel - 4 * (i % 3))
    elif pat == "alberti":
        seq = [notes[0], notes[2], notes[1], notes[2]]
        for i in range(meter * 4):
            m.note(ch, t + i * 0.25, 0.24, seq[i % 4], vel - 6 * (i % 2))
    elif pat == "power8":
        root = notes[0]
        for i in range(meter * 2):
            for p in (root, root + 7, root + 12):
                m.note(ch, t + i * 0.5, 0.42 if i % 4 else 0.48, p, vel - 12 * (i % 2))
    elif pat == "stabs":
        for on in [0.5, 1.5, 2.25, 3.5][:meter]:
            for p in notes + [notes[0] + 12]:
                m.note(ch, t + on, 0.2, p, vel)
    elif pat == "chorale":
        # four voices, one chord per beat: bass root, upper voices close
        for b in range(meter):
            d = cd if b < meter // 2 else cd + rng.choice([0, 0, 2])
            upper = key.chord(d, base + 12, 3)
            for p in [key.pitch(cd, base - 12)] + upper:
                m.note(ch, t + b, 0.98, p, vel)


DRUM_KITS = {"standard": 0, "room": 8, "power": 16, "electronic": 24, "tr808": 25,
             "jazz": 32, "brush": 40, "orchestra": 48}

# per bar: (beat, drum note, velocity); a section's last bar gets a fill
GROOVES = {
    "pop": [(0, KICK, 100), (2, KICK, 95), (2.5, KICK, 80), (1, SNARE, 100), (3, SNARE, 100)]
           + [(i * 0.5, HAT, 70 - 15 * (i % 2)) for i in range(8)],
    "rock": [(0, KICK, 115), (0.5, KICK, 90), (2, KICK, 110), (2.5, KICK, 95), (1, SNARE, 120), (3, SNARE, 120)]
            + [(i * 0.5, HAT, 90 - 20 * (i % 2)) for i in range(8)],
    "dance": [(b, KICK, 118) for b in range(4)] + [(1, CLAP, 100), (3, CLAP, 100)]
             + [(b + 0.5, OPEN, 80) for b in range(4)] + [(i * 0.25, HAT, 50 + 20 * (i % 2 == 0)) for i in range(16)],
    "jazz": [(0, RIDE, 90), (1, RIDE, 95), (1.667, RIDE, 70), (2, RIDE, 90), (3, RIDE, 95), (3.667, RIDE, 70),
             (1, PEDAL, 70), (3, PEDAL, 70), (0, KICK, 45), (2, KICK, 40)],
    "country": [(0, KICK, 95), (2, KICK, 90), (1, STICK, 90), (3, STICK, 90)]
               + [(i * 0.5, MARACAS, 60 - 10 * (i % 2)) for i in range(8)],
    "latin": [(0, CLAVES, 100), (0.75, CLAVES, 100), (1.5, CLAVES, 100), (2.5, CLAVES, 100), (3, CLAVES, 100),
              (1, CONGA_HI, 80), (1.5, CONGA_HI, 70), (3, CONGA_LO, 85), (3.5, CONGA_LO, 85),
              (0, KICK, 70), (2.5, KICK, 60)] + [(i * 0.5, MARACAS, 55) for i in range(8)]
             + [(b, COWBELL, 60) for b in range(4)],
    "polka": [(0, KICK, 100), (1, KICK, 95), (0.5, SNARE, 85), (1.5, SNARE, 85)],
    "march": [(0, KICK, 110), (1, KICK, 100), (0, CRASH, 60)]
             + [(i * 0.25, SNARE, 95 if i % 4 == 0 else 55) for i in range(8)],
    "chip": [(0, KICK, 110), (1.5, KICK, 100), (2, KICK, 100), (1, SNARE, 100), (3, SNARE, 100)]
            + [(i * 0.5, HAT, 65) for i in range(8)],
}


def play_drums(m, groove, t, meter, fill, rng, swing_amt):
    for on, n, v in GROOVES[groove]:
        if on < meter and not (fill and on >= meter / 2 and n in (SNARE, CLAP, STICK, CLAVES)):
            m.note(DRUM, t + swing(on, swing_amt), 0.2, n, v + rng.randint(-6, 6))
    if fill:
        toms = [SNARE, SNARE, TOM_MID, TOM_LO] if groove not in ("latin", "country") else [CONGA_HI, CONGA_LO] * 2
        steps = int(meter / 2 / 0.25)
        for i in range(steps):
            m.note(DRUM, t + meter / 2 + i * 0.25, 0.2, toms[i * len(toms) // steps], 70 + 5 * i)


# style: tempo range, beats per bar, scales, progressions (degree per bar),
# chord size, swing, lead rhythms per bar, groove and kit, parts
# (role, program, base note, velocity, pattern, pan, volume)
R4 = [[(0, 1), (1, 1), (2, 1.5), (3.5, 0.5)], [(0, 0.5), (0.5, 0.5), (1, 1), (2, 2)],
      [(0, 1.5), (1.5, 0.5), (2, 1), (3, 1)], [(0, 0.5), (0.5, 0.5), (1, 0.5), (1.5, 0.5), (2, 1), (3, 1)],
      [(0, 2), (2, 1), (3, 1)]]
R4_BUSY = [[(i * 0.5, 0.5) for i in range(8)], [(0, 0.5), (0.5, 0.25), (0.75, 0.25), (1, 0.5), (1.5, 0.5), (2, 1), (3, 0.5), (3.5, 0.5)],
           [(0, 0.25), (0.25, 0.25), (0.5, 0.5), (1, 1), (2, 0.25), (2.25, 0.25), (2.5, 0.5), (3, 1)]]
R4_SLOW = [[(0, 2), (2, 2)], [(0, 3), (3, 1)], [(0, 1), (1, 1), (2, 2)], [(0, 4)]]
R3 = [[(0, 1), (1, 1), (2, 1)], [(0, 2), (2, 1)], [(0, 1.5), (1.5, 0.5), (2, 1)]]
R2 = [[(0, 0.5), (0.5, 0.5), (1, 0.5), (1.5, 0.5)], [(0, 0.75), (0.75, 0.25), (1, 1)],
      [(0, 1), (1, 0.5), (1.5, 0.5)], [(0, 0.25), (0.25, 0.25), (0.5, 0.5), (1, 0.5), (1.5, 0.5)]]
R_SWING = [[(0, 0.667), (0.667, 0.333), (1, 1), (2.667, 1.333)], [(0.667, 0.333), (1, 0.667), (1.667, 1.333), (3, 1)],
           [(0, 1.5), (1.667, 0.333), (2, 0.667), (2.667, 0.333), (3, 1)], [(0, 3), (3.667, 0.333)]]

STYLES = {
    "pop": dict(bpm=(108, 122), meter=4, scales=["major"], progs=[[0, 4, 5, 3], [0, 5, 3, 4], [5, 3, 0, 4]],
                size=3, swing=0, rhythms=R4, groove=("pop", "standard"), bars=8, form="AABA",
                parts=[("lead", 73, 72, 95, None, 64, 100), ("chords", 4, 60, 70, "quarters", 40, 90),
                       ("chords", 48, 60, 50, "held", 90, 70), ("bass", 33, 36, 100, "eighths", 64, 110)]),
    "classical": dict(bpm=(66, 80), meter=4, scales=["harmonic", "major"], progs=[[0, 3, 4, 0], [0, 5, 1, 4], [0, 3, 6, 4]],
                      size=3, swing=0, rhythms=R4_SLOW + R4[:2], groove=None, bars=8, form="ABAB",
                      parts=[("lead", 40, 72, 90, None, 50, 110), ("chords", 48, 60, 65, "held", 70, 100),
                             ("lead2", 60, 60, 70, None, 80, 80), ("bass", 42, 36, 85, "halves", 60, 100)]),
    "jazz": dict(bpm=(132, 160), meter=4, scales=["dorian", "major"], progs=[[1, 4, 0, 0], [1, 4, 0, 5], [0, 5, 1, 4]],
                 size=4, swing=0.167, rhythms=R_SWING, groove=("jazz", "jazz"), bars=8, form="AABA",
                 parts=[("lead", 66, 60, 95, None, 70, 105), ("chords", 0, 60, 70, "comp", 40, 90),
                        ("bass", 32, 36, 105, "walking", 64, 115)]),
    "dance": dict(bpm=(124, 130), meter=4, scales=["minor"], progs=[[0, 5, 2, 6], [0, 0, 5, 6], [5, 3, 0, 4]],
                  size=3, swing=0, rhythms=R4_BUSY, groove=("dance", "tr808"), bars=8, form="AABB",
                  parts=[("lead", 54, 72, 85, None, 64, 95), ("chords", 17, 60, 80, "stabs", 40, 90),
                         ("chords", 39, 72, 50, "arp16", 90, 70), ("bass", 38, 36, 110, "offbeat", 64, 115)]),
    "country": dict(bpm=(96, 112), meter=4, scales=["major"], progs=[[0, 3, 4, 0], [0, 0, 3, 4], [0, 4, 3, 0]],
                    size=3, swing=0.08, rhythms=R4, groove=("country", "brush"), bars=8, form="AABA",
                    parts=[("lead", 110, 72, 95, None, 80, 105), ("chords", 25, 48, 85, "backbeat", 40, 95),
                           ("chords", 105, 60, 55, "arp16", 100, 70), ("bass", 32, 36, 100, "rootfifth", 64, 110)]),
    "organ": dict(bpm=(58, 70), meter=4, scales=["major"], progs=[[0, 3, 4, 0], [0, 5, 3, 4], [3, 0, 4, 0]],
                  size=3, swing=0, rhythms=R4_SLOW, groove=None, bars=8, form="AABA",
                  parts=[("lead", 19, 72, 90, None, 64, 100), ("chords", 19, 48, 75, "chorale", 64, 100)]),
    "rock": dict(bpm=(128, 144), meter=4, scales=["minor", "dorian"], progs=[[0, 5, 6, 0], [0, 3, 5, 4], [0, 6, 5, 6]],
                 size=3, swing=0, rhythms=R4 + R4_BUSY[:1], groove=("rock", "power"), bars=8, form="AABA",
                 parts=[("lead", 29, 72, 100, None, 70, 100), ("chords", 30, 40, 95, "power8", 40, 100),
                        ("bass", 34, 28, 110, "eighths", 64, 115)]),
    "baroque": dict(bpm=(88, 100), meter=4, scales=["major", "harmonic"], progs=[[0, 4, 5, 2], [3, 0, 3, 4], [0, 3, 4, 0]],
                    size=3, swing=0, rhythms=R4_BUSY + R4[:2], groove=None, bars=8, form="AABB",
                    parts=[("lead", 74, 72, 85, None, 80, 100), ("chords", 6, 60, 80, "alberti", 40, 105),
                           ("bass", 6, 36, 85, "continuo", 50, 105)]),
    "latin": dict(bpm=(98, 110), meter=4, scales=["minor", "major"], progs=[[0, 3, 4, 4], [0, 4, 0, 3], [5, 1, 4, 0]],
                  size=3, swing=0, rhythms=R4 + R4_BUSY[1:2], groove=("latin", "standard"), bars=8, form="ABAB",
                  parts=[("lead", 56, 72, 100, None, 70, 105), ("lead2", 12, 72, 80, None, 30, 90),
                         ("chords", 0, 60, 75, "montuno", 50, 95), ("bass", 32, 36, 105, "tumbao", 64, 115)]),
    "chip": dict(bpm=(146, 160), meter=4, scales=["major", "minor"], progs=[[0, 5, 3, 4], [0, 3, 0, 4], [5, 3, 4, 0]],
                 size=3, swing=0, rhythms=R4_BUSY, groove=("chip", "electronic"), bars=8, form="AABA", left_only=True,
                 parts=[("lead", 80, 72, 95, None, 64, 100), ("chords", 80, 60, 65, "arp16", 64, 80),
                        ("bass", 80, 36, 95, "eighths", 64, 100)]),
    "kids": dict(bpm=(84, 96), meter=3, scales=["major"], progs=[[0, 3, 4, 0], [0, 4, 0, 4], [0, 3, 0, 4]],
                 size=3, swing=0, rhythms=R3, groove=None, bars=8, form="AABA",
                 parts=[("lead", 10, 72, 95, None, 64, 110), ("chords", 8, 60, 60, "arp8", 40, 90),
                        ("bass", 32, 36, 80, "held", 64, 90)]),
    "polka": dict(bpm=(116, 128), meter=2, scales=["major"], progs=[[0, 4, 4, 0], [0, 0, 4, 0], [3, 0, 4, 0]],
                  size=3, swing=0, rhythms=R2, groove=("polka", "standard"), bars=8, form="AABB",
                  parts=[("lead", 71, 72, 95, None, 70, 100), ("chords", 21, 60, 80, "offbeat", 40, 100),
                         ("bass", 58, 36, 105, "oompah", 64, 115)]),
    "march": dict(bpm=(112, 120), meter=2, scales=["major"], progs=[[0, 4, 4, 0], [0, 3, 4, 0], [0, 0, 4, 4]],
                  size=3, swing=0, rhythms=R2, groove=("march", "orchestra"), bars=8, form="AABA",
                  parts=[("lead", 56, 72, 105, None, 60, 110), ("chords", 61, 60, 80, "offbeat", 70, 100),
                         ("bass", 58, 36, 105, "oompah", 64, 115)]),
}


def compose(style_name, rng, seconds, path):
    """Writes a MIDI file of consecutive songs in one style, at least
    `seconds` long. Returns the song boundaries in seconds."""
    st = STYLES[style_name]
    m = Midi()
    meter = st["meter"]
    t_beats, t_sec, bounds = 0.0, 0.0, []
    chan_of = {}
    parts = st["parts"]
    for i, p in enumerate(parts):
        ch = i if i < 9 else i + 1
        chan_of[i] = ch
        m.program(0, ch, p[1])
        m.cc(0, ch, 10, p[5])
        m.cc(0, ch, 7, p[6])
        m.cc(0, ch, 91, 50)
    if st["groove"]:
        m.program(0, DRUM, DRUM_KITS[st["groove"][1]])
        m.cc(0, DRUM, 7, 100)
        m.cc(0, DRUM, 91, 40)
    while t_sec < seconds:
        bpm = rng.randint(*st["bpm"])
        key = Key(rng.randint(0, 11) - 5 if style_name != "organ" else rng.randint(-3, 4), rng.choice(st["scales"]))
        m.tempo(t_beats, bpm)
        sections = {}
        for sec in "AB":
            prog = rng.choice(st["progs"])
            chords = (prog * (st["bars"] // len(prog) + 1))[:st["bars"]]
            if sec == "B":
                chords = chords[2:] + chords[:2]
            mel = compose_melody(rng, chords, st["rhythms"], meter, 0, 9, st["size"])
            mel2 = compose_melody(rng, chords, R4_SLOW if meter == 4 else st["rhythms"], meter, -3, 4, st["size"])
            sections[sec] = (chords, mel, mel2)
        for n_sec, sec in enumerate(st["form"]):
            chords, mel, mel2 = sections[sec]
            for i, p in enumerate(parts):
                role, _, base, vel, pat = p[:5]
                ch = chan_of[i]
                if role in ("lead", "lead2"):
                    if role == "lead2" and style_name == "latin" and sec == "A":
                        continue
                    for on, du, deg in (mel if role == "lead" else mel2):
                        on2 = swing(on, st["swing"])
                        m.note(ch, t_beats + on2, du * 0.95, key.pitch(deg, base), vel + rng.randint(-8, 6))
                else:
                    for bar, cd in enumerate(chords):
                        nxt = chords[(bar + 1) % len(chords)]
                        tb = t_beats + bar * meter
                        if role == "bass":
                            play_bass(m, ch, pat, tb, meter, key, cd, nxt, rng, vel, base, st["size"])
                        else:
                            play_chords(m, ch, pat, tb, meter, key, cd, rng, vel, base, st["size"])
            if st["groove"]:
                for bar in range(len(chords)):
                    play_drums(m, st["groove"][0], t_beats + bar * meter, meter,
                               bar == len(chords) - 1, rng, st["swing"])
                m.note(DRUM, t_beats, 0.5, CRASH, 90 if n_sec == 0 else 70)
            t_beats += len(chords) * meter
            t_sec += len(chords) * meter * 60.0 / bpm
        # end of the song: a held final chord of one bar
        for i, p in enumerate(parts):
            if p[0] in ("chords", "lead"):
                for q in key.chord(0, p[2], 3):
                    m.note(chan_of[i], t_beats, meter * 0.9, q, p[3] - 10)
            elif p[0] == "bass":
                m.note(chan_of[i], t_beats, meter * 0.9, key.pitch(0, p[2]), p[3])
        t_beats += meter
        t_sec += meter * 60.0 / bpm
        bounds.append(t_sec)
    m.write(path)
    return bounds


def render_midi(mid, wav, left_only=False):
    """Renders a MIDI file at the work rate, peak-normalised to -3 dBFS.
    The soundfont's synth patches are stereo pairs in opposite phase, which
    cancel when a mono radio adds the channels: left_only keeps one side."""
    raw = wav + ".raw.wav"
    run(["fluidsynth", "-ni", "-q", "-g", "0.5", "-r", str(WORK_RATE), "-F", raw, SOUNDFONT, mid])
    run(SOX + [raw, wav] + (["remix", "1", "1"] if left_only else []) + ["gain", "-n", "-3"])
    os.remove(raw)


def sox_ambient(rng, seconds, path, tmp):
    """Slow drifting drones from sox's tone generators: one chord every eight
    to twelve seconds, cross-faded, with a sonar ping now and then."""
    roots = [220.0, 246.9, 261.6, 293.7, 196.0, 233.1]   # inside a small radio's pass band
    chords = [[1, 1.5, 2, 3], [1, 1.2, 1.5, 2.4], [1, 1.333, 2, 2.667], [1, 1.25, 1.5, 1.875]]
    parts, total = [], 0.0
    k = 0
    while total < seconds + 2:
        d = rng.uniform(8, 12)
        root = rng.choice(roots)
        ratios = rng.choice(chords)
        tones = []
        for j, r in enumerate(ratios):
            f = root * r
            kind = ["sine", "triangle", "sine", "sawtooth"][j]
            tones += [kind, "%.2f:%.2f" % (f, f * rng.choice([1.0, 1.003, 0.997]))]
        out = os.path.join(tmp, "amb%03d.wav" % k)
        trem = "%.2f" % rng.uniform(0.15, 0.5)
        # synth makes one channel per tone; remix sums them into one
        run(SOX + ["-r", str(WORK_RATE), "-c", str(len(ratios)), "-n", "-b", "16", out, "synth", "%.3f" % (d + 1.5)]
            + tones + ["remix", "1-%d" % len(ratios), "tremolo", trem, "40", "chorus", "0.6", "0.8", "55", "0.4", "0.25", "2", "-t", "remix", "1", "1",
               "lowpass", "2500", "reverb", "70", "vol", "0.7", "fade", "q", "1.5", "%.3f" % (d + 1.5), "1.5"])
        parts.append(out)
        total += d
        k += 1
    # successive chords overlap by 1.5 s
    joined = os.path.join(tmp, "amb_all.wav")
    run(SOX + [parts[0], joined])
    for p in parts[1:]:
        nxt = joined + ".n.wav"
        run(SOX + [joined, p, nxt, "splice", "-q", "%.3f,0.75" % wav_seconds(joined)])
        os.replace(nxt, joined)
    # pings
    ping = os.path.join(tmp, "ping.wav")
    run(SOX + ["-n", "-r", str(WORK_RATE), "-c", "2", "-b", "16", ping, "synth", "0.4", "sine", "1320",
               "fade", "l", "0", "0.4", "0.38", "vol", "0.6", "echo", "0.8", "0.7", "300", "0.5", "650", "0.3", "pad", "0", "1.5"])
    dur = wav_seconds(joined)
    mix = [joined]
    t = rng.uniform(3, 6)
    k = 0
    while t < dur - 3:
        pp = os.path.join(tmp, "ping%02d.wav" % k)
        run(SOX + [ping, pp, "pad", "%.3f" % t])
        mix.append(pp)
        t += rng.uniform(9, 16)
        k += 1
    # -m would scale every input by 1/n; the pings never overlap, so keep unity gain
    run(SOX + ["-m"] + [a for f in mix for a in ("-v", "1", f)] + [path, "trim", "0", "%.3f" % dur])


# ---- Speech ----
class Voice:
    def __init__(self, name, wpm, pitch, tmp):
        self.name, self.wpm, self.pitch, self.tmp = name, wpm, pitch, tmp
        self.n = 0

    def say(self, text, gain_db=0.0, name=None):
        """Speaks text into a work-rate stereo wav; returns (path, seconds)."""
        self.n += 1
        raw = os.path.join(self.tmp, "say%04d_raw.wav" % self.n)
        out = os.path.join(self.tmp, "say%04d.wav" % self.n)
        run(["espeak-ng", "-v", name or self.name, "-s", str(self.wpm), "-p", str(self.pitch),
             "-a", "100", "-g", "2", "-w", raw, text])
        run(SOX + [raw, "-r", str(WORK_RATE), "-c", "2", "-b", "16", out, "highpass", "90",
                   "gain", "-n", "%.1f" % (gain_db - 4.0), "rate", "-v", str(WORK_RATE), "silence", "1", "0.02", "0.3%",
                   "reverse", "silence", "1", "0.02", "0.3%", "reverse", "pad", "0.08", "0.12"])
        os.remove(raw)
        return out, wav_seconds(out)


def chime(rng, tmp, name):
    """The station's own three-note signature, plucked by sox's synth."""
    base = rng.choice([523.25, 587.33, 659.25, 698.46, 783.99, 880.0])
    ratios = rng.choice([[1, 1.25, 1.5], [1.5, 1.25, 1], [1, 1.5, 2], [2, 1.5, 1.25], [1, 1.122, 1.5]])
    tones = []
    for i, r in enumerate(ratios):
        p = os.path.join(tmp, "%s_t%d.wav" % (name, i))
        run(SOX + ["-n", "-r", str(WORK_RATE), "-c", "2", "-b", "16", p, "synth", "0.22", "pluck", "%.2f" % (base * r),
                   "vol", "0.6"])
        tones.append(p)
    out = os.path.join(tmp, name + "_chime.wav")
    run(SOX + tones + [out, "reverb", "40", "pad", "0", "0.25", "fade", "0", "-0", "0.2"])
    return out


# ---- Text ----
TOWNS = ["Aldermoor", "Brackenfield", "Castleby", "Dunmere", "Easthaven", "Fernley", "Glenwick", "Holmbridge",
         "Ivybank", "Kestrel Bay", "Lowmarsh", "Millford", "Northcote", "Oakridge", "Pennington", "Redwater"]
STREETS = ["Harbour Road", "King Street", "the Old Mill Lane", "Station Avenue", "the river bridge", "Market Square"]
NAMES = ["Mara", "Theo", "Jonas", "Priya", "Lena", "Marcus", "Ada", "Felix", "Nora", "Samir", "Ivy", "Oskar"]
MONTHS = ["March", "April", "June", "September", "October", "November"]


def news_item(r):
    town = r.choice(TOWNS)
    pick = r.randrange(8)
    n = r.randint(3, 40)
    if pick == 0:
        s = ["The council in %s has approved plans for a new tram line to the city centre." % town,
             "Work is expected to start in %s and take about %d months." % (r.choice(MONTHS), n),
             "Residents will be able to comment on the route at the town hall."]
    elif pick == 1:
        s = ["The harbour at %s has reopened after storm repairs." % town,
             "Fishing boats returned to the quay this morning for the first time in %d days." % n,
             "Harbour officials say the new sea wall is the strongest on the coast."]
    elif pick == 2:
        s = ["Scientists at the %s observatory have spotted a new comet." % town,
             "It should be visible with binoculars low in the western sky after sunset.",
             "The team say it will pass closest to the sun in %s." % r.choice(MONTHS)]
    elif pick == 3:
        s = ["The library in %s will open on Sundays from next month." % town,
             "The change follows a petition signed by more than %d hundred readers." % n]
    elif pick == 4:
        s = ["Firefighters in %s rescued a family of ducks from a storm drain overnight." % town,
             "All %d ducklings were returned safely to the pond in the park." % r.randint(5, 11)]
    elif pick == 5:
        s = ["The %s orchestra has announced a free open air concert." % town,
             "It will take place in %s on the first Saturday of %s." % (r.choice(STREETS), r.choice(MONTHS))]
    elif pick == 6:
        s = ["Traffic lights on %s in %s are being replaced this week." % (r.choice(STREETS), town),
             "Drivers are asked to allow an extra %d minutes for their journey." % r.randint(5, 20)]
    else:
        s = ["Shares on the %s exchange closed %d points %s today." % (town, n, r.choice(["higher", "lower"])),
             "Traders said the market was quiet ahead of the holiday weekend."]
    return s


def talk_lines(r):
    a, b = "A", "B"
    topic = r.randrange(6)
    street = r.choice(STREETS)
    if topic == 0:
        return [(a, "So, what do you make of the new cycle lanes on %s?" % street),
                (b, "Honestly, I think they are a good start, but they stop just where you need them most."),
                (a, "That is exactly what our listeners have been telling us all morning."),
                (b, "Let us hear from one of them. You are on the line, go ahead.")]
    if topic == 1:
        return [(b, "I went to the new bakery near %s on Saturday." % street),
                (a, "The one with the queue around the corner?"),
                (b, "That one. The rye bread alone is worth the wait, I promise you."),
                (a, "Well, I know where I am going after the show.")]
    if topic == 2:
        return [(a, "Here is a question for you. Should the city keep the parks open at night?"),
                (b, "In summer, absolutely. People want to be outside when it is cool."),
                (a, "But who pays for the lights and the wardens?"),
                (b, "Give us a call and tell us what you think.")]
    if topic == 3:
        return [(b, "%s from %s has sent us a message." % (r.choice(NAMES), r.choice(TOWNS))),
                (b, "She says the buses on the number %d route are never on time." % r.randint(2, 40)),
                (a, "We did ask the transport office, and they promised us an answer by Friday."),
                (a, "We will keep you posted, of course.")]
    if topic == 4:
        return [(a, "Time for our favourite part of the show, the question of the day."),
                (b, "Today it is this: what was the first record you ever bought?"),
                (a, "Mine was a terrible disco single, and I still know every word."),
                (b, "Do not sing it, please, we have people driving.")]
    return [(b, "The street festival on %s is coming up this weekend." % street),
            (a, "Food stalls, a brass band and a dog show, I am told."),
            (b, "And the weather looks kind, so there is no excuse."),
            (a, "We will be broadcasting live from the main stage.")]


def sport_lines(r):
    p = [r.choice(["Novak", "Adeyemi", "Larsen", "Costa", "Hughes", "Moreau", "Okafor", "Silva"]) for _ in range(3)]
    home, away = r.sample(["Aldermoor United", "Castleby Rovers", "Redwater City", "Northcote Athletic",
                           "Millford Town", "Kestrel Bay Wanderers"], 2)
    return [r.choice(["%s picks it up in midfield." % p[0], "%s wins the ball back for %s." % (p[0], home)]),
            "Lovely pass out to %s on the wing." % p[1],
            r.choice(["He cuts inside, he shoots, and it is just wide of the post!",
                      "Cross into the box, headed clear by %s." % p[2],
                      "He shoots! And the keeper makes a wonderful save!"]),
            "The crowd are on their feet here, %s against %s." % (home, away),
            r.choice(["Still goalless with %d minutes gone." % r.randint(5, 85),
                      "%s lead by %d goals to %d." % (home, r.randint(1, 3), r.randint(0, 1))]),
            r.choice(["Free kick to %s, thirty yards out." % away, "Corner kick, and %s will take it." % p[2],
                      "The referee waves play on."])]


WEATHER_REGIONS = ["the north coast", "the hills", "the river valley", "the city", "the islands", "the south"]


def weather_lines(r):
    reg = r.choice(WEATHER_REGIONS)
    cond = r.choice(["sunny spells", "light rain", "patchy fog", "heavy showers", "clear skies", "thick cloud",
                     "snow on high ground", "thunderstorms later"])
    return ["In %s, %s this %s, with highs of %d degrees." % (reg, cond, r.choice(["morning", "afternoon", "evening"]),
                                                                 r.randint(2, 28)),
            "Winds from the %s at %d kilometres an hour." % (r.choice(["north", "south west", "east", "north west"]),
                                                             r.randint(5, 60)),
            r.choice(["Overnight lows of %d degrees." % r.randint(-4, 15), "The pollen count is %s." %
                      r.choice(["low", "moderate", "high"]), "Sea state %s, visibility %s." %
                      (r.choice(["calm", "moderate", "rough"]), r.choice(["good", "poor", "moderate"]))])]


def traffic_lines(r):
    road = "the A%d" % r.randint(1, 99)
    return [r.choice(["On %s %sbound near %s, a broken down lorry is blocking one lane." %
                      (road, r.choice(["north", "south", "east", "west"]), r.choice(TOWNS)),
                      "Roadworks on %s in %s, with temporary lights in place." % (r.choice(STREETS), r.choice(TOWNS)),
                      "%s is closed between %s and %s after a collision." % (road.capitalize(), r.choice(TOWNS),
                                                                             r.choice(TOWNS))]),
            "Expect delays of around %d minutes." % r.randint(5, 45),
            r.choice(["Trains on the %s line are running normally." % r.choice(TOWNS),
                      "Ferries from %s are delayed by high winds." % r.choice(TOWNS),
                      "The park and ride at %s is nearly full." % r.choice(TOWNS)])]


COMPOSERS = ["Anton Reiss", "Clara Hollin", "Matthias Brandt", "Sofia Varga", "Pieter de Graaf", "Elena Moretti"]
FORMS = ["sonata", "serenade", "concerto", "suite", "symphony", "nocturne"]
KEYS = ["D major", "G minor", "E flat", "A minor", "C major", "F sharp minor"]


def classical_intro(r):
    return ["That was the %s movement of %s's %s in %s." % (r.choice(["first", "second", "last"]),
                                                            r.choice(COMPOSERS), r.choice(FORMS), r.choice(KEYS)),
            "Coming up next, a %s by %s, played by the %s chamber players." % (r.choice(FORMS), r.choice(COMPOSERS),
                                                                               r.choice(TOWNS))]


def organ_intro(r):
    return ["From the cathedral in %s, our next hymn is number %d." % (r.choice(TOWNS), r.randint(12, 480)),
            "%s %s, arranged for the great organ." % (r.choice(["Morning", "Evening", "Harvest", "Winter"]),
                                                      r.choice(["Light", "Song", "Prayer", "Praise"]))]


ANIMALS = ["hedgehog", "little fox", "small grey rabbit", "young owl", "tiny mouse", "brave duck"]


def story_lines(r):
    a, who = r.choice(ANIMALS), r.choice(NAMES)
    return ["Once upon a time, a %s called %s lived at the edge of the big wood." % (a, who),
            "Every morning, %s would %s." % (who, r.choice(["count the clouds", "visit the old oak tree",
                                                            "sing to the river", "look for shiny pebbles"])),
            "One day, %s found a %s under a leaf." % (who, r.choice(["golden key", "blue feather", "tiny map",
                                                                    "shiny button"])),
            "What could it be for? %s wondered, and set off to find out." % who,
            "And that is where we will stop for now, until the next song is over."]


TITLES_A = ["Summer", "Midnight", "Golden", "Electric", "Silver", "Northern", "Lonely", "Dancing", "Open"]
TITLES_B = ["Road", "Lights", "Heart", "River", "Skyline", "Morning", "Avenue", "Dreams", "Fire"]


def dj_line(r, station):
    title = "%s %s" % (r.choice(TITLES_A), r.choice(TITLES_B))
    return r.choice(["That was %s. Here is another one for you." % title,
                     "Coming up after this, %s. Stay with us." % title,
                     "You are listening to %s. Next up, %s." % (station, title)])


def ident_text(r, spoken, freq):
    words = "%s F M" % freq
    return r.choice(["You are listening to %s, on %s." % (spoken, words),
                     "This is %s. %s." % (spoken, words),
                     "%s. %s." % (spoken, words),
                     "%s, %s, all day long." % (words, spoken)])


# ---- Programme assembly ----
TALK_STYLES = {"news", "talk", "sport", "weather", "traffic"}


class MusicFeed:
    """Hands out consecutive stretches of one long rendered music track."""

    def __init__(self, wav, tmp, name):
        self.wav, self.tmp, self.name = wav, tmp, name
        self.pos, self.n = 0.0, 0
        self.len = wav_seconds(wav)

    def take(self, seconds, fade_in, fade_out):
        if self.pos + seconds > self.len:
            self.pos = 0.0
        self.n += 1
        out = os.path.join(self.tmp, "%s_m%03d.wav" % (self.name, self.n))
        run(SOX + [self.wav, out, "trim", "%.3f" % self.pos, "%.3f" % seconds,
                   "fade", "t", "%.3f" % fade_in, "%.3f" % seconds, "%.3f" % fade_out])
        self.pos += seconds
        return out, seconds


# Quiet music under the talk stations, so that the pauses between sentences are
# never dead air: tempo, key, chord change every `bars` bars of four beats, parts
# (program, base note, velocity, pattern), hi-hat sixteenths or not, mix volume.
BEDS = {
    "news": dict(bpm=100, key=(-3, "minor"), bars=2, hats=False, vol="0.22",
                 parts=[(48, 48, 55, "held"), (38, 36, 60, "pulse16")]),
    "talk": dict(bpm=84, key=(2, "major"), bars=1, hats=False, vol="0.2",
                 parts=[(4, 60, 50, "quarters"), (32, 36, 55, "held")]),
    "weather": dict(bpm=60, key=(2, "major"), bars=2, hats=False, vol="0.35",
                    parts=[(89, 48, 70, "held"), (53, 60, 45, "held")]),
    "traffic": dict(bpm=120, key=(-3, "minor"), bars=1, hats=True, vol="0.3",
                    parts=[(38, 36, 70, "pulse8")]),
}


def compose_bed(bed, rng, seconds, path):
    """Writes the bed's MIDI file, at least `seconds` long; returns its mix volume."""
    m = Midi()
    m.tempo(0, bed["bpm"])
    for ch, (prog, _, _, _) in enumerate(bed["parts"]):
        m.program(0, ch, prog)
    if bed["hats"]:
        m.program(0, DRUM, DRUM_KITS["tr808"])
    key = Key(*bed["key"])
    span = 4 * bed["bars"]
    beat = 0
    while beat * 60.0 / bed["bpm"] < seconds:
        cd = rng.choice([0, 5, 3, 4])
        for ch, (_, base, vel, pat) in enumerate(bed["parts"]):
            chord = key.chord(cd, base, 3)
            if pat == "held":
                for p in chord:
                    m.note(ch, beat, span, p, vel)
            elif pat == "quarters":
                for b in range(span):
                    for p in chord:
                        m.note(ch, beat + b, 0.9, p, vel - 6 * (b % 2))
            else:
                step = 0.25 if pat == "pulse16" else 0.5
                for i in range(int(span / step)):
                    m.note(ch, beat + i * step, step * 0.6, chord[0], vel - 10 * (i % 2))
        if bed["hats"]:
            for i in range(span * 4):
                m.note(DRUM, beat + i * 0.25, 0.1, HAT, 40 + 20 * (i % 4 == 0))
        beat += span
    m.write(path)
    return bed["vol"]


def build_programme(stem, freq, spoken, style, fmt, tmp):
    rng = random.Random("%d:%s" % (SEED, stem))
    rate, chans, kbps, size_mib, id3pad, level_db, voice, wpm, pitch = fmt
    total = size_mib * MIB * 8 / (kbps * 1000.0)
    v = Voice(voice, wpm, pitch, tmp)
    jingle = chime(rng, tmp, stem)

    feed = None
    if style not in TALK_STYLES:
        mwav = os.path.join(tmp, stem + "_music.wav")
        if style == "ambient":
            sox_ambient(rng, total + 10, mwav, tmp)
        else:
            mid = os.path.join(tmp, stem + ".mid")
            compose(style, rng, total + 10, mid)
            render_midi(mid, mwav, STYLES[style].get("left_only", False))
        feed = MusicFeed(mwav, tmp, stem)

    second_voice = {"talk": "en-gb+f3", "sport": "en-gb+m2"}.get(style)
    talk_queue = []

    def next_talk():
        """The next line of a talk station: (text, other voice or None)."""
        if not talk_queue:
            if style == "news":
                talk_queue.extend((s, None) for s in news_item(rng))
                talk_queue.append(("<sting>", None))
            elif style == "talk":
                talk_queue.extend((s, None if who == "A" else second_voice) for who, s in talk_lines(rng))
            elif style == "sport":
                lines = sport_lines(rng)
                talk_queue.extend((s, second_voice if i == 4 else None) for i, s in enumerate(lines))
            elif style == "weather":
                talk_queue.extend((s, None) for s in weather_lines(rng))
            elif style == "traffic":
                talk_queue.extend((s, None) for s in traffic_lines(rng))
                talk_queue.append(("<ding>", None))
        return talk_queue.pop(0)

    sting = None
    if style in ("news", "traffic"):
        sting = os.path.join(tmp, stem + "_sting.wav")
        if style == "news":
            run(SOX + ["-n", "-r", str(WORK_RATE), "-c", "2", "-b", "16", sting, "synth", "0.5", "square", "440:880",
                       "lowpass", "2500", "vol", "0.25", "fade", "0", "0.5", "0.2", "pad", "0.1", "0.2"])
        else:
            parts = []
            for i, f in enumerate([659.25, 523.25]):
                p = os.path.join(tmp, "ding%d.wav" % i)
                run(SOX + ["-n", "-r", str(WORK_RATE), "-c", "2", "-b", "16", p, "synth", "0.45", "sine", "%.2f" % f,
                           "fade", "l", "0.005", "0.45", "0.4", "vol", "0.4"])
                parts.append(p)
            run(SOX + parts + [sting])

    def talk_over(voice):
        """The presenter over the music, which carries on underneath at a quarter level."""
        over = os.path.join(tmp, "%s_over%03d.wav" % (stem, len(segs)))
        run(SOX + voice + [over])
        d = wav_seconds(over)
        under, _ = feed.take(d, fade_in=0.2, fade_out=0.05)
        out = over + ".mix.wav"
        run(SOX + ["-m", "-v", "1", over, "-v", "0.25", under, out])
        return out, d

    segs, idents, t = [], [], 0.0
    block = 0
    while t < total:
        # station identification: the chime and the spoken name and frequency
        idents.append(round(t, 2))
        p, d = v.say(ident_text(rng, spoken, freq), gain_db=1.0)
        voice, spoken_s = [jingle, p], wav_seconds(jingle) + d
        fill = rng.uniform(*ID_GAP_S) - spoken_s
        block += 1
        if style in TALK_STYLES:
            segs.extend(voice)
            acc = 0.0
            while acc < fill:
                text, alt = next_talk()
                if text in ("<sting>", "<ding>"):
                    segs.append(sting)
                    acc += wav_seconds(sting)
                    continue
                p, d = v.say(text, name=alt)
                segs.append(p)
                acc += d
            t += spoken_s + acc
            continue
        # music stations: now and then the presenter talks on, or tells a story
        if style == "kids" and block % 3 == 2:
            acc = 0.0
            for line in story_lines(rng):
                if acc > fill:
                    break
                p, d = v.say(line)
                voice.append(p)
                acc += d
            p, d = talk_over(voice)
            segs.append(p)
            t += d
            continue
        if block % 3 == 0 or (style == "classical" and block % 2 == 0):
            if style == "classical":
                line = rng.choice(classical_intro(rng))
            elif style == "organ":
                line = " ".join(organ_intro(rng))
            else:
                line = dj_line(rng, spoken)
            voice.append(v.say(line)[0])
        p, d = talk_over(voice)
        segs.append(p)
        p, d2 = feed.take(max(4.0, fill - (d - spoken_s)), fade_in=0.3, fade_out=0.3)
        segs.append(p)
        t += d + d2

    gaps = [b - a for a, b in zip(idents, idents[1:] + [total])]
    if not all(g <= 40.0 for g in gaps) or not all(g >= 20.0 for g in gaps[:-1]):
        raise RuntimeError("%s: identifications %.1f .. %.1f s apart" % (stem, min(gaps), max(gaps)))

    joined = os.path.join(tmp, stem + "_prog.wav")
    # sox takes the inputs on its command line; chunk to stay well inside limits
    chunk, k, pieces = 60, 0, []
    for i in range(0, len(segs), chunk):
        piece = os.path.join(tmp, "%s_piece%02d.wav" % (stem, k))
        run(SOX + segs[i:i + chunk] + [piece])
        pieces.append(piece)
        k += 1
    run(SOX + pieces + [joined])

    # beds under the talk stations
    bed = None
    if style == "sport":
        bed = os.path.join(tmp, stem + "_crowd.wav")
        run(SOX + ["-n", "-r", str(WORK_RATE), "-c", "2", "-b", "16", bed, "synth", "%.2f" % (total + 2),
                   "pinknoise", "pinknoise", "band", "-n", "900", "1400", "tremolo", "0.17", "45",
                   "tremolo", "0.05", "30", "vol", "0.5"])
        bed_vol = "0.6"
    elif style in BEDS:
        bed = os.path.join(tmp, stem + "_bed.wav")
        bed_vol = compose_bed(BEDS[style], rng, total + 8, os.path.join(tmp, stem + "_bed.mid"))
        render_midi(os.path.join(tmp, stem + "_bed.mid"), bed)
    mixed = joined
    if bed:
        mixed = os.path.join(tmp, stem + "_mixed.wav")
        run(SOX + ["-m", "-v", "1", joined, "-v", bed_vol, bed, mixed, "trim", "0", "%.3f" % wav_seconds(joined)])

    # radio-style levelling, then the station's own loudness
    shaped = os.path.join(tmp, stem + "_shaped.wav")
    run(SOX + [mixed, shaped, "trim", "0", "%.3f" % total, "compand", "0.01,0.25", "6:-60,-45,-15",
               "-6", "-90", "0.05", "fade", "t", "0.05", "%.3f" % total, "0.4"])
    rms, peak = sox_stats(shaped)
    gain = min(10 ** (level_db / 20.0) / rms, 0.97 / peak)
    final = os.path.join(tmp, stem + "_final.wav")
    run(SOX + [shaped, "-r", str(rate), "-c", str(chans), "-b", "16", final, "vol", "%.5f" % gain,
               "rate", "-v", str(rate)])

    return final, idents, total


def encode(wav, mp3, rate, chans, kbps, id3pad, name, freq):
    cmd = ["lame", "--quiet", "--cbr", "-b", str(kbps), "-q", "2", "-m", "m" if chans == 1 else "j",
           "--resample", "%g" % (rate / 1000.0)]
    if id3pad is not None:
        cmd += ["--id3v2-only", "--tt", "%s %s" % (name, freq), "--ta", name, "--tl", "Kestrum built-in stations",
                "--tc", "synthesized, CC0"]
        if id3pad:
            cmd += ["--pad-id3v2-size", str(id3pad)]
    run(cmd + [wav, mp3])


def make_station(args):
    (freq, name, stem, spoken, style), out_dir, keep = args
    t0 = time.time()
    fmt = FORMATS[stem]
    tmp = tempfile.mkdtemp(prefix="kestrum_%s_" % stem)
    try:
        final, idents, total = build_programme(stem, freq, spoken, style, fmt, tmp)
        mp3 = os.path.join(out_dir, stem + ".mp3")
        encode(final, mp3, fmt[0], fmt[1], fmt[2], fmt[4], name, freq)
        info = dict(file=stem + ".mp3", style=style, seconds=round(total, 2), bytes=os.path.getsize(mp3),
                    idents=idents, build_s=round(time.time() - t0, 1))
        return info
    finally:
        if keep:
            log("kept", tmp)
        else:
            shutil.rmtree(tmp, ignore_errors=True)


def write_list(out_dir):
    lines = ["# freq|Name|file.mp3"] + ["%s|%s|%s.mp3" % (f, n, s) for f, n, s, _, _ in STATIONS]
    with open(os.path.join(out_dir, "stations.txt"), "wb") as f:
        f.write("\n".join(lines).encode("ascii"))


# ---- Checking the committed data ----
L3_KBPS = {1: [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
           2: [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160]}
L3_RATES = {1: [44100, 48000, 32000], 2: [22050, 24000, 16000]}
MODES = ["stereo", "joint", "dual", "mono"]


def scan_frames(data):
    """Walks the MPEG-1/2 layer III frames of a file. Returns the ID3v2 tag
    size, the set of (rate, kbit/s, mode) seen, the frame count and the
    length in seconds; raises if the frames do not run up to the end."""
    pos = tag = 0
    if data[:3] == b"ID3":
        tag = 10 + (data[6] << 21 | data[7] << 14 | data[8] << 7 | data[9])
        pos = tag
    kinds, frames, seconds = set(), 0, 0.0
    while pos + 4 <= len(data):
        h = int.from_bytes(data[pos:pos + 4], "big")
        if h >> 21 != 0x7FF or (h >> 17) & 3 != 1:
            raise ValueError("no layer III frame at byte %d" % pos)
        ver = 1 if (h >> 19) & 3 == 3 else 2
        if (h >> 19) & 3 == 0:
            raise ValueError("MPEG 2.5 frame at byte %d" % pos)
        kbps = L3_KBPS[ver][(h >> 12) & 15]
        rate = L3_RATES[ver][(h >> 10) & 3]
        length = (144 if ver == 1 else 72) * kbps * 1000 // rate + ((h >> 9) & 1)
        kinds.add((rate, kbps, MODES[(h >> 6) & 3]))
        frames += 1
        seconds += (1152 if ver == 1 else 576) / rate
        pos += length
    if pos != len(data):
        raise ValueError("last frame cut short")
    return tag, kinds, frames, seconds


def longest_quiet_s(mp3, floor_db=-50.0, win_s=0.05):
    """Longest stretch whose 50 ms windows all stay below floor_db RMS."""
    raw = run(SOX + [mp3, "-t", "s16", "-r", "8000", "-c", "1", "-"]).stdout
    import array
    pcm = array.array("h", raw)
    if sys.byteorder == "big":
        pcm.byteswap()
    n = int(8000 * win_s)
    floor = (10 ** (floor_db / 20.0) * 32768) ** 2 * n
    run_len = best = 0
    for i in range(0, len(pcm) - n + 1, n):
        quiet = sum(x * x for x in pcm[i:i + n]) < floor
        run_len = run_len + 1 if quiet else 0
        best = max(best, run_len)
    return best * win_s


def check_data(out):
    problems = []
    with open(os.path.join(out, "stations.txt"), "rb") as f:
        text = f.read()
    expect = "\n".join(["# freq|Name|file.mp3"] + ["%s|%s|%s.mp3" % (f, n, s) for f, n, s, _, _ in STATIONS])
    if text != expect.encode("ascii"):
        problems.append("stations.txt differs from the list in this tool")
    sizes, levels = 0, {}
    log("%-18s %6s %2s %4s %9s %6s %5s %7s %6s" % ("file", "rate", "ch", "kbps", "bytes", "id3", "sec", "rms dB",
                                                      "quiet"))
    for freq, name, stem, _, style in STATIONS:
        path = os.path.join(out, stem + ".mp3")
        if not style:
            if os.path.exists(path):
                problems.append("%s should not be built in" % stem)
            continue
        rate, chans, kbps, _, id3pad = FORMATS[stem][:5]
        with open(path, "rb") as f:
            data = f.read()
        tag, kinds, frames, seconds = scan_frames(data)
        want = (rate, kbps, "mono" if chans == 1 else "joint")
        if kinds != {want}:
            problems.append("%s: frames %s, expected only %s" % (stem, sorted(kinds), want))
        if (tag > 0) != (id3pad is not None):
            problems.append("%s: ID3v2 tag of %d bytes" % (stem, tag))
        if not 1.2 * MIB <= len(data) <= 2.5 * MIB:
            problems.append("%s: %d bytes" % (stem, len(data)))
        sizes += len(data)
        rms, _ = sox_stats(path)
        levels[stem] = 20 * math.log10(rms)
        quiet = longest_quiet_s(path)
        if quiet > SILENCE_MAX_S:
            problems.append("%s: %.2f s of silence" % (stem, quiet))
        log("%-18s %6d %2d %4d %9d %6d %5.1f %7.1f %6.2f" % (stem + ".mp3", rate, chans, kbps, len(data), tag,
                                                              seconds, levels[stem], quiet))
    spread = max(levels.values()) - min(levels.values())
    log("total %d bytes (%.2f MiB), levels %.1f .. %.1f dBFS" % (sizes, sizes / MIB, min(levels.values()),
                                                               max(levels.values())))
    if sizes >= 32 * MIB:
        problems.append("all recordings together take %d bytes" % sizes)
    if spread > 12.0 or min(levels.values()) < -30.0:
        problems.append("levels spread over %.1f dB" % spread)
    for p in problems:
        log("PROBLEM:", p)
    return not problems


def check_plan():
    freqs = [float(s[0]) for s in STATIONS]
    assert len(STATIONS) == 30 and freqs == sorted(set(freqs)) and freqs[0] == 87.9 and freqs[-1] == 106.2
    built = [s for s in STATIONS if s[4]]
    assert len(built) == 19 and set(FORMATS) == {s[2] for s in built}
    total = sum(f[3] for f in FORMATS.values())
    assert all(1.25 <= f[3] <= 2.4 for f in FORMATS.values()) and total < 31.0, total
    assert {f[0] for f in FORMATS.values()} == {22050, 32000, 44100, 48000}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data"))
    ap.add_argument("--only", nargs="*", help="file stems to rebuild (default: all)")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    ap.add_argument("--keep", action="store_true", help="keep the work folders")
    ap.add_argument("--check", action="store_true", help="only check the files in --out")
    a = ap.parse_args()
    check_plan()
    if a.check:
        sys.exit(0 if check_data(os.path.abspath(a.out)) else 1)
    for tool in ("sox", "lame", "espeak-ng", "fluidsynth"):
        if not shutil.which(tool):
            sys.exit("missing %s: apt-get install sox libsox-fmt-mp3 lame espeak-ng fluidsynth fluid-soundfont-gm" % tool)
    if not os.path.exists(SOUNDFONT):
        sys.exit("missing %s: apt-get install fluid-soundfont-gm" % SOUNDFONT)
    out = os.path.abspath(a.out)
    os.makedirs(out, exist_ok=True)
    t0 = time.time()
    write_list(out)
    todo = [s for s in STATIONS if s[4] and (not a.only or s[2] in a.only)]
    jobs = [(s, out, a.keep) for s in todo]
    if a.jobs > 1 and len(jobs) > 1:
        import multiprocessing
        with multiprocessing.Pool(a.jobs) as pool:
            infos = pool.map(make_station, jobs, chunksize=1)
    else:
        infos = [make_station(j) for j in jobs]
    for i in infos:
        log("%-18s %-9s %6.1f s %8d bytes  built in %.1f s" % (i["file"], i["style"], i["seconds"], i["bytes"],
                                                              i["build_s"]))
    with open(os.path.join(tempfile.gettempdir(), "kestrum_stations_timeline.json"), "w") as f:
        json.dump(infos, f, indent=1)
    log("built in %.0f s" % (time.time() - t0))
    if not a.only and not check_data(out):
        sys.exit(1)


if __name__ == "__main__":
    main()
