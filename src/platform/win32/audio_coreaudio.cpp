// The audio device on Windows Core Audio: the default render endpoint for the console role,
// an audio client in shared mode, event-driven, in the program's format (48000 Hz, stereo,
// 32-bit float) with a 200 ms buffer, converted to the device's mix format by the audio
// engine at its default resampling quality, and its render client.
//
// Result codes are the HRESULTs of the failing call (E_FAIL when the event cannot be made),
// so "Audio device init failed (0x%08X)." shows the system's own code. The stream's opening
// steps, in order: COM on this thread, device enumerator, default endpoint (the enumerator
// is released either way), audio client (the device is released either way), Initialize;
// then, through the front, the event and SetEventHandle, and at audioStreamBufferFrames
// GetBufferSize and GetService for the render client, whose result ends the opening.
//
// Threads: a stream lives on the thread that opened it, which it makes a COM
// multithreaded-apartment thread for its lifetime.
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <memory>

#include "platform/audio_backend.h"

namespace {

constexpr REFERENCE_TIME kBufferHns = REFERENCE_TIME(kAudioBufferMs) * 10000;  // 200 ms in 100 ns units
// AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUTOCONVERTPCM | SRC_DEFAULT_QUALITY.
constexpr DWORD kStreamFlags = 0x00040000u | 0x80000000u | 0x08000000u;

// Releases a COM interface when it goes.
template <typename T>
struct ComPtr {
    T* p = nullptr;
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }
    void reset() {
        if (p) p->Release();
        p = nullptr;
    }
    T* operator->() const { return p; }
    void** out() {
        reset();
        return reinterpret_cast<void**>(&p);
    }
};

// COM on the calling thread for the life of the holder, undone only when it was done here.
struct ComApartment {
    bool initialised = false;
    ComApartment() { initialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    ~ComApartment() {
        if (initialised) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

class CoreAudioStream final : public AudioStream {
public:
    ComApartment com;  // first: released last, after every interface below
    ComPtr<IAudioClient> client;
    ComPtr<IAudioRenderClient> renderClient;
    HANDLE event = nullptr;  // owned by the front's AudioEvent

    int32_t setEvent(AudioEvent* e) override {
        event = HANDLE(audioEventHandle(e));
        return int32_t(client->SetEventHandle(event));
    }

    int32_t bufferFrames(uint32_t* frames) override {
        UINT32 n = 0;
        HRESULT hr = client->GetBufferSize(&n);
        if (FAILED(hr)) return int32_t(hr);
        *frames = n;
        if (!renderClient.p) hr = client->GetService(__uuidof(IAudioRenderClient), renderClient.out());
        return int32_t(hr);
    }

    int32_t wait(int timeoutMs) override {
        // Anything but the signal (a time-out, a failed wait) sends the caller back to its
        // own test of whether to go on.
        if (!event) return kAudioTimedOut;
        return WaitForSingleObject(event, DWORD(timeoutMs)) == WAIT_OBJECT_0 ? kAudioOk : kAudioTimedOut;
    }

    int32_t padding(uint32_t* queued) override {
        UINT32 n = 0;
        const HRESULT hr = client->GetCurrentPadding(&n);
        if (SUCCEEDED(hr)) *queued = n;
        return int32_t(hr);
    }

    int32_t getSpace(uint32_t frames, float** data) override {
        if (!renderClient.p) return int32_t(E_POINTER);
        BYTE* bytes = nullptr;
        const HRESULT hr = renderClient->GetBuffer(frames, &bytes);
        if (SUCCEEDED(hr)) *data = reinterpret_cast<float*>(bytes);
        return int32_t(hr);
    }

    int32_t release(uint32_t frames) override {
        if (!renderClient.p) return int32_t(E_POINTER);
        return int32_t(renderClient->ReleaseBuffer(frames, 0));
    }

    int32_t start() override { return int32_t(client->Start()); }
    int32_t stop() override { return client.p ? int32_t(client->Stop()) : kAudioOk; }
    int32_t recover(int32_t code) override { return code; }
};

int32_t coreAudioOpen(AudioStream** out) {
    auto stream = std::make_unique<CoreAudioStream>();
    ComPtr<IMMDeviceEnumerator> enumerator;
    HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                  __uuidof(IMMDeviceEnumerator), enumerator.out());
    if (FAILED(hr)) return int32_t(hr);
    ComPtr<IMMDevice> device;
    hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device.p);
    enumerator.reset();
    if (FAILED(hr)) return int32_t(hr);
    hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, stream->client.out());
    device.reset();
    if (FAILED(hr)) return int32_t(hr);

    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    format.nChannels = WORD(kAudioChannels);
    format.nSamplesPerSec = DWORD(kAudioRateHz);
    format.wBitsPerSample = 32;
    format.nBlockAlign = WORD(format.nChannels * format.wBitsPerSample / 8);  // 8 bytes a frame
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;     // 384000
    format.cbSize = 0;
    hr = stream->client->Initialize(AUDCLNT_SHAREMODE_SHARED, kStreamFlags, kBufferHns, 0, &format, nullptr);
    if (FAILED(hr)) return int32_t(hr);
    *out = stream.release();
    return int32_t(hr);
}

}  // namespace

void audioUseCoreAudio() { audioSetBackend(coreAudioOpen); }
