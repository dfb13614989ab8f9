// The controller through the headless display and the fake audio device: start-up, the
// client size and position per display, start and stop, the sliders and switches reaching
// the engine, the render button, the audio failure box, the timers while minimised, the
// hover test and the close path.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/interactive.h"
#include "audio/device_output.h"
#include "catalog/station.h"
#include "engine/decode_worker.h"
#include "engine/engine.h"
#include "platform/audio_fake.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/window_headless.h"
#include "support/temp_dir.h"
#include "ui/controller.h"
#include "ui/layout.h"
#include "ui/rain.h"
#include "ui/ui_state.h"

namespace controllertest {

namespace fs = std::filesystem;

// The program's window on a 1024 x 768 display (client 560 x 760) with the fake audio
// device, and the stations, engine and controller as a fresh start leaves them.
class ControllerWindow : public testing::Test {
protected:
    void SetUp() override {
        savedStations_ = g_stations;
        g_stations.clear();
        for (const wchar_t* name : {L"ALPHA FM", L"BRAVO 98", L"CHARLIE"})
            g_stations.push_back(Station{name, L"missing.mp3", 90.0f + float(g_stations.size()) * 5.0f, 600.0f, 0.0f});
        g_engine.dialFreq.store(87.5f);
        g_engine.uiStation.store(-1);
        audioUseFake();
        fakeAudioReset();
    }
    // frame: the window manager's frame around windows, none when empty.
    void start(int displayW = 1024, int displayH = 768, const Rect& frame = {}) {
        windowUseHeadless(displayW, displayH);
        if (frame != Rect{}) headlessSetFrameExtents(frame);
        main_ = interactiveStart();
        ASSERT_NE(main_, nullptr);
        // The audio thread has opened the device, filled its buffer once and waits (or has
        // ended, when the device failed): the engine renders nothing more until the test
        // plays the device.
        ASSERT_TRUE(audioWaitReported(g_ac, 5000));
        // (inWait alone also holds in the first wait, before the buffer is filled.)
        ASSERT_TRUE(fakeAudioWaitUntil(
            [](const FakeAudioRecord& r) { return (r.inWait && !r.releases.empty()) || g_ac.ended.load(); }, 5000));
    }
    void TearDown() override {
        if (main_ && headlessMainWindow()) {
            headlessClose();
            EXPECT_EQ(interactiveLoop(), 0);
        }
        audioJoin(g_ac);
        windowUseHeadless(1024, 768);
        g_stations = savedStations_;
        g_engine.running.store(0);
    }
    void tick2() { ASSERT_TRUE(headlessFireTimer(main_, 2)); }
    static std::wstring text(Window* w) { return windowText(w); }
    static void clickButton(const Rect& r) { headlessClick((r.left + r.right) / 2, (r.top + r.bottom) / 2); }

