// The real display backend on Win32: one native window class for the top-level windows,
// the composed frame copied to the window with StretchDIBits, the pointer and its capture,
// the system cursors, the frame colours through DWM, the frame's extents, the program icon
// from the module's resources, the warning box as MessageBoxW, keys, and the loop's wait for
// input.
//
// The window core draws and composes everything in memory; the native window only shows
// the frame and reports input, sizes and the close button through the windowCore*
// functions.
//
// Modal loops: MessageBoxW and the system's own loops while the user moves or sizes the
// window (or opens its system menu) run their own message loops, which never come back to
// the core's. While one runs, a native timer on the window drives the core every 10 ms
// (windowCoreTurn), so that its timers keep firing and the window keeps painting.
//
// Sections: native constants; top-level records; the backend; window procedure; selection.
#ifndef UNICODE
#define UNICODE  // the system's wide names (IDC_ARROW, ...) as wide strings
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <dwmapi.h>

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "platform/win32/window_icon_id.h"
#include "platform/window_backend.h"

namespace {

// ---- Native constants ----

constexpr wchar_t kNativeClass[] = L"KestrumWnd";
constexpr DWORD kTopStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kFixedStyle = kTopStyle & ~(WS_THICKFRAME | WS_MAXIMIZEBOX);

// The native timer that drives the core while a modal loop runs.
constexpr UINT_PTR kDriveTimerId = 1;
constexpr UINT kDrivePeriodMs = 10;

// Frame colours through DWM (attribute numbers of Windows 10 20H1 and Windows 11; older
// systems refuse them, which leaves the system's frame). Colours are 0x00BBGGRR.
constexpr DWORD kDwmImmersiveDarkMode = 20;
constexpr DWORD kDwmCaptionColour = 35;
constexpr DWORD kDwmCaptionTextColour = 36;
constexpr COLORREF kCaptionColour = 0x00080B07;
constexpr COLORREF kCaptionTextColour = 0x00D6FFB9;

LRESULT CALLBACK topProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

// ---- Top-level records ----

struct NativeTop {
    Window* w = nullptr;
    HWND hwnd = nullptr;
    DWORD style = kTopStyle;
    Size minClient{0, 0};
    bool ready = false;      // reports go to the core only once the window is complete
    bool minimized = false;
    bool leaveTracked = false;  // a WM_MOUSELEAVE is asked for
};

// The outer rectangle of a window of this style (no menu) whose client area is cw x ch at
// (x, y) on the display.
RECT outerFor(DWORD style, int x, int y, int cw, int ch) {
    RECT r{x, y, x + std::max(1, cw), y + std::max(1, ch)};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    return r;
}

int signedLow(LPARAM lp) { return int(short(LOWORD(lp))); }
int signedHigh(LPARAM lp) { return int(short(HIWORD(lp))); }

// ---- The backend ----

class Win32Backend final : public DisplayBackend {
public:
    // ---- Opening ----
    // The class and the wake event, once. Pixels are the display's own: the layout scales
    // with the client size, so the system must not stretch the window's bitmap.
    bool open() {
        if (opened_) return true;
        SetProcessDPIAware();
        instance_ = GetModuleHandleW(nullptr);
        HICON icon = LoadIconW(instance_, MAKEINTRESOURCEW(KESTRUM_ICON_RESOURCE));
        HICON small = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(KESTRUM_ICON_RESOURCE), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = topProc;
        wc.hInstance = instance_;
        wc.hIcon = icon ? icon : LoadIconW(nullptr, IDI_APPLICATION);
        wc.hIconSm = small;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kNativeClass;
        if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
        wakeEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        cursors_[0] = LoadCursorW(nullptr, IDC_ARROW);
        cursors_[1] = LoadCursorW(nullptr, IDC_HAND);
        opened_ = true;
        return true;
    }

    // ---- Top-level windows ----
    bool openTopLevel(Window* w, const std::wstring& title, int x, int y, int cw, int ch, bool visible,
                      bool resizable, Size minClient) override {
        if (!open()) return false;
        auto top = std::make_unique<NativeTop>();
        top->w = w;
        top->style = resizable ? kTopStyle : kFixedStyle;
        top->minClient = minClient;
        RECT r = outerFor(top->style, x, y, cw, ch);
        // The client area goes where the core asks, but the title bar stays on the display.
        if (r.top < 0) OffsetRect(&r, 0, -r.top);
        HWND hwnd = CreateWindowExW(0, kNativeClass, title.c_str(), top->style | (visible ? WS_VISIBLE : 0), r.left,
                                    r.top, r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance_, top.get());
        if (!hwnd) return false;
        top->hwnd = hwnd;
        top->ready = true;
        byHwnd_[hwnd] = top.get();
        tops_[w] = std::move(top);
        return true;
    }

