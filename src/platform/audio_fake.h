// The fake audio device: a full backend of audio_device.h without sound, for tests. It has
// a buffer of a chosen size, a queue that fills with every release and empties when the
// test plays it, a "wants data" signal the test raises, failures the test injects into any
// step, and a record of everything the stream was asked and given (every frame written).
//
// Threads: the stream calls come from the thread that opened the stream (the audio
// thread); the controls below may be called from any thread. All state is behind one lock.
// Allocation: the record grows as frames are written (reserved up front for 2^20 frames).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/audio_device.h"

struct FakeAudioSetup {
    uint32_t bufferFrames = 9600;  // 200 ms at 48000 Hz
    bool wantsDataAtOpen = true;   // signalled from the start, as a prepared ALSA stream is
};

// What the fake has seen since the last fakeAudioReset.
struct FakeAudioRecord {
    int opens = 0;          // streams opened
    int closes = 0;         // streams closed
    int starts = 0;
    int stops = 0;
    int recovers = 0;       // successful recoveries
    bool inWait = false;    // the stream's thread is inside a wait now
    int waits = 0;          // waits that returned
    int waitsByEvent = 0;   // ... because the event was set
    int waitsByDevice = 0;  // ... because the device wanted data
    int waitsTimedOut = 0;  // ... after their time-out
    int lastWaitTimeoutMs = -1;
    int paddingQueries = 0;
    bool overfilled = false;  // more was released than the buffer could hold
    uint32_t queued = 0;      // frames written and not yet played
    std::vector<uint32_t> releases;  // frames of every successful release, in order
    // Every stream call since the reset, in order: "wait", "padding", "space", "release",
    // "recover", "start", "stop", with "!" appended when it failed, and "mark" for each
    // fakeAudioMark.
    std::vector<std::string> calls;
    std::vector<float> written;      // every released frame, interleaved left, right
};

// Forgets everything, closes nothing (a stream still open keeps working on the new state),
// and sets up the next open.
void fakeAudioReset(const FakeAudioSetup& setup = {});
// The next call of `step` fails with audioCode(step, err). Steps of audioStreamOpen:
// AudioStepOpen; of the other calls: their own steps (AudioStepSetEvent, AudioStepPadding,
// AudioStepGetSpace, AudioStepWait, AudioStepRecover, ...).
void fakeAudioFailNext(AudioStep step, int err);
// From now on every call of the open stream fails with error `err` (the device is gone);
// the stream's waits return at once, as poll does on a vanished device.
void fakeAudioLose(int err);
// The device played `frames` of what is queued (all of it when more) and wants data.
void fakeAudioPlay(uint32_t frames);
// The device played all it held and stopped in an underrun: queued frames, space and
// release fail with EPIPE until the stream is recovered. It sends no wake-up, now or on
// recovery, as some devices do not.
void fakeAudioRunDry();
// Notes "mark" in the record's calls (from any thread, e.g. a render source).
void fakeAudioMark();
// Sets the queue to `frames` without playing or signalling.
void fakeAudioSetQueued(uint32_t frames);
// The device wants data.
void fakeAudioSignal();

FakeAudioRecord fakeAudioRecord();
// Waits up to timeoutMs for `done` to hold on the record; true when it did.
bool fakeAudioWaitUntil(const std::function<bool(const FakeAudioRecord&)>& done, int timeoutMs);