    Window* main_ = nullptr;
    std::vector<Station> savedStations_;
};

TEST(ControllerSizes, ClientSizeForTheDisplay) {
    struct Case {
        Size display, client;
    };
    const Case cases[] = {
        {{1024, 768}, {560, 760}},   {{1920, 1080}, {960, 760}},  {{2560, 1440}, {1280, 892}},
        {{1119, 2000}, {560, 1240}}, {{1120, 1225}, {560, 760}},  {{2241, 1300}, {1120, 806}},
    };
    for (const Case& c : cases) {
        const Size got = mainClientSize(c.display);
        EXPECT_EQ(got.cx, c.client.cx) << c.display.cx << " x " << c.display.cy;
        EXPECT_EQ(got.cy, c.client.cy) << c.display.cx << " x " << c.display.cy;
    }
}

TEST_F(ControllerWindow, WindowIsCentredOnTheDisplayWithItsClientSize) {
    struct Case {
        Size display;
        Rect frame;  // the window manager's, {left, top, right, bottom}; none when all 0
        Rect client;
        Point pos;  // of the client area
    };
    // The outer window (client area and frame) is centred; a display lower than it puts it at
    // the top, never above. Without a frame reported, the client area is centred.
    const Case cases[] = {
        {{1024, 768}, {}, {0, 0, 560, 760}, {232, 4}},
        {{1920, 1080}, {}, {0, 0, 960, 760}, {480, 160}},
        {{2560, 1440}, {}, {0, 0, 1280, 892}, {640, 274}},
        {{800, 600}, {}, {0, 0, 560, 760}, {120, 0}},
        // Outer 562 x 785: (1024 - 562) / 2 = 231, (864 - 785) / 2 = 39, plus the frame.
        {{1024, 864}, {1, 20, 1, 5}, {0, 0, 560, 760}, {232, 59}},
        {{1920, 1080}, {8, 37, 8, 8}, {0, 0, 960, 760}, {480, 174}},
        {{2560, 1440}, {4, 30, 6, 2}, {0, 0, 1280, 892}, {639, 288}},
        // Outer 785 high on a 768 display: the frame's top at 0, the client below it.
        {{1024, 768}, {1, 20, 1, 5}, {0, 0, 560, 760}, {232, 20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.display.cx) + " x " + std::to_string(c.display.cy) + " frame top " +
                     std::to_string(c.frame.top));
        start(c.display.cx, c.display.cy, c.frame);
        EXPECT_EQ(clientRect(main_), c.client);
        EXPECT_EQ(headlessWindowPos(main_).x, c.pos.x);
        EXPECT_EQ(headlessWindowPos(main_).y, c.pos.y);
        headlessClose();
        EXPECT_EQ(interactiveLoop(), 0);
        main_ = nullptr;
    }
}

TEST_F(ControllerWindow, StartUpMakesTheWindowControlsTimersAndThreads) {
    start();
    EXPECT_EQ(windowText(main_), L"Kestrum - Radio Band Scanner");
    EXPECT_TRUE(headlessShown(main_));
    EXPECT_TRUE(headlessDarkFrame(main_));
    EXPECT_EQ(headlessTimerPeriodMs(main_, 1), 33);
    EXPECT_EQ(headlessTimerPeriodMs(main_, 2), 250);
    EXPECT_TRUE(g_dec.running());
    EXPECT_EQ(fakeAudioRecord().opens, 1);
    EXPECT_GE(audioResult(g_ac), 0);

    struct Control {
        Window* w;
        int id;
        const wchar_t* text;
        unsigned style;
    };
    const unsigned label = StyleVisible, value = StyleVisible | StyleRightAlign,
                   button = StyleVisible | StyleDrawnByParent;
    const Control controls[] = {
        {lSect, 0, L"SCANNER CONTROLS", label},   {hTog, 100, L"START KESTRUM", button},
        {hRender, 101, L"RENDER", button},        {hEcho, 116, L"ECHO", button},
        {hVerb, 117, L"REVERB", button},          {lRing, 133, L"SWEEP SPEED", label},
        {vRing, 0, L"200 MS", value},             {sSweepH, 0, L"", StyleVisible},
        {lVol, 134, L"VOLUME", label},            {vVol, 0, L"100%", value},
        {sVolH, 0, L"", StyleVisible},            {lNoise, 135, L"STATIC NOISE", label},
        {vNoise, 0, L"10%", value},               {sNoiseH, 0, L"", StyleVisible},
        {lVoice, 142, L"STATION  --/--", label},  {lBank, 140, L"DIAL  87.50 MHZ", label},
        {lStatus, 141, L"STATUS: STOPPED", label},
    };
    // The main window's children are exactly these, created in this order.
    std::vector<Window*> inOrder;
    for (const Control& c : controls) inOrder.push_back(c.w);
    EXPECT_EQ(headlessChildren(main_), inOrder);
    for (const Control& c : controls) {
        ASSERT_NE(c.w, nullptr);
        EXPECT_EQ(parentOf(c.w), main_);
        EXPECT_EQ(controlId(c.w), c.id);
        EXPECT_EQ(windowText(c.w), c.text);
        EXPECT_EQ(windowStyle(c.w), c.style);
    }
    // Each slider holds its record.
    EXPECT_EQ(userData(sSweepH), &sSweep);
    EXPECT_EQ(userData(sVolH), &sVol);
    EXPECT_EQ(userData(sNoiseH), &sNoise);
    // The engine has the sliders' and switches' start values.
    EXPECT_EQ(g_engine.sweepMs.load(), 200.0f);
    EXPECT_EQ(g_engine.volume.load(), float(100) * 0.01f);
    EXPECT_EQ(g_engine.noise.load(), float(10) * 0.01f);
    EXPECT_EQ(g_engine.echoOn.load(), 1);
    EXPECT_EQ(g_engine.verbOn.load(), 0);
    EXPECT_EQ(g_engine.running.load(), 0);
}

TEST_F(ControllerWindow, StartAndStopTwice) {
    start();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        clickButton(g_rcTog);
        EXPECT_TRUE(g_live);
        EXPECT_EQ(g_engine.running.load(), 1);
        EXPECT_EQ(text(lStatus), L"STATUS: LIVE - SCANNING THE DIAL");
        setWindowText(lStatus, L"overwritten");
        tick2();  // every 250 ms while live
        EXPECT_EQ(text(lStatus), L"STATUS: LIVE - SCANNING THE DIAL");

        clickButton(g_rcTog);
        EXPECT_FALSE(g_live);
        EXPECT_EQ(g_engine.running.load(), 0);
        EXPECT_EQ(text(lStatus), L"STATUS: STOPPED");
        setWindowText(lStatus, L"kept while stopped");
        tick2();
        EXPECT_EQ(text(lStatus), L"kept while stopped");
    }
}

