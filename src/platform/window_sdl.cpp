// The real display backend on SDL2: top-level windows, the composed frame copied into each
// window's surface, their frames, the pointer's events and capture, keys, the system
// cursors, and the loop's wait for input. SDL is opened lazily (video, timer and events
// only: the sound goes through the audio device, never through SDL) by the first question
// about the display or the first top-level window, and closed when the last window goes.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "platform/paths.h"
#include "platform/window_backend.h"
#include "platform/window_sdl_x11.h"

void sdlSetIdentity(SDL_Window* window);  // window_sdl_identity.cpp

namespace {

// Owners of SDL's handles: each frees its own, so no path repeats the cleanup.
struct SdlWindowFree {
    void operator()(SDL_Window* w) const { SDL_DestroyWindow(w); }
};
struct SdlCursorFree {
    void operator()(SDL_Cursor* c) const { SDL_FreeCursor(c); }
};
using SdlWindowPtr = std::unique_ptr<SDL_Window, SdlWindowFree>;
using SdlCursorPtr = std::unique_ptr<SDL_Cursor, SdlCursorFree>;

struct SdlTop {
    SdlWindowPtr sdl;
    bool minimized = false;
    bool shown = false;  // shown at least once
    bool boxed = false;  // a warning box
};

// How long the start-up may wait for the window manager to tell the frame's size.
constexpr int kFrameExtentsWaitMs = 200;

class SdlBackend final : public DisplayBackend {
public:
    // ---- Opening and closing SDL ----
    bool open() {
        if (opened_) return true;
        // A windowed program of the desktop: no signal handlers of SDL's own (Ctrl+C ends the
        // process as usual), the screensaver left alone, a click that focuses the window also
        // counts as a click, and the last window's close button is only a Close message.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
        SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
        SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
        SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
        // Frames are composed in memory; presenting them through a GL texture only costs time
        // (software GL on a display without a GPU).
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        if (!initVideo()) return false;
        wakeEvent_ = SDL_RegisterEvents(1);
        opened_ = true;
        return true;
    }

    void close() {
        if (!opened_) return;
        opened_ = false;
        for (SdlCursorPtr& c : cursors_) c.reset();
        current_ = -1;
        SDL_Quit();
    }

    // ---- Top-level windows ----
    bool openTopLevel(Window* w, const std::wstring& title, int x, int y, int cw, int ch, bool visible,
                      bool resizable, Size minClient) override {
        if (!open()) return false;
        Uint32 flags = visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
        if (resizable) flags |= SDL_WINDOW_RESIZABLE;
        SdlWindowPtr sdl(SDL_CreateWindow(wideToUtf8(title).c_str(), x, y, std::max(1, cw), std::max(1, ch), flags));
        if (!sdl) {
            if (tops_.empty()) close();
            return false;
        }
        // The first surface may make SDL re-create the native window (for an accelerated
        // framebuffer): get it now, so that properties set on the window later stay on it.
        SDL_GetWindowSurface(sdl.get());
        sdlSetIdentity(sdl.get());
        if (minClient.cx > 0 || minClient.cy > 0)
            SDL_SetWindowMinimumSize(sdl.get(), std::max(1, minClient.cx), std::max(1, minClient.cy));
        byId_[SDL_GetWindowID(sdl.get())] = w;
        tops_[w] = SdlTop{std::move(sdl), false};
        return true;
    }

    void closeTopLevel(Window* w) override {
        auto it = tops_.find(w);
        if (it == tops_.end()) return;
        byId_.erase(SDL_GetWindowID(it->second.sdl.get()));
        tops_.erase(it);  // destroys the SDL window
        if (tops_.empty()) close();
    }

    void setTitle(Window* w, const std::wstring& title) override {
        if (SDL_Window* s = sdlOf(w)) SDL_SetWindowTitle(s, wideToUtf8(title).c_str());
    }
    void show(Window* w) override {
        auto it = tops_.find(w);
        if (it == tops_.end()) return;
        SDL_ShowWindow(it->second.sdl.get());
        it->second.shown = true;
        if (it->second.boxed) SDL_RaiseWindow(it->second.sdl.get());  // and the keyboard with it
    }
    void place(Window* w, int x, int y, int cw, int ch) override {
        auto it = tops_.find(w);
        if (it == tops_.end()) return;
        SDL_Window* s = it->second.sdl.get();
        // Until a window is first shown, the window manager takes its position as the
        // frame's (SDL only learns the frame afterwards): place the frame so that the
        // client area lands at (x, y).
        int left = 0, right = 0, top = 0, bottom = 0;
        if (!it->second.shown && sdlX11FrameExtents(s, 0, left, right, top, bottom)) {
            x -= left;
            y -= top;
        }
        SDL_SetWindowPosition(s, x, y);
        SDL_SetWindowSize(s, std::max(1, cw), std::max(1, ch));
    }

