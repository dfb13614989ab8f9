#include "app/interactive.h"

#include "audio/device_output.h"
#include "engine/decode_worker.h"
#include "engine/engine.h"
#include "ui/controller.h"

namespace {

// The close path: stop the scanner, ask the audio thread to stop (joined after the loop),
// stop and join the decode worker, then destroy the window, which ends the message loop.
void closeMain(Window* w) {
    g_engine.running.store(0);
    audioStopRequest(g_ac);
    g_dec.stop();
    destroyWindow(w);
}

}  // namespace

Window* interactiveStart() {
    Window* w = openMainWindow(closeMain);
    if (!w) return nullptr;

    g_dec.start();
    audioStart(g_ac);

    startTimers(w);
    return w;
}

int interactiveLoop() {
    const int code = runMessageLoop();
    // The close path only asks the audio thread to stop; it must have left Engine::render
    // before g_engine is destroyed at exit.
    audioJoin(g_ac);
    return code;
}

int runInteractive() {
    if (!interactiveStart()) return 1;
    return interactiveLoop();
}
