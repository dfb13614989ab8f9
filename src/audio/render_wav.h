// Offline render: a fixed number of seconds of the scanner into a 16-bit mono 48 kHz WAV
// file, as fast as the engine runs, on the calling thread, with a private engine that takes
// its parameters from a source engine. With KESTRUM_TRACE defined, a CSV trace of the sweep
// is written beside it (the WAV path + ".csv"), one line per block of 1024 samples.
//
// A render writes the same files that opening its path for writing would, and fails where
// that would fail, before anything is rendered. Symbolic links are followed: the file they
// lead to gets the render (a dangling link's target is created) and the links stay links.
// Where it keeps that promise, the file appears only when the render has been written
// completely: it is written to a temporary file beside the file the path names
// (".<name>.<tag>.part", or ".kestrum-<tag>" where that would be too long a name) and renamed
// over it at the end, so a failed render (a full disk, a quota) leaves whatever was there
// before. A file that replaces another takes its owner, group and permission bits. Where a
// rename would end differently than writing the file, the file is written in place: a file
// with several names (hard links), one whose owner or group cannot be given to a new file,
// one in a folder that may not be written, or owned by someone else in a sticky folder, and
// anything that is not a regular file (a device such as /dev/full, a FIFO). The trace is
// written only to a regular file or a new one. An interrupted render leaves no temporary file
// either: while it runs, SIGINT, SIGTERM and SIGHUP (those still at their default action)
// remove the temporary files and then end the process as they would have, so the exit
// status still names the signal; the earlier dispositions are restored when it returns. The
// loop reuses two block buffers; clip decoding aside, it allocates nothing per block.
#pragma once

#include <cstdint>
#include <string>

class Engine;

// Called after every block with the samples rendered so far and the total.
using RenderProgress = void (*)(int64_t done, int64_t total, void* ctx);

// True when the whole file was written and is in place at path; false when it could not be
// opened (then before any rendering) or written. seconds: 1..600 (callers clamp).
bool renderWav(const std::wstring& path, int seconds, const Engine& source,
               RenderProgress progress = nullptr, void* progressCtx = nullptr);

// One engine sample to 16 bits: above 1.0 gives 32767, otherwise max(-1, s) * 32767 rounded
// to nearest, ties to even; so the extremes are +32767 and -32767, never -32768.
int16_t sampleToPcm16(float s);

// The 44-byte header of a mono 16-bit 48 kHz file holding dataBytes of samples.
void wavHeader(unsigned char out[44], uint32_t dataBytes);
