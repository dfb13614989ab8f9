// The program's one sample rate: every clip, the engine's output, the WAV files and the
// device stream run at it. A constant; any thread.
#pragma once

constexpr int kSampleRateHz = 48000;  // samples per second, mono