    // The frame into the window's surface, in the surface's own pixel format.
    void present(Window* w, const Canvas& frame) override {
        SDL_Window* s = sdlOf(w);
        if (!s) return;
        SDL_Surface* surface = SDL_GetWindowSurface(s);
        if (!surface) return;
        const int cw = std::min(surface->w, frame.width());
        const int ch = std::min(surface->h, frame.height());
        if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return;
        if (cw < surface->w || ch < surface->h) SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
        SDL_ConvertPixels(cw, ch, SDL_PIXELFORMAT_RGB888, frame.pixels(), frame.stridePixels() * 4,
                          surface->format->format, surface->pixels, surface->pitch);
        if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
        SDL_UpdateWindowSurface(s);
    }

    bool windowPos(Window* w, int& x, int& y) override {
        SDL_Window* s = sdlOf(w);
        if (!s) return false;
        SDL_GetWindowPosition(s, &x, &y);
        return true;
    }
    bool isMinimized(Window* w) override {
        SDL_Window* s = sdlOf(w);
        return s && (SDL_GetWindowFlags(s) & SDL_WINDOW_MINIMIZED) != 0;
    }
    void setDarkFrame(Window* w) override { sdlX11SetDarkVariant(sdlOf(w)); }

    bool frameExtents(Window* w, Rect& extents) override {
        int left = 0, right = 0, top = 0, bottom = 0;
        if (!sdlX11FrameExtents(sdlOf(w), kFrameExtentsWaitMs, left, right, top, bottom)) return false;
        extents = Rect{left, top, right, bottom};
        return true;
    }

    void boxOpened(Window* w, Window* owner, const std::wstring&, const std::wstring&) override {
        auto it = tops_.find(w);
        if (it == tops_.end()) return;
        it->second.boxed = true;
        sdlX11MarkDialog(it->second.sdl.get());
        if (SDL_Window* o = sdlOf(owner)) SDL_SetWindowModalFor(it->second.sdl.get(), o);
    }

    // ---- Cursor, display ----
    void setCursor(CursorShape shape) override {
        if (!opened_) return;
        const int i = shape == CursorShape::Hand ? 1 : 0;
        if (i == current_) return;
        if (!cursors_[i])
            cursors_[i].reset(SDL_CreateSystemCursor(i == 1 ? SDL_SYSTEM_CURSOR_HAND : SDL_SYSTEM_CURSOR_ARROW));
        if (cursors_[i]) SDL_SetCursor(cursors_[i].get());
        current_ = i;
    }

    void captureMouse(bool on) override {
        if (opened_) SDL_CaptureMouse(on ? SDL_TRUE : SDL_FALSE);
    }

    Size displaySize() override {
        SDL_DisplayMode mode;
        if (!open() || SDL_GetDesktopDisplayMode(0, &mode) != 0) return Size{0, 0};
        return Size{mode.w, mode.h};
    }

    // ---- Time and waiting ----
    uint64_t nowMs() override { return SDL_GetTicks64(); }

    void wait(int timeoutMs) override {
        if (!opened_) return;
        SDL_Event ev;
        const int got = timeoutMs < 0 ? SDL_WaitEvent(&ev) : SDL_WaitEventTimeout(&ev, timeoutMs);
        if (!got) return;
        handle(ev);
        while (opened_ && SDL_PollEvent(&ev)) handle(ev);
    }

