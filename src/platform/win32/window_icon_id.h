// The resource number of the program icon inside kestrum.exe. The resource script that
// embeds the icon and the display backend that loads it (window_win32.cpp) share it. Only
// preprocessor text, so that the resource compiler can read it as well.
#ifndef KESTRUM_WINDOW_ICON_ID_H
#define KESTRUM_WINDOW_ICON_ID_H

#define KESTRUM_ICON_RESOURCE 1

#endif
