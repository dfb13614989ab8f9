// The headless display backend: top-level windows that exist only in memory, a pointer,
// keys and a clock moved by the test, warning boxes recorded as they open. The window core
// does all the rest, exactly as on the real display.
#include "platform/window_headless.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include "platform/window_backend.h"

namespace {

struct TopState {
    Point pos{0, 0};
    Size minClient{0, 0};
    bool shown = false;
    bool dark = false;
    bool minimized = false;
};

constexpr int kMaxPumpRounds = 10000;
constexpr uint64_t kDefaultLoopLimitMs = 60000;
constexpr int kMaxIdleCalls = 100000;
constexpr auto kPostWait = std::chrono::seconds(2);

class HeadlessBackend final : public DisplayBackend {
public:
    Size display{1024, 768};
    uint64_t now = 0;
    std::unordered_map<Window*, TopState> tops;
    CursorShape cursor = CursorShape::Arrow;
    bool hasExtents = false;
    Rect extents{0, 0, 0, 0};
    std::vector<HeadlessMessageBox> boxes;
    int presents = 0;
    std::function<void()> idle;
    uint64_t loopLimitMs = kDefaultLoopLimitMs;
    uint64_t loopStartMs = 0;
    int idleCalls = 0;

    std::mutex wakeLock;
    std::condition_variable wakeCv;
    bool woken = false;

    void resetState(int displayW, int displayH) {
        display = Size{displayW, displayH};
        now = 0;
        tops.clear();
        cursor = CursorShape::Arrow;
        hasExtents = false;
        extents = Rect{0, 0, 0, 0};
        boxes.clear();
        presents = 0;
        idle = nullptr;
        loopLimitMs = kDefaultLoopLimitMs;
    }

    TopState* state(Window* w) {
        auto it = tops.find(w);
        return it == tops.end() ? nullptr : &it->second;
    }

    bool openTopLevel(Window* w, const std::wstring&, int x, int y, int, int, bool visible, bool,
                      Size minClient) override {
        tops[w] = TopState{Point{x, y}, minClient, visible, false, false};
        return true;
    }
    void closeTopLevel(Window* w) override { tops.erase(w); }
    void setTitle(Window*, const std::wstring&) override {}
    void show(Window* w) override {
        if (TopState* s = state(w)) s->shown = true;
    }
    void place(Window* w, int x, int y, int, int) override {
        if (TopState* s = state(w)) s->pos = Point{x, y};
    }
    void present(Window*, const Canvas&) override { ++presents; }
    bool windowPos(Window* w, int& x, int& y) override {
        TopState* s = state(w);
        if (!s) return false;
        x = s->pos.x;
        y = s->pos.y;
        return true;
    }
    bool isMinimized(Window* w) override {
        TopState* s = state(w);
        return s && s->minimized;
    }
    void setDarkFrame(Window* w) override {
        if (TopState* s = state(w)) s->dark = true;
    }
    bool frameExtents(Window* w, Rect& e) override {
        if (!hasExtents || !state(w)) return false;
        e = extents;
        return true;
    }
    void boxOpened(Window* w, Window* owner, const std::wstring& text, const std::wstring& caption) override {
        boxes.push_back(HeadlessMessageBox{owner, text, caption, w});
    }
    void setCursor(CursorShape shape) override { cursor = shape; }
    void captureMouse(bool) override {}
    Size displaySize() override { return display; }
    uint64_t nowMs() override { return now; }

    void loopBegin() override {
        loopStartMs = now;
        idleCalls = 0;
    }

    void wait(int timeoutMs) override {
        int code;
        if (idle && ++idleCalls <= kMaxIdleCalls) {
            idle();
            if (windowCorePending() || windowCoreQuitPending(code)) return;
        }
        if (now - loopStartMs >= loopLimitMs || idleCalls > kMaxIdleCalls) {
            windowCoreQuit(kHeadlessLoopTimeout);
            return;
        }
        if (timeoutMs >= 0) {
            now += std::min<uint64_t>(uint64_t(timeoutMs), loopLimitMs - (now - loopStartMs));
            return;
        }
        std::unique_lock<std::mutex> hold(wakeLock);
        if (!wakeCv.wait_for(hold, kPostWait, [&] { return woken; })) {
            hold.unlock();
            windowCoreQuit(kHeadlessLoopTimeout);
            return;
        }
        woken = false;
    }

    void wake() override {
        {
            const std::lock_guard<std::mutex> hold(wakeLock);
            woken = true;
        }
        wakeCv.notify_all();
    }
};

HeadlessBackend g_headless;

bool active() { return windowCoreBackend() == &g_headless; }

Window* mainWindow() { return active() ? windowCoreLastTopLevel() : nullptr; }

bool isTop(Window* w) { return active() && w && g_headless.state(w); }

void input(Window* top, MsgKind kind, int x, int y) {
    if (!isTop(top)) return;
    windowCoreMouse(top, kind, x, y);
    headlessPump();
}

}  // namespace

void windowUseHeadless(int displayW, int displayH) {
    windowCoreReset();
    windowCoreSetBackend(&g_headless);
    g_headless.resetState(displayW, displayH);
}

// ---- Windows and the display ----

