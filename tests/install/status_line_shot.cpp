// Draws the main window at its design size through the headless display, with a given text
// on the status line, and writes the picture as PNG: the reference that the real-window test
// compares its screenshot's status line with. The same controller, layout, fonts and canvas
// paint both, so the status line's pixels match where the text does.
// Usage: status_line_shot <status text> <out.png>
#include <cstdio>
#include <unistd.h>

#include "app/interactive.h"
#include "catalog/station.h"
#include "platform/audio_device.h"
#include "platform/paths.h"
#include "platform/window_headless.h"
#include "platform/window_system.h"
#include "ui/controller.h"
#include "ui/ui_state.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: status_line_shot <status text> <out.png>\n");
        return 2;
    }
    audioUseFake();
    windowUseHeadless(1024, 768);
    Window* w = interactiveStart();
    if (!w) return 1;
    setWindowText(lStatus, osToWide(argv[1]));
    headlessPump();
    const bool ok = headlessWritePng(argv[2]);
    std::fflush(nullptr);
    _exit(ok ? 0 : 1);  // the audio thread and the decode worker are not waited for
}