    void closeTopLevel(Window* w) override {
        auto it = tops_.find(w);
        if (it == tops_.end()) return;
        NativeTop& top = *it->second;
        top.ready = false;  // what DestroyWindow sends is not news for the core
        if (GetCapture() == top.hwnd) ReleaseCapture();
        endModalFor(top.hwnd);
        DestroyWindow(top.hwnd);
        byHwnd_.erase(top.hwnd);
        if (mouseTop_ == top.hwnd) mouseTop_ = nullptr;
        tops_.erase(it);
    }

    void setTitle(Window* w, const std::wstring& title) override {
        if (NativeTop* t = topOf(w)) SetWindowTextW(t->hwnd, title.c_str());
    }

    void show(Window* w) override {
        NativeTop* t = topOf(w);
        if (!t) return;
        ShowWindow(t->hwnd, SW_SHOW);
        // The system or the window manager may have given the window another size than
        // the one asked for.
        reportClientSize(*t);
    }

    void place(Window* w, int x, int y, int cw, int ch) override {
        NativeTop* t = topOf(w);
        if (!t) return;
        const RECT r = outerFor(t->style, x, y, cw, ch);
        t->ready = false;  // the core sets the new place itself
        SetWindowPos(t->hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        t->ready = true;
    }

    void present(Window* w, const Canvas& frame) override {
        NativeTop* t = topOf(w);
        if (!t || IsIconic(t->hwnd)) return;
        HDC dc = GetDC(t->hwnd);
        if (!dc) return;
        blit(t->hwnd, dc, frame);
        ReleaseDC(t->hwnd, dc);
        // Out with it now: the window thread may block next (a render from the button), and
        // a frame left in GDI's batch would not show until it is back. Wine keeps a window's
        // drawing in its own surface until the thread looks for messages: a wait that
        // returns at once, which dispatches nothing, pushes it to the display.
        GdiFlush();
        MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0);
    }

    bool windowPos(Window* w, int& x, int& y) override {
        NativeTop* t = topOf(w);
        POINT p{0, 0};
        if (!t || !ClientToScreen(t->hwnd, &p)) return false;
        x = p.x;
        y = p.y;
        return true;
    }

    bool isMinimized(Window* w) override {
        NativeTop* t = topOf(w);
        return t && IsIconic(t->hwnd);
    }

    // Dark mode, caption and caption text colours; a system without them keeps its own.
    void setDarkFrame(Window* w) override {
        NativeTop* t = topOf(w);
        if (!t) return;
        const BOOL dark = TRUE;
        DwmSetWindowAttribute(t->hwnd, kDwmImmersiveDarkMode, &dark, sizeof dark);
        DwmSetWindowAttribute(t->hwnd, kDwmCaptionColour, &kCaptionColour, sizeof kCaptionColour);
        DwmSetWindowAttribute(t->hwnd, kDwmCaptionTextColour, &kCaptionTextColour, sizeof kCaptionTextColour);
    }

    // The frame's thickness on each side: the window's outer rectangle around its client area.
    bool frameExtents(Window* w, Rect& extents) override {
        NativeTop* t = topOf(w);
        RECT outer;
        POINT origin{0, 0};
        RECT client;
        if (!t || !GetWindowRect(t->hwnd, &outer) || !GetClientRect(t->hwnd, &client) ||
            !ClientToScreen(t->hwnd, &origin))
            return false;
        extents = Rect{origin.x - outer.left, origin.y - outer.top, outer.right - (origin.x + client.right),
                       outer.bottom - (origin.y + client.bottom)};
        return true;
    }

    // A box of the core's own (not used while the system's box serves): owned by its owner's
    // native window, so that it stays above it.
    void boxOpened(Window* w, Window* owner, const std::wstring&, const std::wstring&) override {
        NativeTop* t = topOf(w);
        NativeTop* o = topOf(owner);
        if (t && o) SetWindowLongPtrW(t->hwnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(o->hwnd));
    }

    // ---- Cursor, box, display ----

    void setCursor(CursorShape shape) override {
        cursor_ = shape;
        SetCursor(cursorHandle());
    }

    void captureMouse(bool on) override {
        HWND hwnd = mouseTop_ ? mouseTop_ : anyTop();
        if (!hwnd) return;
        if (on) {
            if (GetCapture() != hwnd) SetCapture(hwnd);
        } else if (GetCapture() == hwnd) {
            releasing_ = true;
            ReleaseCapture();
            releasing_ = false;
        }
    }

    // The system's warning box. It disables its owner while open and runs a loop of its own;
    // the drive timer keeps the core's timers and painting going meanwhile.
    bool platformBox(Window* owner, const std::wstring& text, const std::wstring& caption) override {
        NativeTop* t = topOf(owner);
        HWND hwnd = t ? t->hwnd : nullptr;
        beginModal(hwnd);
        MessageBoxW(hwnd, text.c_str(), caption.c_str(), MB_OK | MB_ICONWARNING);
        endModal(hwnd);
        return true;
    }

