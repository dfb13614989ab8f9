// The X11 part of the SDL display backend, kept apart because Xlib's own "Window" type
// cannot share a file with the window system's: the dark frame as the window property
// _GTK_THEME_VARIANT = "dark", which desktops that draw GTK-style frames honour.
#include <SDL.h>
#include <SDL_syswm.h>

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

bool sdlX11SetDarkVariant(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
    Display* display = info.info.x11.display;
    const Atom variant = XInternAtom(display, "_GTK_THEME_VARIANT", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    static const char kDark[] = "dark";
    XChangeProperty(display, info.info.x11.window, variant, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(kDark), int(sizeof kDark - 1));
    XFlush(display);
    return true;
#else
    (void)window;
    return false;
#endif
}
