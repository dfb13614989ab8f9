// The X11 part of the SDL display backend, kept apart because Xlib's own "Window" type
// cannot share a file with the window system's:
// - the dark frame as the window property _GTK_THEME_VARIANT = "dark", which desktops that
//   draw GTK-style frames honour;
// - the frame extents the window manager reports (_NET_FRAME_EXTENTS), asked for before
//   the window is first shown with _NET_REQUEST_FRAME_EXTENTS;
// - a warning box marked as a dialog (_NET_WM_WINDOW_TYPE_DIALOG);
// - an X error handler that lets a wake-up sent to a window that has just been destroyed
//   pass, instead of Xlib's default handler ending the process.
#include <SDL.h>
#include <SDL_syswm.h>

#include "platform/window_sdl_x11.h"

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#endif

#if defined(SDL_VIDEO_DRIVER_X11)
namespace {

bool x11Of(SDL_Window* window, Display*& display, ::Window& xwindow) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
    display = info.info.x11.display;
    xwindow = info.info.x11.window;
    return true;
}

// Whether the window manager lists atom among the hints it supports.
bool wmSupports(Display* display, Atom atom) {
    const Atom supported = XInternAtom(display, "_NET_SUPPORTED", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, rest = 0;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(display, DefaultRootWindow(display), supported, 0, 4096, False, XA_ATOM, &type, &format,
                           &count, &rest, &data) == Success &&
        data && format == 32) {
        const Atom* atoms = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count && !found; ++i) found = atoms[i] == atom;
    }
    if (data) XFree(data);
    return found;
}

bool readExtents(Display* display, ::Window xwindow, Atom extentsAtom, int out[4]) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, rest = 0;
    unsigned char* data = nullptr;
    bool ok = false;
    if (XGetWindowProperty(display, xwindow, extentsAtom, 0, 4, False, XA_CARDINAL, &type, &format, &count, &rest,
                           &data) == Success &&
        data && format == 32 && count == 4) {
        const long* v = reinterpret_cast<const long*>(data);  // format 32 arrives as longs
        for (int i = 0; i < 4; ++i) out[i] = int(v[i]);
        ok = true;
    }
    if (data) XFree(data);
    return ok;
}

}  // namespace
#endif

bool sdlX11SetDarkVariant(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    Display* display = nullptr;
    ::Window xwindow = 0;
    if (!x11Of(window, display, xwindow)) return false;
    const Atom variant = XInternAtom(display, "_GTK_THEME_VARIANT", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    static const char kDark[] = "dark";
    XChangeProperty(display, xwindow, variant, utf8, 8, PropModeReplace, reinterpret_cast<const unsigned char*>(kDark),
                    int(sizeof kDark - 1));
    XFlush(display);
    return true;
#else
    (void)window;
    return false;
#endif
}

bool sdlX11FrameExtents(SDL_Window* window, int timeoutMs, int& left, int& right, int& top, int& bottom) {
#if defined(SDL_VIDEO_DRIVER_X11)
    Display* display = nullptr;
    ::Window xwindow = 0;
    if (!x11Of(window, display, xwindow)) return false;
    const Atom extentsAtom = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    int v[4];
    bool ok = readExtents(display, xwindow, extentsAtom, v);
    const Atom request = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
    if (!ok && wmSupports(display, request)) {
        // The manager answers by setting the property on the window, usually within a few
        // milliseconds.
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = xwindow;
        ev.xclient.message_type = request;
        ev.xclient.format = 32;
        XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
        XFlush(display);
        const Uint64 until = SDL_GetTicks64() + Uint64(timeoutMs);
        while (!(ok = readExtents(display, xwindow, extentsAtom, v)) && SDL_GetTicks64() < until) SDL_Delay(2);
    }
    if (!ok) return false;
    left = v[0];
    right = v[1];
    top = v[2];
    bottom = v[3];
    return true;
#else
    (void)window, (void)timeoutMs, (void)left, (void)right, (void)top, (void)bottom;
    return false;
#endif
}

bool sdlX11MarkDialog(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    Display* display = nullptr;
    ::Window xwindow = 0;
    if (!x11Of(window, display, xwindow)) return false;
    const Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
    const Atom dialog = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    XChangeProperty(display, xwindow, type, XA_ATOM, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&dialog),
                    1);
    XFlush(display);
    return true;
#else
    (void)window;
    return false;
#endif
}

#if defined(SDL_VIDEO_DRIVER_X11)
namespace {

XErrorHandler g_previousXErrorHandler = nullptr;

// SDL wakes its waiting event loop from another thread by sending a client message to one
// of the program's windows over a second connection. When the window thread destroys that
// window (the warning box) at the same moment, the server answers BadWindow for the send,
// and Xlib's default handler would end the program with exit code 1. That one error is
// harmless: the loop is woken by the next event anyway. Every other error goes on to the
// handler that was there before.
int ignoreLostWakeUps(Display* display, XErrorEvent* error) {
    if (error->error_code == BadWindow && error->request_code == X_SendEvent) return 0;
    return g_previousXErrorHandler ? g_previousXErrorHandler(display, error) : 0;
}

}  // namespace
#endif

void sdlX11GuardWakeUps() {
#if defined(SDL_VIDEO_DRIVER_X11)
    if (SDL_strcmp(SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "", "x11") != 0) return;
    XErrorHandler previous = XSetErrorHandler(ignoreLostWakeUps);
    if (previous != ignoreLostWakeUps) g_previousXErrorHandler = previous;
#endif
}