    void wake() override {
        if (!opened_) return;
        SDL_Event ev;
        std::memset(&ev, 0, sizeof ev);
        ev.type = wakeEvent_;
        SDL_PushEvent(&ev);
    }

private:
    // SDL's video with a driver that puts windows in front of a person. Without one SDL
    // falls back to its off-screen driver, where a window is created, shown to nobody and
    // never closed: the program would wait forever. The drivers are tried in SDL's order
    // (limited to SDL_VIDEODRIVER's list when the user gives one); false when none opens.
    bool initVideo() {
        if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_EVENTS) != 0) return false;
        const char* asked = SDL_getenv("SDL_VIDEODRIVER");
        for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
            const char* name = SDL_GetVideoDriver(i);
            if (!name || !showsWindows(name) || !listed(asked, name)) continue;
            if (SDL_strcasecmp(name, "wayland") == 0 && !waylandReachable()) continue;
            SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, name, SDL_HINT_OVERRIDE);
            if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
                sdlX11GuardWakeUps();
                return true;
            }
        }
        SDL_Quit();
        return false;
    }

    // SDL's drivers that draw into memory only, or into nothing.
    static bool showsWindows(const char* driver) {
        for (const char* hidden : {"offscreen", "dummy", "evdev"})
            if (SDL_strcasecmp(driver, hidden) == 0) return false;
        return true;
    }

    // Whether a comma-separated driver list (null or empty: every driver) names driver.
    static bool listed(const char* list, const char* driver) {
        if (!list || !*list) return true;
        const size_t n = SDL_strlen(driver);
        for (const char* p = list; *p;) {
            const char* end = SDL_strchr(p, ',');
            const size_t len = end ? size_t(end - p) : SDL_strlen(p);
            if (len == n && SDL_strncasecmp(p, driver, n) == 0) return true;
            if (!end) break;
            p = end + 1;
        }
        return false;
    }

    // The Wayland client library finds its display socket in XDG_RUNTIME_DIR, unless
    // WAYLAND_DISPLAY is a full path; without either it cannot connect, and says so on
    // stderr when asked to.
    static bool waylandReachable() {
        const char* runtime = SDL_getenv("XDG_RUNTIME_DIR");
        const char* display = SDL_getenv("WAYLAND_DISPLAY");
        return (runtime && *runtime) || (display && display[0] == '/');
    }

    SDL_Window* sdlOf(Window* w) {
        auto it = tops_.find(w);
        return it == tops_.end() ? nullptr : it->second.sdl.get();
    }

    static int keyOf(SDL_Keycode key) {
        switch (key) {
            case SDLK_RETURN:
            case SDLK_KP_ENTER: return KeyEnter;
            case SDLK_ESCAPE: return KeyEscape;
            case SDLK_SPACE: return KeySpace;
            default: return 0;
        }
    }

    Window* byId(Uint32 id) {
        auto it = byId_.find(id);
        return it == byId_.end() ? nullptr : it->second;
    }

    void handle(const SDL_Event& ev) {
        switch (ev.type) {
            case SDL_WINDOWEVENT: {
                Window* w = byId(ev.window.windowID);
                if (!w) return;
                switch (ev.window.event) {
                    case SDL_WINDOWEVENT_SIZE_CHANGED: windowCoreResized(w, ev.window.data1, ev.window.data2); break;
                    case SDL_WINDOWEVENT_MINIMIZED:
                        tops_[w].minimized = true;
                        windowCoreMinimized(w, true);
                        break;
                    case SDL_WINDOWEVENT_RESTORED:
                    case SDL_WINDOWEVENT_MAXIMIZED:
                    case SDL_WINDOWEVENT_SHOWN:
                        if (tops_.count(w) && tops_[w].minimized) {
                            tops_[w].minimized = false;
                            windowCoreMinimized(w, false);
                        }
                        break;
                    case SDL_WINDOWEVENT_EXPOSED: windowCoreExposed(w); break;
                    case SDL_WINDOWEVENT_CLOSE: windowCoreCloseRequest(w); break;
                    case SDL_WINDOWEVENT_LEAVE: windowCorePointerLeft(w); break;
                    default: break;
                }
                break;
            }
            case SDL_MOUSEMOTION:
                if (Window* w = byId(ev.motion.windowID)) windowCoreMouse(w, MsgKind::MouseMove, ev.motion.x, ev.motion.y);
                break;
            case SDL_KEYDOWN:
                if (Window* w = byId(ev.key.windowID)) windowCoreKey(w, keyOf(ev.key.keysym.sym));
                break;
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP:
                if (ev.button.button != SDL_BUTTON_LEFT) break;
                if (Window* w = byId(ev.button.windowID))
                    windowCoreMouse(w, ev.type == SDL_MOUSEBUTTONDOWN ? MsgKind::MouseDown : MsgKind::MouseUp,
                                    ev.button.x, ev.button.y);
                break;
            default:
                break;  // the wake event and SDL_QUIT carry nothing for the windows
        }
    }

    std::atomic<bool> opened_{false};
    Uint32 wakeEvent_ = 0;
    std::unordered_map<Window*, SdlTop> tops_;
    std::unordered_map<Uint32, Window*> byId_;
    SdlCursorPtr cursors_[2];
    int current_ = -1;
};

SdlBackend g_sdl;

}  // namespace

void windowUseSdl() {
    if (windowCoreBackend() != &g_sdl) windowCoreReset();
    windowCoreSetBackend(&g_sdl);
}
