// The command line through the real program: mode choice, --render's positional arguments
// and their reading rules, exit codes, and what a render leaves on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "kestrum_build_info.h"
#include "run_program.h"

namespace {

std::vector<int16_t> wavSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> s;
    for (size_t i = 44; i + 1 < bytes.size(); i += 2)
        s.push_back(int16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
    return s;
}

// The blocks of a render in which no clip played, from its trace: static only, which is
// noise-like, so a delay line shows in it as a sharp autocorrelation peak at its length.
std::vector<char> staticMask(const std::string& csv, size_t samples) {
    std::vector<char> mask(samples, 0);
    auto lines = readLines(csv);
    for (size_t k = 1; k < lines.size(); ++k) {
        double t = 0, freq = 0;
        int phase = 0, cur = 0;
        if (std::sscanf(lines[k].c_str(), "%lf,%d,%lf,%d", &t, &phase, &freq, &cur) != 4 || cur >= 0) continue;
        for (size_t i = (k - 1) * 1024; i < k * 1024 && i < samples; ++i) mask[i] = 1;
    }
    return mask;
}

// Normalised autocorrelation at a lag over the static parts, after the first 0.1 s.
double autocorr(const std::vector<int>& s, const std::vector<char>& mask, size_t lag) {
    double num = 0, den = 0;
    for (size_t i = 4800; i + lag < s.size(); ++i) {
        if (!mask[i] || !mask[i + lag]) continue;
        num += double(s[i]) * s[i + lag];
        den += double(s[i]) * s[i];
    }
    return den > 0 ? num / den : 0;
}

// How far the autocorrelation at `lag` stands above its neighbourhood.
double peakAt(const std::vector<int>& s, const std::vector<char>& mask, size_t lag) {
    double side = 0;
    for (int d : {-60, -40, 40, 60}) side += autocorr(s, mask, size_t(int(lag) + d));
    return autocorr(s, mask, lag) - side / 4;
}

// The dwell lengths the trace shows, all equal for a render with one sweep setting.
std::optional<int> traceDwell(const std::string& csv) {
    auto lines = readLines(csv);
    if (lines.size() < 2) return std::nullopt;
    std::optional<int> n;
    for (size_t i = 1; i < lines.size(); ++i) {
        int fields = 0;
        size_t start = 0;
        std::string col;
        for (size_t k = 0; k <= lines[i].size(); ++k) {
            if (k == lines[i].size() || lines[i][k] == ',') {
                if (fields == 6) col = lines[i].substr(start, k - start);
                ++fields;
                start = k + 1;
            }
        }
        int v = std::stoi(col);
        if (n && *n != v) return std::nullopt;
        n = v;
    }
    return n;
}

struct RenderCase {
    const char* what;
    std::vector<std::string> args;  // after "--render <path>"
    long seconds;
    bool echo;
    bool verb;
    int dwell;  // samples per dwell
};

class RenderArguments : public ::testing::TestWithParam<RenderCase> {};

TEST_P(RenderArguments, ReadByPositionAndRule) {
    const RenderCase& c = GetParam();
    TempDir dir;
    std::vector<std::string> args = {"--render", dir.file("out.wav")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProgramRun run = runProgram(args, dir.path(), {"KESTRUM_TRACE=1"});
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(run.stderrText, "");  // stderr is not a terminal: no progress line
    EXPECT_EQ(fileSize(dir.file("out.wav")), 44 + c.seconds * 96000);
    EXPECT_EQ(traceDwell(dir.file("out.wav.csv")), c.dwell);
    if (c.seconds >= 3) {
        // The echo is one tap 12000 samples (250 ms) back; the reverb's four combs are
        // 1429, 1657, 1861 and 2087 samples long.
        // Static is coloured noise whose own autocorrelation spreads wide; the first
        // difference whitens it, so a short render's chance peaks stay far below a tap's.
        auto s = wavSamples(dir.file("out.wav"));
        std::vector<int> d(s.size(), 0);
        for (size_t i = 1; i < s.size(); ++i) d[i] = int(s[i]) - int(s[i - 1]);
        auto mask = staticMask(dir.file("out.wav.csv"), s.size());
        const double echoPeak = peakAt(d, mask, 12000);
        double verbPeak = 0;
        for (size_t lag : {1429, 1657, 1861, 2087}) verbPeak += peakAt(d, mask, lag) / 4;
        if (c.echo) EXPECT_GT(echoPeak, 0.15) << "echo expected on";
        else EXPECT_LT(echoPeak, 0.04) << "echo expected off";
        if (c.verb) EXPECT_GT(verbPeak, 0.04) << "reverb expected on";
        else EXPECT_LT(verbPeak, 0.025) << "reverb expected off";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RenderArguments,
    ::testing::Values(
        RenderCase{"length0", {"0"}, 1, true, false, 9600},
        RenderCase{"lengthMinus5", {"-5"}, 1, true, false, 9600},
        RenderCase{"lengthWord", {"abc"}, 1, true, false, 9600},
        RenderCase{"lengthLeadingDigits", {"12abc"}, 12, true, false, 9600},
        RenderCase{"lengthBlanksAndSign", {"  +3"}, 3, true, false, 9600},
        RenderCase{"length601", {"601"}, 600, true, false, 9600},
        RenderCase{"length99999", {"99999"}, 600, true, false, 9600},
        RenderCase{"noecho", {"4", "noecho"}, 4, false, false, 9600},
        RenderCase{"NOECHO", {"4", "NOECHO"}, 4, true, false, 9600},
        RenderCase{"echoWord", {"4", "echo"}, 4, true, false, 9600},
        RenderCase{"verb", {"4", "noecho", "verb", "60"}, 4, false, true, 2880},
        RenderCase{"reverbWord", {"4", "noecho", "reverb", "60"}, 4, false, false, 2880},
        RenderCase{"echoAndVerb", {"4", "on", "verb", "60"}, 4, true, true, 2880},
        RenderCase{"sweep9", {"1", "echo", "x", "9"}, 1, true, false, 9600},
        RenderCase{"sweep10", {"1", "echo", "x", "10"}, 1, true, false, 2880},
        RenderCase{"sweep300", {"1", "echo", "x", "300"}, 1, true, false, 14400},
        RenderCase{"sweep2000", {"1", "echo", "x", "2000"}, 1, true, false, 96000},
        RenderCase{"sweep2001", {"1", "echo", "x", "2001"}, 1, true, false, 9600},
        // Positional: "300" in the echo word's place is a word, not a sweep period.
        RenderCase{"positional", {"1", "300"}, 1, true, false, 9600},
        RenderCase{"positionalVerb", {"1", "verb"}, 1, true, false, 9600}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(RenderCommand, DefaultsWriteThirtySecondsInTheCurrentFolder) {
    TempDir dir;
    ProgramRun run = runProgram({"--render"}, dir.path(), {}, {"KESTRUM_TRACE"});
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(fileSize(dir.file("kestrum_render.wav")), 44 + 30 * 96000);
    EXPECT_EQ(fileSize(dir.file("kestrum_render.wav.csv")), -1);  // no trace without the switch
    ProgramRun onlyPath = runProgram({"--render", "take1.wav"}, dir.path());
    ASSERT_EQ(onlyPath.exitCode, 0);
    EXPECT_EQ(fileSize(dir.file("take1.wav")), 44 + 30 * 96000);
}

TEST(RenderCommand, FailuresExitTwoAndLeaveNoFiles) {
    TempDir dir;
    ProgramRun missing = runProgram({"--render", dir.file("no/such/folder/out.wav"), "1"}, dir.path(),
                                    {"KESTRUM_TRACE=1"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(fileSize(dir.file("no")), -1);

    ProgramRun full = runProgram({"--render", "/dev/full", "1"}, dir.path(), {"KESTRUM_TRACE=1"});
    EXPECT_EQ(full.exitCode, 2);
}

TEST(RenderCommand, AWriteErrorKeepsWhatThePathHeld) {
    TempDir dir;
    const std::string out = dir.file("keep.wav");
    ASSERT_EQ(runProgram({"--render", out, "1"}).exitCode, 0);
    ASSERT_EQ(fileSize(out), 96044);
    // A file-size limit makes the next, longer render fail part-way, as a full disk would.
    std::string cmd = "cd '" + dir.path() + "' && bash -c \"ulimit -f 512; trap '' XFSZ; exec '" +
                      std::string(KESTRUM_EXE) + "' --render keep.wav 20\"";
    int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(fileSize(out), 96044);  // the earlier render is untouched
    size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1u) << "no temporary file may be left behind";
}

TEST(RenderCommand, TwoRendersToOnePathLeaveTheSecond) {
    TempDir dir;
    ASSERT_EQ(runProgram({"--render", "same.wav", "2"}, dir.path()).exitCode, 0);
    ASSERT_EQ(runProgram({"--render", "same.wav", "1"}, dir.path()).exitCode, 0);
    EXPECT_EQ(fileSize(dir.file("same.wav")), 96044);
}

TEST(RenderCommand, PathsThatAreNotUtf8AreUsedByteForByte) {
    // Linux names are bytes: a Latin-1 "é" (0xE9) in the program's folder and in the output
    // path must reach the OS unchanged, not as the replacement character.
    TempDir dir;
    const std::string bin = dir.file("bin\xE9");
    std::filesystem::create_directory(bin);
    std::filesystem::copy_file(KESTRUM_EXE, bin + "/kestrum");
    const std::string out = dir.file("caf\xE9.wav");
    ProgramRun run = runProgramAt(bin + "/kestrum", {"--render", out, "1"}, dir.path(), {"KESTRUM_TRACE=1"});
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(fileSize(out), 96044);
    EXPECT_GT(fileSize(out + ".csv"), 0);
    EXPECT_GE(fileSize(bin + "/_decode.log"), 0) << "the log goes beside the program";
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"bin\xE9", "caf\xE9.wav", "caf\xE9.wav.csv"}));
}

TEST(ModeChoice, OnlyArgumentOneChoosesAndExactly) {
    // Without a display the interactive mode cannot open its window: exit 1, nothing written.
    for (std::vector<std::string> args : {std::vector<std::string>{"x", "--render", "a.wav"},
                                          std::vector<std::string>{"--Render", "a.wav"},
                                          std::vector<std::string>{"--render-now", "a.wav"}}) {
        TempDir dir;
        ProgramRun run = runProgram(args, dir.path(), {"SDL_VIDEODRIVER=x11"}, {"DISPLAY", "WAYLAND_DISPLAY"});
        EXPECT_EQ(run.exitCode, 1) << args[0];
        EXPECT_EQ(fileSize(dir.file("a.wav")), -1) << args[0];
    }
}

// --version and --help answer on stdout and exit 0, with nothing on stderr and no file
// written, not even the decode log with the switch on; only argument 1, spelled exactly.
TEST(ConventionalArguments, VersionAndHelpAnswerAndWriteNothing) {
    TempDir bin, work;
    const std::string exe = bin.file("kestrum");
    std::filesystem::copy_file(KESTRUM_EXE, exe);
    ProgramRun version = runProgramAt(exe, {"--version", "--render"}, work.path(), {"KESTRUM_TRACE=1"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.stdoutText, std::string("kestrum ") + KESTRUM_VERSION + "\n");
    EXPECT_EQ(version.stderrText, "");
    EXPECT_EQ(std::string(KESTRUM_VERSION).find_first_not_of("0123456789."), std::string::npos);

    ProgramRun help = runProgramAt(exe, {"--help"}, work.path(), {"KESTRUM_TRACE=1"});
    ProgramRun shortHelp = runProgramAt(exe, {"-h", "--smoke"}, work.path(), {"KESTRUM_TRACE=1"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(shortHelp.exitCode, 0);
    EXPECT_EQ(help.stderrText, "");
    EXPECT_EQ(shortHelp.stdoutText, help.stdoutText);
    EXPECT_EQ(help.stdoutText.rfind("Usage: kestrum ", 0), 0u) << help.stdoutText;
    for (const char* part : {"--smoke", "--render", "out.wav", "seconds", "noecho", "verb", "sweep-ms",
                             "--version", "-h", "Exit status", "KESTRUM_TRACE"})
        EXPECT_NE(help.stdoutText.find(part), std::string::npos) << part;
    size_t longest = 0;
    for (size_t at = 0, nl; (nl = help.stdoutText.find('\n', at)) != std::string::npos; at = nl + 1)
        longest = std::max(longest, nl - at);
    EXPECT_LE(longest, 100u) << "help lines fit a terminal";

    for (const std::string& folder : {bin.path(), work.path()}) {
        size_t entries = 0;
        for (auto& e : std::filesystem::directory_iterator(folder)) entries += e.path().filename() != "kestrum";
        EXPECT_EQ(entries, 0u) << folder;
    }
}

TEST(ConventionalArguments, OnlyExactlyArgumentOne) {
    // Anything else still means the window: without a display, exit 1 and no output.
    for (std::vector<std::string> args : {std::vector<std::string>{"x", "--version"},
                                          std::vector<std::string>{"--Version"},
                                          std::vector<std::string>{"-v"},
                                          std::vector<std::string>{"-help"},
                                          std::vector<std::string>{"--help=all"},
                                          std::vector<std::string>{"-H"}}) {
        TempDir dir;
        ProgramRun run = runProgram(args, dir.path(), {"SDL_VIDEODRIVER=x11"}, {"DISPLAY", "WAYLAND_DISPLAY"});
        EXPECT_EQ(run.exitCode, 1) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_EQ(run.stdoutText, "") << args[0];
    }
}

TEST(DecodeLog, CreatedBesideTheProgramOnlyWithTheSwitch) {
    // A copy of the program in a folder of its own, so the log is this test's alone.
    TempDir bin, work;
    const std::string exe = bin.file("kestrum");
    std::filesystem::copy_file(KESTRUM_EXE, exe);
    const std::string log = bin.file("_decode.log");
    ASSERT_EQ(runProgramAt(exe, {"--render", "a.wav", "1"}, work.path(), {}, {"KESTRUM_TRACE"}).exitCode, 0);
    EXPECT_EQ(fileSize(log), -1);
    EXPECT_EQ(fileSize(work.file("_decode.log")), -1);
    ASSERT_EQ(runProgramAt(exe, {"--render", "a.wav", "1"}, work.path(), {"KESTRUM_TRACE=0"}).exitCode, 0);
    auto lines = readLines(log);
    ASSERT_FALSE(lines.empty()) << "the start of a run decodes at least one clip";
    for (const auto& l : lines) EXPECT_EQ(l.rfind("dec ", 0), 0u) << l;
    EXPECT_NE(lines.back().find(" bestRms "), std::string::npos) << lines.back();
    // The device test decodes nothing: the log is created and stays empty.
    runProgramAt(exe, {"--smoke"}, work.path(), {"KESTRUM_TRACE=1"});
    EXPECT_EQ(fileSize(log), 0);
}

}  // namespace
