// The audio device: one output stream on the default device in the program's fixed format
// (48000 Hz, 2 channels, 32-bit float, interleaved; 8 bytes a frame), a buffer of about
// 200 ms, and an event that the device signals when it wants data and that another thread
// may also set to wake the stream's thread.
//
// Backends, chosen at run time before the first open: ALSA (audioUseAlsa, the program and
// the live tests; the "default" PCM, which reaches the sound server or the hardware through
// the plug layer, which converts and resamples when the device wants another format) and a
// fake device that tests drive (audioUseFake, platform/audio_fake.h); on Windows, Core Audio
// (audioUseCoreAudio: the default render endpoint in shared, event-driven mode; the audio
// engine converts and resamples). A stream keeps the backend it was opened with.
//
// Threads: a stream belongs to the thread that opened it (the audio thread); only
// audioEventSet may be called from any other thread, on an event that is still open. The
// backend choice and the error log are set on the main thread before any stream exists.
//
// Allocation: open and event creation allocate; wait, padding, space, release, start, stop
// and recover do not.
//
// ---- Result codes ----
// Every operation returns a 32-bit result: 0 (kAudioOk) or another non-negative value on
// success, a negative code on failure. A failure code is 0xA0SSEEEE: SS is the step that
// failed (the table below) and EEEE the system's error number (errno, e.g. 0x0002 ENOENT,
// 0x0013 ENODEV, 0x0020 EPIPE, 0x004D EBADFD, 0x0056 ESTRPIPE), 0 when none applies. So
// "Audio device init failed (0xA0010002)." reads: opening the default device, no such
// device. kAudioFail (0xA0000000) is the unspecified failure: no step has reported yet.
//
//   SS    step
//   0x01  open the "default" output
//   0x02  hardware parameters: read the device's configuration space
//   0x03  interleaved access
//   0x04  32-bit float samples
//   0x05  2 channels
//   0x06  48000 Hz
//   0x07  200 ms buffer
//   0x08  wake-up period
//   0x09  apply the hardware parameters
//   0x0A  software parameters
//   0x0B  create the event
//   0x0C  hand the event to the stream (the device's poll descriptors)
//   0x0D  read the buffer size
//   0x10  wait for the device or the event
//   0x11  queued frames
//   0x12  writable space
//   0x13  release of written space
//   0x14  start
//   0x15  stop
//   0x16  recovery after an underrun or a suspend
//   0x1F  no backend chosen
//
// An underrun (EPIPE: the device ran dry) or a suspend (ESTRPIPE) is recoverable:
// audioStreamRecover prepares the stream again and serving goes on. Any other failure while
// serving (ENODEV: unplugged; EBADFD or EIO: the sound server is gone) means the device is
// lost.
//
// On Windows the failure codes are the HRESULTs of the failing Core Audio call (for example
// 0x80070490, no default output device), E_FAIL (0x80004005) when the event cannot be
// created, and nothing is recoverable.
#pragma once

#include <cstdint>

constexpr int kAudioRateHz = 48000;      // frames per second of every stream
constexpr int kAudioChannels = 2;        // interleaved left, right
constexpr int kAudioBufferMs = 200;      // requested device buffer
constexpr int kAudioWaitMs = 500;        // longest wait of the audio thread for the device

constexpr int32_t kAudioOk = 0;
constexpr int32_t kAudioTimedOut = 1;    // audioStreamWait: nothing signalled in time
constexpr int32_t kAudioFail = int32_t(0xA0000000u);

enum AudioStep : int {
    AudioStepOpen = 0x01,
    AudioStepHwAny = 0x02,
    AudioStepAccess = 0x03,
    AudioStepFormat = 0x04,
    AudioStepChannels = 0x05,
    AudioStepRate = 0x06,
    AudioStepBuffer = 0x07,
    AudioStepPeriod = 0x08,
    AudioStepHwApply = 0x09,
    AudioStepSwParams = 0x0A,
    AudioStepEventCreate = 0x0B,
    AudioStepSetEvent = 0x0C,
    AudioStepBufferSize = 0x0D,
    AudioStepWait = 0x10,
    AudioStepPadding = 0x11,
    AudioStepGetSpace = 0x12,
    AudioStepRelease = 0x13,
    AudioStepStart = 0x14,
    AudioStepStop = 0x15,
    AudioStepRecover = 0x16,
    AudioStepNoBackend = 0x1F,
};

// The failure code of a step and an error number (positive errno, or 0).
constexpr int32_t audioCode(int step, int err) {
    return int32_t(0xA0000000u | (uint32_t(step & 0xFF) << 16) | uint32_t(err & 0xFFFF));
}
constexpr int audioCodeStep(int32_t code) { return int((uint32_t(code) >> 16) & 0xFF); }
constexpr int audioCodeErrno(int32_t code) { return int(uint32_t(code) & 0xFFFF); }
// An underrun or a suspend: the stream can be prepared again and serving goes on.
bool audioCodeRecoverable(int32_t code);
// "open the default output" and the like, for the decode log; "?" for an unknown step.
const char* audioStepName(int step);

struct AudioStream;  // one open output stream; owned by the caller of audioStreamOpen
struct AudioEvent;   // auto-reset event; owned by the caller of audioEventCreate

// ---- Backend choice (main thread, before the first open) ----
void audioUseAlsa();
void audioUseCoreAudio();
void audioUseFake();

// ---- Streams (the thread that opened them) ----
// Opens the default output with the fixed format and a buffer of about 200 ms. On failure
// *out stays null and the code names the step.
int32_t audioStreamOpen(AudioStream** out);
// Stops the stream if needed and frees it; null is allowed.
void audioStreamClose(AudioStream* s);
// From now on the stream's waits also return when `event` is set. The event must outlive
// the stream's use of it (until the stream is closed or given another event).
int32_t audioStreamSetEvent(AudioStream* s, AudioEvent* event);
int32_t audioStreamBufferFrames(AudioStream* s, uint32_t* frames);
// Waits up to timeoutMs for the device to want data or the event to be set (which resets
// it). kAudioOk when signalled, kAudioTimedOut on time-out, negative on failure.
int32_t audioStreamWait(AudioStream* s, int timeoutMs);
// Frames written but not yet played.
int32_t audioStreamPadding(AudioStream* s, uint32_t* queued);
// Writable space for `frames` frames (at most the buffer size less what the stream still
// holds from a release the device could not take in full; audioStreamPadding counts those
// frames as queued): *data receives frames * 2 floats to fill, valid until audioStreamRelease.
int32_t audioStreamGetSpace(AudioStream* s, uint32_t frames, float** data);
// Hands back the space of the last audioStreamGetSpace, filled with `frames` frames. Frames
// the device does not take now are kept, in order, and written first at the next release.
int32_t audioStreamRelease(AudioStream* s, uint32_t frames);
// Start and stop playing. A started stream plays as soon as it holds data: nothing is
// played from an empty buffer, so starting before the first write does not run it dry.
int32_t audioStreamStart(AudioStream* s);
int32_t audioStreamStop(AudioStream* s);
// After a recoverable failure (audioCodeRecoverable): prepares the stream again and plays at
// once whatever frames it still held from a release the device could not take, else from the
// next release. A negative result means the device is lost.
int32_t audioStreamRecover(AudioStream* s, int32_t code);

// ---- Events ----
int32_t audioEventCreate(AudioEvent** out);
void audioEventClose(AudioEvent* e);  // null is allowed
void audioEventSet(AudioEvent* e);    // any thread
