// X11 services of the SDL display backend (window_sdl_x11.cpp), for window_sdl.cpp. Each
// answers false, doing nothing, when the window is not on X11. Window thread only.
#pragma once

struct SDL_Window;

// Dark window decorations (_GTK_THEME_VARIANT).
bool sdlX11SetDarkVariant(SDL_Window* window);
// The frame the window manager draws around the window, in pixels; asks for it when the
// window has not been shown yet and waits up to timeoutMs for the answer. false when the
// manager reports none.
bool sdlX11FrameExtents(SDL_Window* window, int timeoutMs, int& left, int& right, int& top, int& bottom);
// Marks a window not yet shown as a dialog box.
bool sdlX11MarkDialog(SDL_Window* window);
// Keeps a wake-up that reaches a window just destroyed from ending the program (once SDL's
// X11 video is up; nothing on other drivers).
void sdlX11GuardWakeUps();