TEST_F(ControllerWindow, StatusTimerShowsDialAndStation) {
    start();
    g_engine.dialFreq.store(99.15f);
    g_engine.uiStation.store(1);
    tick2();
    EXPECT_EQ(text(lBank), L"DIAL  99.15 MHZ");
    EXPECT_EQ(text(lVoice), L"STATION  --/03");  // stopped: no station shown
    clickButton(g_rcTog);
    tick2();
    EXPECT_EQ(text(lVoice), L"STATION 02/03  BRAVO 98");
    for (int outside : {-1, 3}) {
        g_engine.uiStation.store(outside);
        tick2();
        EXPECT_EQ(text(lVoice), L"STATION  --/03") << outside;
    }
    // A name of any length is shown whole.
    g_stations[0].name = std::wstring(400, L'N');
    g_engine.uiStation.store(0);
    tick2();
    EXPECT_EQ(text(lVoice), L"STATION 01/03  " + std::wstring(400, L'N'));
    g_engine.dialFreq.store(108.0f);
    tick2();
    EXPECT_EQ(text(lBank), L"DIAL  108.00 MHZ");
}

TEST_F(ControllerWindow, SlidersAndSwitchesReachTheEngineAtOnce) {
    start();
    // The sliders are 504 wide at x = 28; the track runs from 9 to 495 inside.
    struct Case {
        Window* slider;
        int x;  // in the slider
        int expected;
        std::atomic<float>* param;
        float engineValue;
        Window* valueText;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {sSweepH, 252, 280, &g_engine.sweepMs, 280.0f, vRing, L"280 MS"},
        {sSweepH, 0, 60, &g_engine.sweepMs, 60.0f, vRing, L"60 MS"},
        {sVolH, 252, 50, &g_engine.volume, 50 * 0.01f, vVol, L"50%"},
        {sVolH, 503, 100, &g_engine.volume, 1.0f, vVol, L"100%"},
        {sNoiseH, 9 + 486 / 4, 25, &g_engine.noise, 25 * 0.01f, vNoise, L"25%"},
    };
    for (const Case& c : cases) {
        const Rect r = windowRect(c.slider);
        headlessClick(r.left + c.x, r.top + 7);
        const Slider* rec = static_cast<const Slider*>(userData(c.slider));
        EXPECT_EQ(rec->value, c.expected);
        EXPECT_EQ(c.param->load(), c.engineValue);
        EXPECT_EQ(text(c.valueText), c.shown);
    }

    clickButton(g_rcEcho);
    EXPECT_FALSE(g_echoOn);
    EXPECT_EQ(g_engine.echoOn.load(), 0);
    clickButton(g_rcVerb);
    EXPECT_TRUE(g_verbOn);
    EXPECT_EQ(g_engine.verbOn.load(), 1);
    clickButton(g_rcEcho);
    EXPECT_EQ(g_engine.echoOn.load(), 1);
    // The switches leave the scanner alone.
    EXPECT_EQ(g_engine.running.load(), 0);
    EXPECT_EQ(text(lStatus), L"STATUS: STOPPED");
}

