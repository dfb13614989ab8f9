#include "app/modes.h"

#include <cstdio>
#include <cwchar>

#include "app/program.h"
#include "audio/device_output.h"
#include "audio/render_wav.h"
#include "catalog/station.h"
#include "engine/engine.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "ui/controller.h"

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
    std::fprintf(stderr, "\rrendering %3d%%  %.1f s of %.0f s", percent, double(done) / 48000.0,
                 double(total) / 48000.0);
}

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
    programFolderFrom(programPath());
    openDecodeLog();
    if (args.size() >= 2) {
        if (args[1] == L"--smoke") return audioDeviceTest() ? 0 : 1;
        if (args[1] == L"--render") return renderCommand(args);
    }
    loadStations();
    return runInteractive();
}
