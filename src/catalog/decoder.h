// The clip decoder: cuts one normalised, faded 48 kHz mono clip out of a station's recording.
//
// Any thread may call decodeStation, several at once: the MP3 decoder state, the window and
// the two sample buffers (about 12.6 MB) are per thread, sized on a thread's first call or by
// prepareDecoderThread, and kept until the thread ends. It reads files and allocates the
// clip, so it never runs inside the audio callback except at the start of a run.
#pragma once

#include <vector>

#include "catalog/station.h"

// Clip of 4800..1440000 samples into out (true), or false with out untouched.
// pos: seconds into the recording (reduced modulo dur). Writes decode log lines.
bool decodeStation(const Station& station, double pos, std::vector<float>& out);

// Sizes this thread's decoder buffers and touches their pages, so that its first
// decodeStation costs no more than later ones. The audio thread calls it before it serves,
// since the start of every run decodes a clip there.
void prepareDecoderThread();

// The same clip, log lines and result, with the six windows decoded on two threads (the
// caller's and a helper started for the call); for offline renders, which have both cores
// to themselves. The calling thread keeps six windows' sample buffers (about 35 MB).
bool decodeStationOnTwoThreads(const Station& station, double pos, std::vector<float>& out);