// The render writes into a FIFO that this thread drains: while the window thread is inside
// the render it cannot touch the status line, so the line can be read then.
TEST_F(ControllerWindow, RenderButtonShowsProgressThenTheSavedName) {
    start();
    TempDir dir;
    g_renderDir = utf8ToWide(dir.path() + "/");

    // The render is named after the second it starts in: a FIFO for each of the next few.
    const auto t0 = std::chrono::system_clock::now();
    std::vector<std::string> names;
    std::vector<int> fds;
    for (int s = 0; s < 4; ++s) {
        const std::time_t tt = std::chrono::system_clock::to_time_t(t0 + std::chrono::seconds(s));
        std::tm tm{};
        localtime_r(&tt, &tm);
        char name[64];
        std::snprintf(name, sizeof name, "kestrum_%04d%02d%02d_%02d%02d%02d.wav", tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        names.push_back(name);
        const std::string p = dir.path() + "/" + name;
        ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
        fds.push_back(open(p.c_str(), O_RDONLY | O_NONBLOCK));
        ASSERT_GE(fds.back(), 0);
    }

    std::wstring during;
    std::string used;
    long bytes = 0;
    std::thread reader([&] {
        std::vector<pollfd> pfds;
        for (int fd : fds) pfds.push_back(pollfd{fd, POLLIN, 0});
        int which = -1;
        char buf[65536];
        while (which < 0 && poll(pfds.data(), pfds.size(), 20000) > 0) {
            for (size_t i = 0; i < pfds.size(); ++i)
                if (pfds[i].revents & POLLIN) which = int(i);
        }
        if (which < 0) return;
        used = names[size_t(which)];
        // The render cannot end before everything is read, so the window thread is busy.
        during = windowText(lStatus);
        pollfd one{fds[size_t(which)], POLLIN, 0};
        for (;;) {
            const ssize_t n = read(one.fd, buf, sizeof buf);
            if (n > 0) {
                bytes += n;
            } else if (n == 0 && bytes > 0) {
                break;  // the writer closed
            } else if (n < 0 && errno != EAGAIN) {
                break;
            } else {
                poll(&one, 1, 20000);
            }
        }
    });
    clickButton(g_rcRender);
    reader.join();
    for (int fd : fds) close(fd);

    EXPECT_EQ(during, L"STATUS: RENDERING 60 S...");
    EXPECT_EQ(bytes, 5760044);
    ASSERT_FALSE(used.empty());
    EXPECT_EQ(text(lStatus), L"SAVED " + utf8ToWide(used));
    // Stopped, the saved message stays.
    tick2();
    EXPECT_EQ(text(lStatus), L"SAVED " + utf8ToWide(used));
}

TEST_F(ControllerWindow, RenderIntoADeepFolderAndAFailedOne) {
    start();
    // A folder path far beyond 260 characters is no obstacle.
    std::string deep;
    for (int i = 0; i < 8; ++i) deep += "/" + std::string(40, char('a' + i));
    TempDir root;
    const std::string deepDir = root.folder(deep);
    ASSERT_GT(deepDir.size(), 300u);
    g_renderDir = utf8ToWide(deepDir + "/");
    clickButton(g_rcRender);
    const std::wstring status = text(lStatus);
    ASSERT_EQ(status.rfind(L"SAVED kestrum_", 0), 0u) << wideToUtf8(status);
    const std::string name = wideToUtf8(status.substr(6));
    EXPECT_EQ(name.size(), std::string("kestrum_20260101_000000.wav").size());
    EXPECT_EQ(fs::file_size(deepDir + "/" + name), 5760044u);

    // A folder that does not exist: the file cannot be made.
    g_renderDir = utf8ToWide(deepDir + "/no/such/folder/");
    clickButton(g_rcRender);
    EXPECT_EQ(text(lStatus), L"RENDER FAILED");

    // While live, the next status tick replaces the outcome.
    clickButton(g_rcTog);
    clickButton(g_rcRender);
    EXPECT_EQ(text(lStatus), L"RENDER FAILED");
    tick2();
    EXPECT_EQ(text(lStatus), L"STATUS: LIVE - SCANNING THE DIAL");
}

TEST(ControllerFileName, RenderFileNameFromTheLocalTime) {
    EXPECT_EQ(renderFileName(2026, 3, 7, 9, 5, 1), L"kestrum_20260307_090501.wav");
    EXPECT_EQ(renderFileName(1999, 12, 31, 23, 59, 59), L"kestrum_19991231_235959.wav");
}

TEST_F(ControllerWindow, FailedDeviceShowsOneBoxAndTheWindowGoesOn) {
    fakeAudioFailNext(AudioStepOpen, 19);  // ENODEV
    start();
    EXPECT_LT(audioResult(g_ac), 0);
    EXPECT_TRUE(headlessMessageBoxes().empty());  // reported at the next status tick

    // While the box is open: the rain moves, the main window keeps repainting, a click on
    // start/stop does nothing, and the tick that opened it has not gone on yet.
    auto heads = [] {
        std::vector<float> ys;
        for (const RainCol& c : g_rain) ys.push_back(c.y);
        return ys;
    };
    std::vector<float> rainAtOpen, rainLater;
    int presentsAtOpen = -1, presentsLater = -1, visits = 0;
    std::wstring voiceDuring;
    setWindowText(lVoice, L"before the tick");
    headlessSetIdleHook([&] {
        Window* box = headlessOpenBox();
        if (!box) return;
        ++visits;
        if (visits == 1) {
            rainAtOpen = heads();
            presentsAtOpen = headlessPresentCount();
            voiceDuring = text(lVoice);
            clickButton(g_rcTog);
            // The rain steps by the real clock.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } else if (visits == 40) {
            rainLater = heads();
            presentsLater = headlessPresentCount();
            headlessKey(box, KeyEnter);
        }
    });
    tick2();
    headlessSetIdleHook(nullptr);
    ASSERT_EQ(visits, 40);
    ASSERT_EQ(headlessMessageBoxes().size(), 1u);
    EXPECT_EQ(headlessMessageBoxes()[0].owner, main_);
    EXPECT_EQ(headlessMessageBoxes()[0].text, L"Audio device init failed (0xA0010013).");
    EXPECT_EQ(headlessMessageBoxes()[0].caption, L"Kestrum");
    EXPECT_EQ(headlessOpenBox(), nullptr);
    EXPECT_EQ(voiceDuring, L"before the tick");
    EXPECT_NE(rainLater, rainAtOpen);
    EXPECT_GT(presentsLater, presentsAtOpen + 30);
    EXPECT_FALSE(g_live) << "the click while the box was open did nothing";
    // The rest of that tick ran after the box.
    EXPECT_EQ(text(lVoice), L"STATION  --/03");

    headlessAdvanceMs(2000);
    clickButton(g_rcTog);
    headlessAdvanceMs(1000);
    EXPECT_EQ(headlessMessageBoxes().size(), 1u);
    EXPECT_TRUE(g_live);
    EXPECT_EQ(text(lStatus), L"STATUS: LIVE - SCANNING THE DIAL");
    EXPECT_EQ(text(lBank), L"DIAL  87.50 MHZ");  // nothing renders the engine
}

TEST_F(ControllerWindow, WorkingDeviceShowsNoBox) {
    start();
    headlessAdvanceMs(1000);
    EXPECT_TRUE(headlessMessageBoxes().empty());
}

TEST_F(ControllerWindow, MinimisedWindowSkipsTheRainButKeepsTheLines) {
    start();
    auto heads = [] {
        std::vector<float> ys;
        for (const RainCol& c : g_rain) ys.push_back(c.y);
        return ys;
    };
    ASSERT_FALSE(g_rain.empty());
    // The rain steps by the real clock: let some milliseconds pass before each tick.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    auto before = heads();
    ASSERT_TRUE(headlessFireTimer(main_, 1));
    EXPECT_NE(heads(), before);  // a normal tick moves the rain

    headlessMinimize();
    ASSERT_TRUE(isMinimized(main_));
    const Rect band = g_band;
    before = heads();
    const int presents = headlessPresentCount();
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ASSERT_TRUE(headlessFireTimer(main_, 1));
        headlessPump();
    }
    EXPECT_EQ(heads(), before);
    EXPECT_EQ(headlessPresentCount(), presents);
    EXPECT_EQ(g_band, band);

    g_engine.dialFreq.store(101.3f);
    tick2();
    EXPECT_EQ(text(lBank), L"DIAL  101.30 MHZ");
    headlessRestore();
}

