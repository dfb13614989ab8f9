// The entry point's work after the platform is chosen: start-up (program folder, decode log)
// and the mode chosen by argument 1: --smoke, --render, or the interactive window; --version
// and --help (-h) answer before start-up.
#pragma once

#include <string>
#include <vector>

// Returns the process exit code.
int kestrumMain(const std::vector<std::wstring>& args);

// --render's settings read from the arguments (positions 2 to 6).
struct RenderArgs {
    std::wstring path = L"kestrum_render.wav";  // relative to the current directory
    int seconds = 30;                            // 1..600
    bool echo = true;                            // off only for exactly "noecho"
    bool verb = false;                           // on only for exactly "verb"
    bool hasSweep = false;                       // a sweep of 10..2000 ms was given
    float sweepMs = 200.0f;
};
RenderArgs parseRenderArgs(const std::vector<std::wstring>& args);
