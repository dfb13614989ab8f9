// The window core: the window tree, classes and procedures, message delivery (sent, posted
// and the loop's turn), timers, invalidation and painting into each window's own canvas,
// composition of a top-level window's frame from its picture and its children's, mouse
// routing with capture and cursor, keys, the built-in "Label" and "Button" classes, and the
// warning box with its own turn of the loop. The display itself is the backend's
// (window_backend.h); nothing here touches SDL.
//
// Sections: state; classes; tree helpers; composition; creation and destruction; messages
// and the loop; window properties; painting; input; timers; built-in classes; the warning
// box; the rest of the services.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/window_backend.h"

// ---- State ----

struct WindowClass {
    WindowProc proc = nullptr;
    CursorShape cursor = CursorShape::Arrow;
    bool builtinLabel = false;
    bool builtinButton = false;
};

class Window {
public:
    const WindowClass* cls = nullptr;
    WindowProc proc = nullptr;
    std::wstring text;
    unsigned style = 0;
    int id = 0;
    Rect rect;  // in the parent's client area; a top-level window's client area on the display
    Window* parent = nullptr;
    std::vector<Window*> children;  // creation order: the first is on top
    void* user = nullptr;
    FontRef font;
    std::unique_ptr<Canvas> canvas;  // the window's own picture, its client size
    std::unique_ptr<Canvas> frame;   // top-level: its picture with its children over it
    bool visible = false;
    bool invalid = true;  // a new window has everything to paint
    bool erase = true;
    bool validated = false;  // paintBegin ran during the current Paint
    bool sizeSent = false;
    bool frameDirty = true;
    bool dead = false;
    bool destroying = false;
    bool pressed = false;  // Button: left press inside, not yet released
    Size minClient{0, 0};
    // Top-level windows only:
    Window* owner = nullptr;  // a warning box's owner; it is destroyed with its owner
    int disabled = 0;         // warning boxes open over it: no mouse input, no close
    bool pointerIn = false;   // the pointer is over it, at `pointer` (client coordinates)
    Point pointer{0, 0};
};

namespace {

struct Posted {
    Window* w;
    WinMsg msg;
};

struct Timer {
    Window* w;
    int id;
    int periodMs;
    uint64_t dueMs;
};

std::atomic<DisplayBackend*> g_backend{nullptr};

std::map<std::string, WindowClass> g_classes;            // by lower-case name
std::vector<std::unique_ptr<Window>> g_windows;          // alive, creation order
std::unordered_set<Window*> g_alive;
std::vector<std::unique_ptr<Window>> g_graveyard;        // destroyed, freed between turns
std::vector<Timer> g_timers;                             // in the order they were set
Window* g_capture = nullptr;
int g_dispatchDepth = 0;

std::mutex g_queueLock;  // guards the three below
std::deque<Posted> g_queue;
bool g_quit = false;
int g_quitCode = 0;

constexpr int kMinTimerPeriodMs = 10;

}  // namespace

void windowCoreSetBackend(DisplayBackend* backend) { g_backend.store(backend); }
DisplayBackend* windowCoreBackend() { return g_backend.load(); }

// ---- Classes ----