TEST_F(ControllerWindow, HoverFollowsTheButtonRectangles) {
    start();
    struct Case {
        Point p;
        int id;
    };
    // At 560 x 760: start/stop {32, 285, 274, 331}, render {286, 285, 528, 331},
    // ECHO {32, 345, 275, 369}, REVERB {285, 345, 528, 369}; right and bottom excluded.
    const Case cases[] = {
        {{32, 285}, 100},  {{273, 330}, 100}, {{274, 300}, 0},   {{286, 285}, 101}, {{527, 330}, 101},
        {{100, 331}, 0},   {{32, 345}, 116},  {{274, 368}, 116}, {{280, 350}, 0},   {{285, 345}, 117},
        {{527, 368}, 117}, {{528, 368}, 0},   {{-40, -40}, 0},
    };
    // The look changes at the animation tick after the pointer's move, not before.
    for (const Case& c : cases) {
        const int before = g_hover;
        headlessPointerMove(c.p.x, c.p.y);
        EXPECT_EQ(g_hover, before);
        ASSERT_TRUE(headlessFireTimer(main_, 1));
        EXPECT_EQ(g_hover, c.id) << c.p.x << ", " << c.p.y;
    }
    // The pointer leaving the window hovers nothing from the next tick on.
    headlessPointerMove(300, 300);
    ASSERT_TRUE(headlessFireTimer(main_, 1));
    ASSERT_EQ(g_hover, 101);
    headlessPointerLeave();
    EXPECT_EQ(g_hover, 101);
    ASSERT_TRUE(headlessFireTimer(main_, 1));
    EXPECT_EQ(g_hover, 0);
}

