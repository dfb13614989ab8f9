// Offline render: a fixed number of seconds of the scanner into a 16-bit mono 48 kHz WAV
// file, as fast as the engine runs, on the calling thread, with a private engine that takes
// its parameters from a source engine. With KESTRUM_TRACE defined, a CSV trace of the sweep
// is written beside it (the WAV path + ".csv").
#pragma once

#include <string>

class Engine;

// True when the whole file was written and is in place at path; false when it could not be
// created or written (then the path holds whatever it held before).
bool renderWav(const std::wstring& path, int seconds, const Engine& source);

// One engine sample to 16 bits: above 1.0 gives 32767, otherwise max(-1, s) * 32767 rounded
// to nearest, ties to even.
short sampleToPcm16(float s);
