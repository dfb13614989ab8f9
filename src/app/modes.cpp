#include "app/modes.h"

#include <cstdio>
#include <cwchar>

#include "app/folders.h"
#include "app/interactive.h"
#include "kestrum_build_info.h"
#include "audio/device_output.h"
#include "audio/render_wav.h"
#include "base/program.h"
#include "base/sample_rate.h"
#include "catalog/station.h"
#include "engine/engine.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

// Base-10 integer with the usual leading-digits rule: leading blanks and a sign allowed,
// reading stops at the first non-digit, no digits gives 0.
long leadingInteger(const std::wstring& s) {
    return std::wcstol(s.c_str(), nullptr, 10);
}

// One line on a terminal's stderr while --render runs, rewritten in place and erased at the end.
struct ProgressLine {
    int lastPercent = -1;
};

void showProgress(int64_t done, int64_t total, void* ctx) {
    auto* line = static_cast<ProgressLine*>(ctx);
    const int percent = int(done * 100 / total);
    if (percent == line->lastPercent) return;
    line->lastPercent = percent;
    std::fprintf(stderr, "\rrendering %3d%%  %.1f s of %.0f s", percent, double(done) / kSampleRateHz,
                 double(total) / kSampleRateHz);
}

// The short usage of --help and -h: the modes, their arguments, exit codes and the switch.
constexpr const char* kUsage =
    "Usage: kestrum [--smoke | --render [out.wav [seconds [echo-word [reverb-word [sweep-ms]]]]]]\n"
    "\n"
    "  kestrum              open the scanner's window\n"
    "  kestrum --smoke      test the default audio device: open, start, 80 ms, stop, close\n"
    "  kestrum --render ... render the scanner into a 16-bit mono WAV file, no window:\n"
    "      out.wav          output path (default kestrum_render.wav in the current folder)\n"
    "      seconds          length, 1 to 600 (default 30)\n"
    "      echo-word        noecho switches the echo off; any other word keeps it on\n"
    "      reverb-word      verb switches the reverb on; any other word keeps it off\n"
    "      sweep-ms         time per channel, 10 to 2000 ms (default 200)\n"
    "  kestrum --version    print the version\n"
    "  kestrum --help, -h   print this help\n"
    "\n"
    "Exit status: 0 on success; 1 when the window (or, for --smoke, the audio device)\n"
    "cannot be opened; 2 when --render cannot write its file.\n"
    "\n"
    "Environment: KESTRUM_TRACE, set to anything, writes the decode log _decode.log and a\n"
    "CSV trace beside every rendered WAV file (out.wav.csv). See kestrum(1) for where the\n"
    "program keeps its files.\n";

int renderCommand(const std::vector<std::wstring>& args) {
    loadStations();
    RenderArgs ra = parseRenderArgs(args);
    Engine engine;
    if (ra.hasSweep) engine.sweepMs.store(ra.sweepMs);
    engine.echoOn.store(ra.echo ? 1 : 0);
    engine.verbOn.store(ra.verb ? 1 : 0);
    // The render starts with the effects already at their switched amounts: no ramp.
    engine.echoMix = ra.echo ? 1.0f : 0.0f;
    engine.verbMix = ra.verb ? 1.0f : 0.0f;
    ProgressLine line;
    const bool terminal = stderrIsTerminal();
    const bool ok = renderWav(ra.path, ra.seconds, engine, terminal ? showProgress : nullptr, &line);
    if (terminal) std::fputs("\r\033[K", stderr);
    return ok ? 0 : 2;
}

}  // namespace

RenderArgs parseRenderArgs(const std::vector<std::wstring>& args) {
    RenderArgs ra;
    if (args.size() > 2) ra.path = args[2];
    if (args.size() > 3) {
        long s = leadingInteger(args[3]);
        if (s > 600) s = 600;
        if (s <= 0) s = 1;
        ra.seconds = int(s);
    }
    if (args.size() > 4) ra.echo = args[4] != L"noecho";
    if (args.size() > 5) ra.verb = args[5] == L"verb";
    if (args.size() > 6) {
        long ms = leadingInteger(args[6]);
        if (ms >= 10 && ms <= 2000) {
            ra.hasSweep = true;
            ra.sweepMs = float(ms);
        }
    }
    return ra;
}

int kestrumMain(const std::vector<std::wstring>& args) {
    // The two conventional questions are answered before start-up: they touch no file.
    if (args.size() >= 2 && args[1] == L"--version") {
        std::fputs("kestrum " KESTRUM_VERSION "\n", stdout);
        return 0;
    }
    if (args.size() >= 2 && (args[1] == L"--help" || args[1] == L"-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const std::wstring exe = programPath();
    programFolderFrom(exe);
    applyProgramFolders(exe);
    openDecodeLog();
    if (args.size() >= 2) {
        if (args[1] == L"--smoke") return audioDeviceTest() ? 0 : 1;
        if (args[1] == L"--render") return renderCommand(args);
    }
    loadStations();
    return runInteractive();
}