TEST_F(ControllerWindow, StationLineTakesItsColourAtTheNextTickAfterStartAndStop) {
    // No device: the engine never moves, so the station line's text stays the same
    // whether the scanner runs or not. Only its colour tells.
    fakeAudioFailNext(AudioStepOpen, 19);
    start();
    headlessSetIdleHook([] {
        if (Window* box = headlessOpenBox()) headlessKey(box, KeyEscape);
    });
    tick2();
    headlessSetIdleHook(nullptr);
    const Rect line = windowRect(lVoice);
    auto inked = [&](Rgb c) {
        int n = 0;
        for (int y = line.top; y < line.bottom; ++y)
            for (int x = line.left; x < line.right; ++x) n += headlessPixel(x, y) == c;
        return n;
    };
    constexpr Rgb kBright = rgb(185, 255, 214), kDim = rgb(98, 140, 116);
    ASSERT_EQ(text(lVoice), L"STATION  --/03");
    EXPECT_GT(inked(kDim), 0);
    EXPECT_EQ(inked(kBright), 0);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        clickButton(g_rcTog);
        ASSERT_TRUE(g_live);
        tick2();
        EXPECT_EQ(text(lVoice), L"STATION  --/03");
        EXPECT_GT(inked(kBright), 0);
        EXPECT_EQ(inked(kDim), 0);
        clickButton(g_rcTog);
        ASSERT_FALSE(g_live);
        tick2();
        EXPECT_GT(inked(kDim), 0);
        EXPECT_EQ(inked(kBright), 0);
    }
}