Window* headlessMainWindow() { return mainWindow(); }
void headlessSetDisplaySize(int w, int h) { g_headless.display = Size{w, h}; }
bool headlessShown(Window* topLevel) {
    TopState* s = g_headless.state(topLevel);
    return s && s->shown;
}
bool headlessDarkFrame(Window* topLevel) {
    TopState* s = g_headless.state(topLevel);
    return s && s->dark;
}
Point headlessWindowPos(Window* topLevel) {
    TopState* s = g_headless.state(topLevel);
    return s ? s->pos : Point{0, 0};
}
void headlessSetFrameExtents(const Rect& extents) {
    g_headless.hasExtents = true;
    g_headless.extents = extents;
}
Size headlessMinClientSize(Window* topLevel) {
    TopState* s = g_headless.state(topLevel);
    return s ? s->minClient : Size{0, 0};
}
std::vector<Window*> headlessChildren(Window* w) { return active() ? windowCoreChildren(w) : std::vector<Window*>(); }

// ---- Pointer ----

void headlessPointerMove(int x, int y) { input(mainWindow(), MsgKind::MouseMove, x, y); }
void headlessPointerDown(int x, int y) { input(mainWindow(), MsgKind::MouseDown, x, y); }
void headlessPointerUp(int x, int y) { input(mainWindow(), MsgKind::MouseUp, x, y); }
void headlessClick(int x, int y) { headlessClickIn(mainWindow(), x, y); }
void headlessClickIn(Window* topLevel, int x, int y) {
    input(topLevel, MsgKind::MouseMove, x, y);
    input(topLevel, MsgKind::MouseDown, x, y);
    input(topLevel, MsgKind::MouseUp, x, y);
}
void headlessPointerLeave() {
    if (Window* top = mainWindow()) {
        windowCorePointerLeft(top);
        headlessPump();
    }
}
CursorShape headlessCursorShape() { return g_headless.cursor; }

// ---- Keys ----

void headlessKey(Window* topLevel, int key) {
    if (!isTop(topLevel)) return;
    windowCoreKey(topLevel, key);
    headlessPump();
}

// ---- Time and timers ----

uint64_t headlessNowMs() { return g_headless.now; }

void headlessAdvanceMs(uint64_t ms) {
    if (!active()) return;
    const uint64_t target = g_headless.now + ms;
    for (;;) {
        const int next = windowCoreNextTimerMs();
        if (next < 0 || g_headless.now + uint64_t(next) > target) break;
        g_headless.now += uint64_t(next);
        headlessPump();
    }
    g_headless.now = target;
    headlessPump();
}

bool headlessFireTimer(Window* w, int id) {
    if (!active() || !windowCoreFireTimer(w, id)) return false;
    headlessPump();
    return true;
}

int headlessTimerPeriodMs(Window* w, int id) { return windowCoreTimerPeriod(w, id); }

// ---- Running what is queued ----

int headlessPump() {
    if (!active()) return 0;
    int delivered = 0;
    for (int round = 0; round < kMaxPumpRounds && windowCorePending(); ++round) delivered += windowCoreTurn(false);
    return delivered;
}

// ---- The window manager's actions ----

void headlessResize(int clientW, int clientH) {
    Window* top = mainWindow();
    if (!top) return;
    const Size minimum = headlessMinClientSize(top);
    windowCoreResized(top, std::max(clientW, minimum.cx), std::max(clientH, minimum.cy));
    headlessPump();
}

void headlessMinimize() {
    Window* top = mainWindow();
    TopState* s = g_headless.state(top);
    if (!s || s->minimized) return;
    s->minimized = true;
    windowCoreMinimized(top, true);
    headlessPump();
}

void headlessRestore() {
    Window* top = mainWindow();
    TopState* s = g_headless.state(top);
    if (!s || !s->minimized) return;
    s->minimized = false;
    windowCoreMinimized(top, false);
    headlessPump();
}

void headlessClose() { headlessCloseWindow(mainWindow()); }

void headlessCloseWindow(Window* topLevel) {
    if (!isTop(topLevel)) return;
    windowCoreCloseRequest(topLevel);
    headlessPump();
}

// ---- The composed frame ----

const Canvas* headlessFrame() { return headlessFrameOf(mainWindow()); }

const Canvas* headlessFrameOf(Window* topLevel) { return isTop(topLevel) ? windowCoreFrame(topLevel) : nullptr; }

Rgb headlessPixel(int x, int y) {
    const Canvas* f = headlessFrame();
    return f ? f->pixel(x, y) : 0;
}

bool headlessWritePng(const std::string& path) {
    const Canvas* f = headlessFrame();
    return f && f->writePng(path);
}

int headlessPresentCount() { return g_headless.presents; }

// ---- Message boxes ----

const std::vector<HeadlessMessageBox>& headlessMessageBoxes() { return g_headless.boxes; }
void headlessClearMessageBoxes() { g_headless.boxes.clear(); }
Window* headlessOpenBox() { return active() ? windowCoreBoxOf(mainWindow()) : nullptr; }

// ---- The loop ----

void headlessSetIdleHook(std::function<void()> hook) { g_headless.idle = std::move(hook); }
void headlessSetLoopLimitMs(uint64_t ms) { g_headless.loopLimitMs = ms; }
void headlessEndLoop(int code) { windowCoreQuit(code); }