    Size displaySize() override {
        if (!open()) return Size{0, 0};
        return Size{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }

    // ---- Time and waiting ----
    uint64_t nowMs() override { return GetTickCount64(); }

    void wait(int timeoutMs) override {
        if (!opened_) return;
        MsgWaitForMultipleObjectsEx(1, &wakeEvent_, timeoutMs < 0 ? INFINITE : DWORD(timeoutMs), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.message == WM_QUIT) {
                windowCoreQuit(int(m.wParam));
                continue;
            }
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }

    void wake() override {
        if (opened_) SetEvent(wakeEvent_);
    }

    // ---- From the window procedure ----
    NativeTop* byHwnd(HWND hwnd) {
        auto it = byHwnd_.find(hwnd);
        return it == byHwnd_.end() ? nullptr : it->second;
    }

    HCURSOR cursorHandle() const { return cursors_[cursor_ == CursorShape::Hand ? 1 : 0]; }

    void mouse(NativeTop& t, MsgKind kind, LPARAM lp) {
        mouseTop_ = t.hwnd;
        if (!t.leaveTracked) {
            // One WM_MOUSELEAVE when the pointer next leaves the client area.
            TRACKMOUSEEVENT tme{};
            tme.cbSize = sizeof tme;
            tme.dwFlags = TME_LEAVE;
            tme.hwndTrack = t.hwnd;
            t.leaveTracked = TrackMouseEvent(&tme) != FALSE;
        }
        windowCoreMouse(t.w, kind, signedLow(lp), signedHigh(lp));
    }

    void pointerLeft(NativeTop& t) {
        t.leaveTracked = false;
        windowCorePointerLeft(t.w);
    }

    // Enter, Escape and Space by name; any other key as 0.
    static void key(NativeTop& t, WPARAM vk) {
        const int code = vk == VK_RETURN ? KeyEnter : vk == VK_ESCAPE ? KeyEscape : vk == VK_SPACE ? KeySpace : 0;
        windowCoreKey(t.w, code);
    }

    // The capture went elsewhere (another window, a system loop): the core lets go too, so
    // that the control that held it stops following the pointer.
    void captureLost() {
        if (!releasing_) releaseCapture();
    }

    void sized(NativeTop& t, WPARAM kind) {
        if (kind == SIZE_MINIMIZED) {
            if (!t.minimized) {
                t.minimized = true;
                windowCoreMinimized(t.w, true);
            }
            return;
        }
        if (t.minimized) {
            t.minimized = false;
            const Rect core = clientRect(t.w);
            RECT rc;
            GetClientRect(t.hwnd, &rc);
            if (rc.right == core.right && rc.bottom == core.bottom) {
                windowCoreMinimized(t.w, false);
                return;
            }
        }
        reportClientSize(t);
        // Inside the system's sizing loop the core's own loop is not running: show the
        // new layout now rather than at the next drive tick.
        if (modalDepth_ > 0) windowCoreTurn(false);
    }

    void paint(NativeTop& t) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(t.hwnd, &ps);
        if (dc) {
            if (const Canvas* frame = windowCoreFrame(t.w)) blit(t.hwnd, dc, *frame);
            EndPaint(t.hwnd, &ps);
        }
    }

    void minTrackSize(NativeTop& t, MINMAXINFO& info) {
        if (t.minClient.cx <= 0 && t.minClient.cy <= 0) return;
        const RECT r = outerFor(t.style, 0, 0, t.minClient.cx, t.minClient.cy);
        info.ptMinTrackSize.x = r.right - r.left;
        info.ptMinTrackSize.y = r.bottom - r.top;
    }

    // A modal loop of the system's or of a message box starts or ends on hwnd.
    void beginModal(HWND hwnd) {
        if (++modalDepth_ == 1 && hwnd) {
            driveHwnd_ = hwnd;
            SetTimer(hwnd, kDriveTimerId, kDrivePeriodMs, nullptr);
        }
    }
    void endModal(HWND hwnd) {
        (void)hwnd;
        if (modalDepth_ == 0) return;
        if (--modalDepth_ == 0 && driveHwnd_) {
            KillTimer(driveHwnd_, kDriveTimerId);
            driveHwnd_ = nullptr;
        }
    }
    void drive() {
        if (modalDepth_ > 0) windowCoreTurn(false);
    }

private:
    NativeTop* topOf(Window* w) {
        auto it = tops_.find(w);
        return it == tops_.end() ? nullptr : it->second.get();
    }

    HWND anyTop() const { return tops_.empty() ? nullptr : tops_.begin()->second->hwnd; }