// The close path, step by step: which of its four steps (the engine stopped, the audio stop
// request, the decode worker stopped and joined, the window destroyed) had happened at two
// moments of it. At the audio stop request the engine must be stopped and nothing else
// done yet; when the window's children hear Destroy the worker must be stopped and joined.
// Together they fix the whole order: engine, audio, worker, window.
struct CloseState {
    bool engineStopped;   // g_engine.running == 0
    bool audioStopAsked;  // g_ac.active cleared
    bool workerQuit;      // g_dec told to quit
    bool workerJoined;    // g_dec's thread joined
    bool destroyed;       // the main window's children have heard Destroy
    bool operator==(const CloseState&) const = default;
};

void PrintTo(const CloseState& s, std::ostream* os) {
    *os << "{engine stopped " << s.engineStopped << ", audio stop asked " << s.audioStopAsked << ", worker quit "
        << s.workerQuit << ", worker joined " << s.workerJoined << ", destroyed " << s.destroyed << "}";
}

struct CloseSteps {
    static inline std::atomic<bool> destroyed{false};
    static inline std::mutex lock;  // guards seen
    static inline std::vector<std::pair<std::string, CloseState>> seen;

    static void note(const char* moment) {
        const CloseState s{g_engine.running.load() == 0, !g_ac.active.load(), g_dec.snapshot().quit, !g_dec.running(),
                           destroyed.load()};
        const std::lock_guard<std::mutex> hold(lock);
        seen.emplace_back(moment, s);
    }
    // A child of the main window: it hears Destroy right after the main window does.
    static intptr_t probeProc(Window* w, const WinMsg& msg) {
        if (msg.kind == MsgKind::Destroy) {
            note("window destroyed");
            destroyed = true;
        }
        return defaultHandling(w, msg);
    }
};

TEST_F(ControllerWindow, ClosingWhileLiveStopsEverythingInOrderAndExitsWith0) {
    start();
    CloseSteps::destroyed = false;
    CloseSteps::seen.clear();
    registerWindowClass("ControllerCloseProbe", CloseSteps::probeProc, CursorShape::Arrow);
    WindowCreate c;
    c.className = "ControllerCloseProbe";
    c.parent = main_;
    ASSERT_NE(createWindow(c), nullptr);

    clickButton(g_rcTog);
    ASSERT_EQ(g_engine.running.load(), 1);

    // The stop request clears `active`, then takes the audio context's event lock to wake the
    // audio thread. Holding that lock here stops the close path right there until the state
    // is noted. (The audio thread takes the lock only to open and to close.)
    std::atomic<bool> holding{false};
    std::thread stopRequestWatch([&] {
        const std::lock_guard<std::mutex> hold(g_ac.eventLock);
        holding = true;
        // Only a bound against a close path that never asks; nothing here is timed.
        for (int i = 0; i < 10000 && g_ac.active.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        CloseSteps::note("audio stop request");
    });
    while (!holding) std::this_thread::yield();
    headlessClose();
    stopRequestWatch.join();

    const std::vector<std::pair<std::string, CloseState>> expected = {
        {"audio stop request", {true, true, false, false, false}},
        {"window destroyed", {true, true, true, true, false}},
    };
    EXPECT_EQ(CloseSteps::seen, expected);
    EXPECT_TRUE(CloseSteps::destroyed);
    EXPECT_EQ(headlessMainWindow(), nullptr);
    EXPECT_EQ(g_main, nullptr);

    EXPECT_EQ(interactiveLoop(), 0);
    // After the loop the audio thread has ended and closed the device.
    EXPECT_TRUE(g_ac.ended.load());
    EXPECT_FALSE(g_ac.thread.joinable());
    EXPECT_EQ(fakeAudioRecord().closes, 1);
    main_ = nullptr;
}

}  // namespace controllertest