namespace {

std::string lowerName(const std::string& name) {
    std::string s = name;
    for (char& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

intptr_t labelProc(Window* w, const WinMsg& msg);
intptr_t buttonProc(Window* w, const WinMsg& msg);
intptr_t boxProc(Window* w, const WinMsg& msg);

constexpr const char* kBoxClass = "kestrum warning box";

void registerBuiltins() {
    if (g_classes.count("label")) return;
    g_classes["label"] = WindowClass{labelProc, CursorShape::Arrow, true, false};
    g_classes["button"] = WindowClass{buttonProc, CursorShape::Arrow, false, true};
    g_classes[kBoxClass] = WindowClass{boxProc, CursorShape::Arrow, false, false};
}

const WindowClass* findClass(const std::string& name) {
    registerBuiltins();
    auto it = g_classes.find(lowerName(name));
    return it == g_classes.end() ? nullptr : &it->second;
}

}  // namespace

void registerWindowClass(const std::string& name, WindowProc proc, CursorShape cursor) {
    registerBuiltins();
    if (!proc) return;
    WindowClass& c = g_classes[lowerName(name)];
    c = WindowClass{proc, cursor, false, false};
}

// ---- Tree helpers ----

namespace {

bool alive(Window* w) { return w && g_alive.count(w) && !w->dead; }

Window* topOf(Window* w) {
    while (w && w->parent) w = w->parent;
    return w;
}

// Shown on the display: the window and every ancestor visible.
bool shown(const Window* w) {
    for (; w; w = w->parent)
        if (!w->visible) return false;
    return true;
}

// Paint goes to windows that are shown and whose top-level window is not minimised.
bool paintable(Window* w) {
    if (!shown(w)) return false;
    DisplayBackend* b = g_backend.load();
    return !(b && b->isMinimized(topOf(w)));
}

Point originInTop(const Window* w) {
    Point p{0, 0};
    for (; w && w->parent; w = w->parent) {
        p.x += w->rect.left;
        p.y += w->rect.top;
    }
    return p;
}

void subtree(Window* w, std::vector<Window*>& out) {
    out.push_back(w);
    for (Window* c : w->children) subtree(c, out);
}

void markFrameDirty(Window* w) {
    if (Window* t = topOf(w)) t->frameDirty = true;
}

Size clientSize(const Window* w) { return Size{std::max(0, w->rect.width()), std::max(0, w->rect.height())}; }

void fitCanvas(Window* w) {
    const Size s = clientSize(w);
    const int cw = std::max(1, s.cx), ch = std::max(1, s.cy);
    if (!w->canvas || w->canvas->width() != cw || w->canvas->height() != ch) w->canvas = Canvas::create(cw, ch);
}

void sendSize(Window* w) {
    WinMsg m{MsgKind::Size};
    const Size s = clientSize(w);
    m.x = s.cx;
    m.y = s.cy;
    w->sizeSent = true;
    sendMessage(w, m);
}

}  // namespace

// ---- Composition ----

namespace {

Rect intersect(const Rect& a, const Rect& b) {
    return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

void composeChildren(Canvas& frame, const Window* w, Point origin, const Rect& clip) {
    // Bottom of the z-order first: the first child created ends on top.
    for (auto it = w->children.rbegin(); it != w->children.rend(); ++it) {
        const Window* c = *it;
        if (!c->visible || c->dead) continue;
        const Point o{origin.x + c->rect.left, origin.y + c->rect.top};
        const Size s = clientSize(c);
        const Rect area = intersect(clip, Rect{o.x, o.y, o.x + s.cx, o.y + s.cy});
        if (area.right <= area.left || area.bottom <= area.top) continue;
        frame.copyFrom(*c->canvas, o.x, o.y, area);
        composeChildren(frame, c, o, area);
    }
}

void compose(Window* top) {
    const Size s = clientSize(top);
    const int cw = std::max(1, s.cx), ch = std::max(1, s.cy);
    if (!top->frame || top->frame->width() != cw || top->frame->height() != ch) top->frame = Canvas::create(cw, ch);
    top->frame->copyFrom(*top->canvas, 0, 0);
    composeChildren(*top->frame, top, Point{0, 0}, Rect{0, 0, cw, ch});
    top->frameDirty = false;
}

void presentIfDirty(Window* top) {
    if (!alive(top) || !top->frameDirty || !paintable(top)) return;
    compose(top);
    if (DisplayBackend* b = g_backend.load()) b->present(top, *top->frame);
}

}  // namespace

// ---- Creation and destruction ----

Window* createWindow(const WindowCreate& c) {
    DisplayBackend* backend = g_backend.load();
    const WindowClass* cls = findClass(c.className);
    if (!backend || !cls) return nullptr;
    if (c.parent && !alive(c.parent)) return nullptr;

    auto owned = std::make_unique<Window>();
    Window* w = owned.get();
    w->cls = cls;
    w->proc = cls->proc;
    w->text = c.text;
    w->style = c.style;
    w->id = c.id;
    w->parent = c.parent;
    w->visible = (c.style & StyleVisible) != 0;
    w->rect = Rect{c.x, c.y, c.x + std::max(0, c.w), c.y + std::max(0, c.h)};
    g_windows.push_back(std::move(owned));
    g_alive.insert(w);

    auto forget = [&] {
        // Creation ended before the window was complete: it leaves without Destroy.
        g_alive.erase(w);
        w->dead = true;
        auto it = std::find_if(g_windows.begin(), g_windows.end(), [&](auto& p) { return p.get() == w; });
        if (it != g_windows.end()) {
            g_graveyard.push_back(std::move(*it));
            g_windows.erase(it);
        }
    };

    if (!w->parent) {
        MinClientSize min;
        WinMsg m{MsgKind::MinSizeQuery};
        m.minSize = &min;
        sendMessage(w, m);
        w->minClient = Size{std::max(0, min.minClientW), std::max(0, min.minClientH)};
        w->rect.right = w->rect.left + std::max(w->rect.width(), w->minClient.cx);
        w->rect.bottom = w->rect.top + std::max(w->rect.height(), w->minClient.cy);
        const Size s = clientSize(w);
        if (!backend->openTopLevel(w, w->text, c.x, c.y, s.cx, s.cy, w->visible, (c.style & StyleResizable) != 0,
                                   w->minClient)) {
            forget();
            return nullptr;
        }
    } else {
        w->parent->children.push_back(w);
    }
    fitCanvas(w);

    WinMsg attach{MsgKind::Attach};
    attach.param = c.param;
    if (sendMessage(w, attach) == 0) {
        if (w->parent) {
            auto& sib = w->parent->children;
            sib.erase(std::remove(sib.begin(), sib.end(), w), sib.end());
        } else {
            backend->closeTopLevel(w);
        }
        forget();
        return nullptr;
    }
    WinMsg cr{MsgKind::Create};
    cr.param = c.param;
    if (sendMessage(w, cr) == -1) {
        destroyWindow(w);
        return nullptr;
    }
    if (!alive(w)) return nullptr;
    if (w->visible) sendSize(w);
    markFrameDirty(w);
    return alive(w) ? w : nullptr;
}

void destroyWindow(Window* w) {
    if (!alive(w) || w->destroying) return;
    if (!w->parent) {
        // The boxes it owns go first, as their owner is still there.
        std::vector<Window*> owned;
        for (const auto& x : g_windows)
            if (!x->dead && x->owner == w) owned.push_back(x.get());
        for (Window* box : owned) destroyWindow(box);
        if (!alive(w) || w->destroying) return;
    }
    std::vector<Window*> all;
    subtree(w, all);
    for (Window* x : all) x->destroying = true;
    // The window hears of it first, while its children still exist; then each child.
    for (Window* x : all)
        if (alive(x)) sendMessage(x, WinMsg{MsgKind::Destroy});

    DisplayBackend* backend = g_backend.load();
    for (Window* x : all) {
        if (!g_alive.count(x)) continue;
        if (g_capture == x) {
            g_capture = nullptr;
            if (backend) backend->captureMouse(false);
        }
        g_timers.erase(std::remove_if(g_timers.begin(), g_timers.end(), [&](const Timer& t) { return t.w == x; }),
                       g_timers.end());
        {
            const std::lock_guard<std::mutex> hold(g_queueLock);
            g_queue.erase(std::remove_if(g_queue.begin(), g_queue.end(), [&](const Posted& p) { return p.w == x; }),
                          g_queue.end());
        }
        if (!x->parent && backend) backend->closeTopLevel(x);
        x->dead = true;
        g_alive.erase(x);
    }
    if (Window* p = w->parent) {
        p->children.erase(std::remove(p->children.begin(), p->children.end(), w), p->children.end());
        markFrameDirty(p);
    }
    // Free them between turns: a procedure may still be running for one of them.
    for (auto it = g_windows.begin(); it != g_windows.end();) {
        if ((*it)->dead) {
            g_graveyard.push_back(std::move(*it));
            it = g_windows.erase(it);
        } else {
            ++it;
        }
    }
}

// ---- Messages and the loop ----

intptr_t sendMessage(Window* w, const WinMsg& msg) {
    if (!w || !g_alive.count(w) || w->dead || !w->proc) return 0;
    ++g_dispatchDepth;
    const intptr_t r = w->proc(w, msg);
    --g_dispatchDepth;
    return r;
}

void postMessage(Window* w, const WinMsg& msg) {
    if (!w) return;
    {
        const std::lock_guard<std::mutex> hold(g_queueLock);
        g_queue.push_back(Posted{w, msg});
    }
    if (DisplayBackend* b = g_backend.load()) b->wake();
}

void quitLoop(int code) { windowCoreQuit(code); }

void windowCoreQuit(int code) {
    {
        const std::lock_guard<std::mutex> hold(g_queueLock);
        g_quit = true;
        g_quitCode = code;
    }
    if (DisplayBackend* b = g_backend.load()) b->wake();
}

bool windowCoreQuitPending(int& code) {
    const std::lock_guard<std::mutex> hold(g_queueLock);
    code = g_quitCode;
    return g_quit;
}

namespace {

bool paintPending() {
    for (const auto& w : g_windows)
        if (!w->dead && ((w->invalid && paintable(w.get())) || (!w->parent && w->frameDirty && paintable(w.get()))))
            return true;
    return false;
}

// Paint to every invalidated window of the list that is shown; the number of them.
int paintWindows(const std::vector<Window*>& list) {
    int n = 0;
    for (Window* w : list) {
        if (!alive(w) || !w->invalid || !paintable(w)) continue;
        w->validated = false;
        sendMessage(w, WinMsg{MsgKind::Paint});
        if (alive(w) && !w->validated) w->invalid = false;
        ++n;
    }
    return n;
}

void presentAll() {
    std::vector<Window*> tops;
    for (const auto& w : g_windows)
        if (!w->parent && !w->dead) tops.push_back(w.get());
    for (Window* t : tops) presentIfDirty(t);
}

int fireDueTimers() {
    DisplayBackend* b = g_backend.load();
    if (!b || g_timers.empty()) return 0;
    const uint64_t now = b->nowMs();
    std::vector<std::pair<Window*, int>> due;
    for (const Timer& t : g_timers)
        if (t.dueMs <= now) due.emplace_back(t.w, t.id);
    for (const auto& entry : due) {
        Window* const w = entry.first;
        const int id = entry.second;
        auto it = std::find_if(g_timers.begin(), g_timers.end(), [&](const Timer& t) { return t.w == w && t.id == id; });
        if (it == g_timers.end() || it->dueMs > now) continue;
        it->dueMs += uint64_t(it->periodMs);
        if (it->dueMs <= now) it->dueMs = now + uint64_t(it->periodMs);  // late: once, not once per period
        WinMsg m{MsgKind::Timer};
        m.id = id;
        sendMessage(w, m);
    }
    return int(due.size());
}

}  // namespace

int windowCoreTurn(bool stopAtQuit) {
    if (g_dispatchDepth == 0) g_graveyard.clear();
    int did = 0;

    std::deque<Posted> batch;
    {
        const std::lock_guard<std::mutex> hold(g_queueLock);
        batch.swap(g_queue);
    }
    for (Posted& p : batch) {
        if (!alive(p.w)) continue;
        sendMessage(p.w, p.msg);
        ++did;
    }
    // The quit comes after the posted messages, before paints and timers.
    int code;
    if (stopAtQuit && windowCoreQuitPending(code)) return did;

    std::vector<Window*> list;
    for (const auto& w : g_windows)
        if (!w->parent && !w->dead) subtree(w.get(), list);
    did += paintWindows(list);
    presentAll();

    did += fireDueTimers();
    return did;
}

bool windowCorePending() {
    {
        const std::lock_guard<std::mutex> hold(g_queueLock);
        if (!g_queue.empty()) return true;
    }
    return paintPending() || windowCoreNextTimerMs() == 0;
}

int windowCoreNextTimerMs() {
    DisplayBackend* b = g_backend.load();
    if (!b || g_timers.empty()) return -1;
    const uint64_t now = b->nowMs();
    uint64_t next = UINT64_MAX;
    for (const Timer& t : g_timers) next = std::min(next, t.dueMs);
    return next <= now ? 0 : int(std::min<uint64_t>(next - now, 1u << 30));
}

int runMessageLoop() {
    DisplayBackend* b = g_backend.load();
    if (!b) return 0;
    b->loopBegin();
    for (;;) {
        windowCoreTurn(true);
        int code;
        if (windowCoreQuitPending(code)) {
            const std::lock_guard<std::mutex> hold(g_queueLock);
            g_quit = false;
            return code;
        }
        if (windowCorePending()) continue;
        b->wait(windowCoreNextTimerMs());
    }
}

void windowCoreReset() {
    for (;;) {
        Window* top = nullptr;
        for (const auto& w : g_windows)
            if (!w->dead && !w->parent) top = w.get();
        if (!top) break;
        destroyWindow(top);
    }
    g_timers.clear();
    g_capture = nullptr;
    {
        const std::lock_guard<std::mutex> hold(g_queueLock);
        g_queue.clear();
        g_quit = false;
        g_quitCode = 0;
    }
    if (g_dispatchDepth == 0) g_graveyard.clear();
}

intptr_t defaultHandling(Window* w, const WinMsg& msg) {
    switch (msg.kind) {
        case MsgKind::Attach:
            return 1;
        case MsgKind::Close:
            destroyWindow(w);
            return 0;
        case MsgKind::Paint:
            paintBegin(w);
            paintEnd(w);
            return 0;
        case MsgKind::SetCursor:
            if (!alive(w)) return 0;
            setCursorShape(w->cls ? w->cls->cursor : CursorShape::Arrow);
            return 1;
        case MsgKind::SetFont:
            if (!alive(w)) return 0;
            w->font = msg.font;
            if (msg.redraw) invalidate(w, true);
            return 0;
        default:
            return 0;
    }
}

// ---- Window properties ----

void moveWindow(Window* w, int x, int y, int width, int height, bool repaint) {
    if (!alive(w)) return;
    width = std::max(0, width);
    height = std::max(0, height);
    if (!w->parent) {
        width = std::max(width, w->minClient.cx);
        height = std::max(height, w->minClient.cy);
        if (DisplayBackend* b = g_backend.load()) b->place(w, x, y, width, height);
    }
    const Size before = clientSize(w);
    w->rect = Rect{x, y, x + width, y + height};
    markFrameDirty(w->parent ? w->parent : w);
    if (before.cx != width || before.cy != height) {
        fitCanvas(w);
        invalidate(w, true);
        sendSize(w);
    } else if (repaint) {
        invalidate(w, true);
    }
}

void setWindowText(Window* w, const std::wstring& text) {
    if (!alive(w)) return;
    if (!w->parent) {
        if (w->text == text) return;
        w->text = text;
        if (DisplayBackend* b = g_backend.load()) b->setTitle(w, text);
        return;
    }
    w->text = text;
    // Also with the same text: a label takes its colours when it paints, and whoever sets
    // its text may have changed them.
    if (w->cls->builtinLabel || w->cls->builtinButton) invalidate(w, true);
}

std::wstring windowText(Window* w) { return alive(w) ? w->text : std::wstring(); }
Rect clientRect(Window* w) {
    if (!alive(w)) return Rect{};
    const Size s = clientSize(w);
    return Rect{0, 0, s.cx, s.cy};
}
Rect windowRect(Window* w) { return alive(w) ? w->rect : Rect{}; }
Window* parentOf(Window* w) { return alive(w) ? w->parent : nullptr; }
int controlId(Window* w) { return alive(w) ? w->id : 0; }
unsigned windowStyle(Window* w) { return alive(w) ? w->style : 0; }
void setUserData(Window* w, void* data) {
    if (alive(w)) w->user = data;
}
void* userData(Window* w) { return alive(w) ? w->user : nullptr; }
FontRef windowFont(Window* w) { return alive(w) ? w->font : FontRef(); }

// ---- Painting ----

void invalidate(Window* w, bool erase) {
    if (!alive(w)) return;
    w->invalid = true;
    w->erase = w->erase || erase;
}

void redrawNow(Window* w, bool erase, bool allChildren) {
    if (!alive(w)) return;
    std::vector<Window*> list;
    if (allChildren) subtree(w, list);
    else list.push_back(w);
    for (Window* x : list) invalidate(x, erase);
    paintWindows(list);
    presentIfDirty(topOf(w));
}

Canvas* paintBegin(Window* w) {
    if (!alive(w)) return nullptr;
    fitCanvas(w);
    w->invalid = false;
    w->validated = true;
    if (w->erase) {
        w->erase = false;
        sendMessage(w, WinMsg{MsgKind::EraseBackground});
    }
    return alive(w) ? w->canvas.get() : nullptr;
}

void paintEnd(Window* w) {
    if (alive(w)) markFrameDirty(w);
}

void showWindow(Window* top) {
    if (!alive(top)) return;
    if (!top->visible) {
        top->visible = true;
        if (!top->parent) {
            if (DisplayBackend* b = g_backend.load()) b->show(top);
        }
        markFrameDirty(top);
    }
    if (!top->sizeSent) sendSize(top);
    if (!alive(top)) return;
    std::vector<Window*> list;
    subtree(top, list);
    paintWindows(list);
    presentIfDirty(topOf(top));
}

void windowCoreExposed(Window* top) {
    if (!alive(top)) return;
    top->frameDirty = true;
    presentIfDirty(top);
}

// ---- Input ----

namespace {

// The topmost visible window under (x, y) of w's client area, with the point in its
// client coordinates.
Window* hitTest(Window* w, int& x, int& y) {
    for (Window* c : w->children) {
        if (!c->visible || c->dead) continue;
        if (c->rect.contains(x, y)) {
            x -= c->rect.left;
            y -= c->rect.top;
            return hitTest(c, x, y);
        }
    }
    return w;
}

}  // namespace

void windowCoreMouse(Window* top, MsgKind kind, int x, int y) {
    if (!alive(top)) return;
    top->pointerIn = true;
    top->pointer = Point{x, y};
    if (top->disabled) return;  // a warning box is open over it
    Window* target;
    if (alive(g_capture)) {
        target = g_capture;
        const Point o = originInTop(target);
        x -= o.x;
        y -= o.y;
    } else {
        target = hitTest(top, x, y);
        if (kind == MsgKind::MouseMove || kind == MsgKind::MouseDown) sendMessage(target, WinMsg{MsgKind::SetCursor});
    }
    WinMsg m{kind};
    m.x = x;
    m.y = y;
    sendMessage(target, m);
}

void windowCoreResized(Window* top, int cw, int ch) {
    if (!alive(top)) return;
    const Size before = clientSize(top);
    if (before.cx == cw && before.cy == ch) return;
    top->rect.right = top->rect.left + std::max(0, cw);
    top->rect.bottom = top->rect.top + std::max(0, ch);
    fitCanvas(top);
    top->frameDirty = true;
    invalidate(top, true);
    sendSize(top);
}

void windowCoreMinimized(Window* top, bool minimized) {
    if (!alive(top)) return;
    WinMsg m{MsgKind::Size};
    m.minimized = minimized;
    if (!minimized) {
        const Size s = clientSize(top);
        m.x = s.cx;
        m.y = s.cy;
        top->frameDirty = true;
    }
    sendMessage(top, m);
}

void windowCoreCloseRequest(Window* top) {
    if (alive(top) && !top->disabled) sendMessage(top, WinMsg{MsgKind::Close});
}

void windowCorePointerLeft(Window* top) {
    if (alive(top)) top->pointerIn = false;
}

void windowCoreKey(Window* top, int key) {
    if (!alive(top) || top->parent || top->disabled) return;
    WinMsg m{MsgKind::KeyDown};
    m.id = key;
    sendMessage(top, m);
}

void setCapture(Window* w) {
    if (!alive(w)) return;
    g_capture = w;
    if (DisplayBackend* b = g_backend.load()) b->captureMouse(true);
}

void releaseCapture() {
    if (!g_capture) return;
    g_capture = nullptr;
    if (DisplayBackend* b = g_backend.load()) b->captureMouse(false);
}

Window* captureWindow() { return alive(g_capture) ? g_capture : nullptr; }

bool pointerOver(Window* w, int& x, int& y) {
    if (!alive(w)) return false;
    const Window* top = topOf(w);
    if (!top->pointerIn) return false;
    const Point o = originInTop(w);
    x = top->pointer.x - o.x;
    y = top->pointer.y - o.y;
    return true;
}

void setCursorShape(CursorShape shape) {
    if (DisplayBackend* b = g_backend.load()) b->setCursor(shape);
}

bool isMinimized(Window* w) {
    DisplayBackend* b = g_backend.load();
    return b && alive(w) && b->isMinimized(topOf(w));
}

// ---- Timers ----

void setTimer(Window* w, int id, int periodMs) {
    DisplayBackend* b = g_backend.load();
    if (!b || !alive(w)) return;
    periodMs = std::max(periodMs, kMinTimerPeriodMs);
    const uint64_t due = b->nowMs() + uint64_t(periodMs);
    for (Timer& t : g_timers)
        if (t.w == w && t.id == id) {
            t.periodMs = periodMs;
            t.dueMs = due;
            return;
        }
    g_timers.push_back(Timer{w, id, periodMs, due});
}

void killTimer(Window* w, int id) {
    g_timers.erase(std::remove_if(g_timers.begin(), g_timers.end(), [&](const Timer& t) { return t.w == w && t.id == id; }),
                   g_timers.end());
}

bool windowCoreFireTimer(Window* w, int id) {
    if (!windowCoreTimerPeriod(w, id)) return false;
    WinMsg m{MsgKind::Timer};
    m.id = id;
    sendMessage(w, m);
    return true;
}

int windowCoreTimerPeriod(Window* w, int id) {
    for (const Timer& t : g_timers)
        if (t.w == w && t.id == id) return t.periodMs;
    return 0;
}

// ---- Built-in classes ----

namespace {

intptr_t labelProc(Window* w, const WinMsg& msg) {
    switch (msg.kind) {
        case MsgKind::Paint: {
            Canvas* dc = paintBegin(w);
            if (!dc) return 0;
            LabelColours info{w, dc, rgb(0, 0, 0), rgb(255, 255, 255), false};
            WinMsg ask{MsgKind::LabelColoursQuery};
            ask.labelColours = &info;
            if (!sendMessage(w->parent, ask)) info = LabelColours{w, dc, rgb(0, 0, 0), rgb(255, 255, 255), false};
            const Rect r = clientRect(w);
            dc->fillRect(r, info.background);
            FontRef oldFont = dc->setFont(w->font);
            const Rgb oldColor = dc->setTextColor(info.textColor);
            const bool oldTransparent = dc->setTransparentText(info.transparentText);
            const Rgb oldBack = dc->setTextBackground(info.background);
            // A cell taller than the label would cut off what lies below the baseline
            // (underscores, descenders): raise the text as far as the font's ink allows.
            const TextMetrics tm = dc->textMetrics();
            Rect cell = r;
            const int below = tm.ascent + tm.inkDescent - r.height();
            if (below > 0) cell.top -= std::min(below, std::max(0, tm.ascent - tm.inkAscent));
            dc->drawText(cell, w->text, ((w->style & StyleRightAlign) ? TextRight : TextLeft) | TextTop | TextSingleLine);
            dc->setTextBackground(oldBack);
            dc->setTransparentText(oldTransparent);
            dc->setTextColor(oldColor);
            dc->setFont(std::move(oldFont));
            paintEnd(w);
            return 0;
        }
        default:
            return defaultHandling(w, msg);
    }
}

// A plain push button's look, for buttons that are not parent-drawn.
void paintPlainButton(Window* w, Canvas& dc) {
    const Rect r = clientRect(w);
    const Pen oldPen = dc.setPen(Pen{rgb(100, 100, 100), 1});
    const Brush oldBrush = dc.setBrush(Brush{w->pressed ? rgb(200, 200, 200) : rgb(225, 225, 225)});
    dc.rectangle(r);
    FontRef oldFont = dc.setFont(w->font);
    const bool oldTransparent = dc.setTransparentText(true);
    const Rgb oldColor = dc.setTextColor(rgb(0, 0, 0));
    dc.drawText(r, w->text, TextCenter | TextVCenter | TextSingleLine);
    dc.setTextColor(oldColor);
    dc.setTransparentText(oldTransparent);
    dc.setFont(std::move(oldFont));
    dc.setBrush(oldBrush);
    dc.setPen(oldPen);
}

intptr_t buttonProc(Window* w, const WinMsg& msg) {
    switch (msg.kind) {
        case MsgKind::Paint: {
            Canvas* dc = paintBegin(w);
            if (!dc) return 0;
            if (w->style & StyleDrawnByParent) {
                ButtonPaint item{w->id, w, dc, clientRect(w)};
                WinMsg m{MsgKind::DrawButton};
                m.id = w->id;
                m.buttonPaint = &item;
                sendMessage(w->parent, m);
            } else {
                paintPlainButton(w, *dc);
            }
            paintEnd(w);
            return 0;
        }
        case MsgKind::MouseDown:
            setCapture(w);
            w->pressed = true;
            invalidate(w, false);
            return 0;
        case MsgKind::MouseUp: {
            if (captureWindow() != w) return 0;
            releaseCapture();
            w->pressed = false;
            invalidate(w, false);
            if (clientRect(w).contains(msg.x, msg.y)) {
                WinMsg m{MsgKind::Command};
                m.id = w->id;
                m.code = 0;
                sendMessage(w->parent, m);
            }
            return 0;
        }
        case MsgKind::MouseMove:
            return 0;
        default:
            return defaultHandling(w, msg);
    }
}

}  // namespace

// ---- The warning box ----
//
// Drawn like the desktop's own message boxes: white above, a light band below with the OK
// button at its right, a 32-pixel warning sign (a yellow triangle with a black "!") left of
// the text, which is one line in the box's font.

namespace {

constexpr int kBoxOk = 1;  // the OK button's id
constexpr int kBoxMargin = 24;
constexpr int kBoxIcon = 32;
constexpr int kBoxIconGap = 12;
constexpr int kBoxBandH = 44;
constexpr int kBoxButtonW = 88, kBoxButtonH = 26, kBoxButtonGap = 12;
constexpr int kBoxMinW = 240;
constexpr Rgb kBoxBack = rgb(255, 255, 255);
constexpr Rgb kBoxBand = rgb(240, 240, 240);
constexpr Rgb kBoxTextColor = rgb(0, 0, 0);
constexpr Rgb kSignFill = rgb(255, 200, 0);
constexpr Rgb kSignEdge = rgb(176, 124, 0);
constexpr Rgb kSignMark = rgb(0, 0, 0);

struct BoxState {
    std::wstring text;
    FontRef font;
    Size client{0, 0};
    Rect icon, textCell, band, button;
};

// Places the box's parts for its text.
void layoutBox(BoxState& st) {
    auto measure = Canvas::create(1, 1);
    measure->setFont(st.font);
    const Size ext = measure->textExtent(st.text);
    const int contentH = kBoxMargin + std::max(kBoxIcon, ext.cy) + kBoxMargin;
    const int w = std::max({kBoxMargin + kBoxIcon + kBoxIconGap + ext.cx + kBoxMargin, kBoxMinW,
                            kBoxButtonGap + kBoxButtonW + kBoxButtonGap});
    st.client = Size{w, contentH + kBoxBandH};
    const int mid = contentH / 2;
    st.icon = Rect{kBoxMargin, mid - kBoxIcon / 2, kBoxMargin + kBoxIcon, mid - kBoxIcon / 2 + kBoxIcon};
    const int tx = st.icon.right + kBoxIconGap;
    st.textCell = Rect{tx, mid - ext.cy / 2, w - kBoxMargin, mid - ext.cy / 2 + ext.cy};
    st.band = Rect{0, contentH, w, contentH + kBoxBandH};
    const int by = contentH + (kBoxBandH - kBoxButtonH) / 2;
    st.button = Rect{w - kBoxButtonGap - kBoxButtonW, by, w - kBoxButtonGap, by + kBoxButtonH};
}

void paintWarningSign(Canvas& dc, const Rect& r) {
    // A triangle symmetric about the box's middle column, point up.
    const Point tri[3] = {{r.left + kBoxIcon / 2, r.top + 1}, {r.right, r.bottom - 2}, {r.left, r.bottom - 2}};
    const Pen oldPen = dc.setPen(Pen{kSignEdge, 1});
    const Brush oldBrush = dc.setBrush(Brush{kSignFill});
    dc.polygon(tri, 3);
    dc.setBrush(oldBrush);
    dc.setPen(oldPen);
    const int cx = r.left + kBoxIcon / 2;
    dc.fillRect(Rect{cx - 2, r.top + 10, cx + 2, r.top + 21}, kSignMark);
    dc.fillRect(Rect{cx - 2, r.top + 23, cx + 2, r.top + 27}, kSignMark);
}

void paintBox(Window* w, Canvas& dc, const BoxState& st) {
    const Rect r = clientRect(w);
    dc.fillRect(r, kBoxBack);
    dc.fillRect(st.band, kBoxBand);
    paintWarningSign(dc, st.icon);
    FontRef oldFont = dc.setFont(st.font);
    const bool oldTransparent = dc.setTransparentText(true);
    const Rgb oldColor = dc.setTextColor(kBoxTextColor);
    dc.drawText(st.textCell, st.text, TextLeft | TextTop | TextSingleLine);
    dc.setTextColor(oldColor);
    dc.setTransparentText(oldTransparent);
    dc.setFont(std::move(oldFont));
}

intptr_t boxProc(Window* w, const WinMsg& msg) {
    auto* st = static_cast<BoxState*>(userData(w));
    switch (msg.kind) {
        case MsgKind::Create: {
            st = static_cast<BoxState*>(msg.param);
            setUserData(w, st);
            WindowCreate c;
            c.className = "Button";
            c.text = L"OK";
            c.style = StyleVisible;
            c.x = st->button.left;
            c.y = st->button.top;
            c.w = st->button.width();
            c.h = st->button.height();
            c.parent = w;
            c.id = kBoxOk;
            Window* ok = createWindow(c);
            WinMsg font{MsgKind::SetFont};
            font.font = st->font;
            sendMessage(ok, font);
            return 0;
        }
        case MsgKind::Paint: {
            Canvas* dc = paintBegin(w);
            if (dc && st) paintBox(w, *dc, *st);
            paintEnd(w);
            return 0;
        }
        case MsgKind::EraseBackground:
            return 1;  // the paint covers every pixel
        case MsgKind::Command:
            if (msg.id == kBoxOk && msg.code == 0) destroyWindow(w);
            return 0;
        case MsgKind::KeyDown:
            if (msg.id == KeyEnter || msg.id == KeySpace || msg.id == KeyEscape) destroyWindow(w);
            return 0;
        default:
            return defaultHandling(w, msg);
    }
}

}  // namespace

void messageBoxWarning(Window* owner, const std::wstring& text, const std::wstring& caption) {
    DisplayBackend* b = g_backend.load();
    if (!b) return;
    // A box over a window that holds the pointer would leave the capture stuck.
    releaseCapture();
    Window* top = alive(owner) ? topOf(owner) : nullptr;
    if (b->platformBox(top, text, caption)) return;

    BoxState st;
    st.text = text;
    st.font = fontCreate(FontSpec{-12, 400, "Segoe UI", false});
    layoutBox(st);
    // Centred on the owner's client area, as it is on the display now; else on the display.
    Rect over{0, 0, 0, 0};
    int ox = 0, oy = 0;
    if (top && b->windowPos(top, ox, oy)) {
        over = Rect{ox, oy, ox + top->rect.width(), oy + top->rect.height()};
    } else {
        const Size d = b->displaySize();
        over = Rect{0, 0, d.cx, d.cy};
    }
    WindowCreate c;
    c.className = kBoxClass;
    c.text = caption;
    c.style = 0;  // shown once it is known as a box
    c.w = st.client.cx;
    c.h = st.client.cy;
    c.x = over.left + (over.width() - c.w) / 2;
    c.y = over.top + (over.height() - c.h) / 2;
    c.param = &st;
    Window* box = createWindow(c);
    if (!box) return;
    box->owner = top;
    b->boxOpened(box, top, text, caption);
    if (top) ++top->disabled;
    showWindow(box);

    // The loop's own turn, until the box is gone: every window keeps painting and every
    // timer keeps firing meanwhile. A quit ends it and stays pending.
    b->loopBegin();
    int code = 0;
    while (alive(box)) {
        windowCoreTurn(true);
        if (windowCoreQuitPending(code) || !alive(box)) break;
        if (windowCorePending()) continue;
        b->wait(windowCoreNextTimerMs());
    }
    destroyWindow(box);
    if (alive(top)) --top->disabled;
}

// ---- The rest of the services ----

bool frameExtents(Window* topLevel, Rect& extents) {
    DisplayBackend* b = g_backend.load();
    return b && alive(topLevel) && !topLevel->parent && b->frameExtents(topLevel, extents);
}

Size primaryDisplaySize() {
    DisplayBackend* b = g_backend.load();
    return b ? b->displaySize() : Size{0, 0};
}

void setDarkFrame(Window* topLevel) {
    DisplayBackend* b = g_backend.load();
    if (b && alive(topLevel) && !topLevel->parent) b->setDarkFrame(topLevel);
}

Window* windowCoreLastTopLevel() {
    for (auto it = g_windows.rbegin(); it != g_windows.rend(); ++it)
        if (!(*it)->dead && !(*it)->parent && !(*it)->owner && (*it)->cls->proc != boxProc) return it->get();
    return nullptr;
}

Window* windowCoreBoxOf(Window* owner) {
    for (auto it = g_windows.rbegin(); it != g_windows.rend(); ++it)
        if (!(*it)->dead && !(*it)->parent && (*it)->cls->proc == boxProc && (*it)->owner == owner) return it->get();
    return nullptr;
}

const Canvas* windowCoreFrame(Window* top) {
    if (!alive(top) || top->parent) return nullptr;
    if (top->frameDirty || !top->frame) compose(top);
    return top->frame.get();
}

std::vector<Window*> windowCoreChildren(Window* w) { return alive(w) ? w->children : std::vector<Window*>(); }
