// Entry point: chooses the real platform backends (SDL2 and ALSA on Linux, Win32 and Core
// Audio on Windows) and hands over to the program.
#include "app/modes.h"
#include "base/program.h"
#include "platform/audio_device.h"
#include "platform/data_blocks.h"
#include "platform/paths.h"
#include "platform/window_system.h"

int main(int argc, char** argv) {
    g_hInst = builtinDataBlocks();
#ifdef _WIN32
    audioUseCoreAudio();
    windowUseWin32();
#else
    audioUseAlsa();
    windowUseSdl();
#endif
    return kestrumMain(processArgs(argc, argv));
}
