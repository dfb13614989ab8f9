// A render as someone at a terminal sees it, through the real program on a pseudo-terminal:
// the progress line while it runs and its erasure at the end, and what an interruption
// (Ctrl-C, SIGTERM, a hang-up) leaves on disk: nothing new, and the earlier file untouched.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "run_program.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The real program with a pseudo-terminal for its stdin, stdout and stderr, as in a terminal
// window: the test holds the terminal's other side and reads everything it shows.
class TerminalRun {
public:
    TerminalRun(const std::vector<std::string>& args, const std::string& cwd,
                const std::vector<std::string>& extraEnv = {}) {
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            // The signals act as they would for a program started from a shell, whatever
            // the test runner inherited.
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int sig : kCleanupSignals) signal(sig, SIG_DFL);
            if (chdir(cwd.c_str()) != 0) _exit(127);
            for (const auto& kv : extraEnv) putenv(strdup(kv.c_str()));
            std::vector<char*> argv{const_cast<char*>(KESTRUM_EXE)};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execve(KESTRUM_EXE, argv.data(), environ);
            _exit(127);
        }
    }
    ~TerminalRun() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    bool started() const { return pid_ > 0 && master_ >= 0; }
    pid_t pid() const { return pid_; }
    const std::string& shown() const { return shown_; }

    // Reads what the terminal shows for up to timeoutMs; false once the program has closed
    // its side. The program must be read from while it runs: a full terminal stops it.
    bool read(int timeoutMs) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return true;
        char buf[4096];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            shown_.append(buf, size_t(n));
            return true;
        }
        return n < 0 && errno == EINTR;
    }

    // Types on the terminal's keyboard.
    void type(const std::string& keys) { ASSERT_EQ(write(master_, keys.data(), keys.size()), ssize_t(keys.size())); }

    // Reads until the program closes the terminal, then its wait status.
    int finish() {
        while (read(1000)) {
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return status;
    }

private:
    pid_t pid_ = -1;
    int master_ = -1;
    bool reaped_ = false;
    std::string shown_;
};

std::vector<std::string> folderEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ProgressLine, ShownOnATerminalAndErasedAtTheEnd) {
    TempDir dir;
    TerminalRun run({"--render", "out.wav", "20"}, dir.path());
    ASSERT_TRUE(run.started());
    const int status = run.finish();
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    ASSERT_EQ(WEXITSTATUS(status), 0) << run.shown();
    EXPECT_EQ(fileSize(dir.file("out.wav")), 44 + 20 * 96000);

    // Everything shown is the line rewritten in place after a carriage return, and at the
    // end the line erased: "\r" then erase-to-end-of-line.
    const std::string& shown = run.shown();
    const std::string erase = "\r\033[K";
    ASSERT_GE(shown.size(), erase.size());
    EXPECT_EQ(shown.substr(shown.size() - erase.size()), erase) << "the line is erased at the end";
    ASSERT_EQ(shown[0], '\r') << shown;
    const std::string lines = shown.substr(1, shown.size() - erase.size() - 1);
    const std::regex line(R"(rendering +(\d+)%  (\d+\.\d) s of 20 s)");
    int updates = 0, lastPercent = -1;
    double lastSeconds = -1;
    for (size_t start = 0; start <= lines.size();) {
        size_t end = lines.find('\r', start);
        if (end == std::string::npos) end = lines.size();
        const std::string one = lines.substr(start, end - start);
        start = end + 1;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(one, m, line)) << "not a progress line: \"" << one << "\"";
        const int percent = std::stoi(m[1].str());
        const double seconds = std::stod(m[2].str());
        EXPECT_GT(percent, lastPercent) << one;
        EXPECT_GE(seconds, lastSeconds) << one;
        // The percentage is of the 20 s rendered; the seconds are shown to a tenth.
        EXPECT_LE(percent, seconds * 5 + 0.25) << one;
        EXPECT_GT(percent, seconds * 5 - 1.25) << one;
        lastPercent = percent;
        lastSeconds = seconds;
        ++updates;
    }
    EXPECT_EQ(lastPercent, 100);
    EXPECT_EQ(lastSeconds, 20.0);
    EXPECT_GE(updates, 50) << "the line follows the render";
}

struct InterruptCase {
    const char* name;
    int signal;
    bool typed;  // sent by the terminal's interrupt key rather than kill()
};

void PrintTo(const InterruptCase& c, std::ostream* os) { *os << c.name; }

class InterruptedRender : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(InterruptedRender, LeavesNoFileBehindAndDiesOfTheSignal) {
    const InterruptCase& c = GetParam();
    TempDir dir;
    const std::string earlier = "an earlier take, not a WAV file at all";
    std::ofstream(dir.file("out.wav"), std::ios::binary) << earlier;
    TerminalRun run({"--render", "out.wav", "600"}, dir.path(), {"KESTRUM_TRACE=1"});
    ASSERT_TRUE(run.started());

    // The render is under way once its WAV and its trace are staged beside the target.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    size_t staged = 0;
    while (staged < 2 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_TRUE(run.read(10)) << "the render ended early: " << run.shown();
        staged = folderEntries(dir.path()).size() - 1;
    }
    ASSERT_EQ(staged, 2u) << "the staged WAV and trace never appeared";

    if (c.typed)
        run.type("\x03");
    else
        ASSERT_EQ(kill(run.pid(), c.signal), 0);
    const int status = run.finish();
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status << ", shown: " << run.shown();
    EXPECT_EQ(WTERMSIG(status), c.signal);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"out.wav"});
    EXPECT_EQ(contents(dir.file("out.wav")), earlier);
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedRender,
                         ::testing::Values(InterruptCase{"CtrlC", SIGINT, true},
                                           InterruptCase{"SIGINT", SIGINT, false},
                                           InterruptCase{"SIGTERM", SIGTERM, false},
                                           InterruptCase{"SIGHUP", SIGHUP, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
