// Entry point: chooses the real platform backends and hands over to the program.
#include "app/modes.h"
#include "base/program.h"
#include "platform/audio_device.h"
#include "platform/data_blocks.h"
#include "platform/paths.h"
#include "platform/window_system.h"

int main(int argc, char** argv) {
    g_hInst = builtinDataBlocks();
    audioUseAlsa();
    windowUseSdl();
    return kestrumMain(processArgs(argc, argv));
}