    void endModalFor(HWND hwnd) {
        if (driveHwnd_ != hwnd) return;
        KillTimer(hwnd, kDriveTimerId);
        driveHwnd_ = nullptr;
    }

    void reportClientSize(NativeTop& t) {
        RECT rc;
        if (!t.ready || IsIconic(t.hwnd) || !GetClientRect(t.hwnd, &rc)) return;
        windowCoreResized(t.w, rc.right - rc.left, rc.bottom - rc.top);
    }

    // The frame at the client area's top-left; what the frame does not cover (while the
    // core has not yet caught up with a new size) is black.
    static void blit(HWND hwnd, HDC dc, const Canvas& frame) {
        const int fw = frame.width(), fh = frame.height();
        BITMAPINFO bmi{};
        bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
        bmi.bmiHeader.biWidth = frame.stridePixels();
        bmi.bmiHeader.biHeight = -fh;  // top-down, as the canvas keeps its rows
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        StretchDIBits(dc, 0, 0, fw, fh, 0, 0, fw, fh, frame.pixels(), &bmi, DIB_RGB_COLORS, SRCCOPY);
        RECT rc;
        if (!GetClientRect(hwnd, &rc)) return;
        HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        if (rc.right > fw) {
            const RECT right{fw, 0, rc.right, rc.bottom};
            FillRect(dc, &right, black);
        }
        if (rc.bottom > fh) {
            const RECT below{0, fh, std::min<LONG>(fw, rc.right), rc.bottom};
            FillRect(dc, &below, black);
        }
    }

    bool opened_ = false;
    HINSTANCE instance_ = nullptr;
    HANDLE wakeEvent_ = nullptr;  // auto-reset; lives as long as the process
    HCURSOR cursors_[2] = {nullptr, nullptr};
    CursorShape cursor_ = CursorShape::Arrow;
    std::unordered_map<Window*, std::unique_ptr<NativeTop>> tops_;
    std::unordered_map<HWND, NativeTop*> byHwnd_;
    HWND mouseTop_ = nullptr;  // the window the pointer last reported in
    bool releasing_ = false;
    int modalDepth_ = 0;
    HWND driveHwnd_ = nullptr;
};

Win32Backend g_win32;

// ---- Window procedure ----

LRESULT CALLBACK topProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    NativeTop* t = g_win32.byHwnd(hwnd);
    if (msg == WM_GETMINMAXINFO) {
        // Also sent from inside CreateWindowExW, before the window is in the table.
        NativeTop* creating = t;
        if (!creating) creating = reinterpret_cast<NativeTop*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (creating) g_win32.minTrackSize(*creating, *reinterpret_cast<MINMAXINFO*>(lp));
        return 0;
    }
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    if (!t || !t->ready) {
        if (msg == WM_ERASEBKGND) return 1;
        return DefWindowProcW(hwnd, msg, wp, lp);
    }

    switch (msg) {
        case WM_PAINT:
            g_win32.paint(*t);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the frame covers every pixel
        case WM_SIZE:
            g_win32.sized(*t, wp);
            return 0;
        case WM_MOUSEMOVE:
            g_win32.mouse(*t, MsgKind::MouseMove, lp);
            return 0;
        case WM_LBUTTONDOWN:
            g_win32.mouse(*t, MsgKind::MouseDown, lp);
            return 0;
        case WM_LBUTTONUP:
            g_win32.mouse(*t, MsgKind::MouseUp, lp);
            return 0;
        case WM_MOUSELEAVE:
            g_win32.pointerLeft(*t);
            return 0;
        case WM_KEYDOWN:
            Win32Backend::key(*t, wp);
            return 0;
        case WM_SETCURSOR:
            // In the client area the shape is the core's (set on every move); on the frame
            // the system's sizing arrows.
            if (LOWORD(lp) == HTCLIENT) {
                SetCursor(g_win32.cursorHandle());
                return TRUE;
            }
            break;
        case WM_CAPTURECHANGED:
            if (reinterpret_cast<HWND>(lp) != hwnd) g_win32.captureLost();
            return 0;
        case WM_CLOSE:
            windowCoreCloseRequest(t->w);  // the core destroys the window, or not
            return 0;
        case WM_ENTERSIZEMOVE:
        case WM_ENTERMENULOOP:
            g_win32.beginModal(hwnd);
            return 0;
        case WM_EXITSIZEMOVE:
        case WM_EXITMENULOOP:
            g_win32.endModal(hwnd);
            return 0;
        case WM_TIMER:
            if (wp == kDriveTimerId) {
                g_win32.drive();
                return 0;
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

// ---- Selection ----

void windowUseWin32() {
    if (windowCoreBackend() != &g_win32) windowCoreReset();
    windowCoreSetBackend(&g_win32);
}
