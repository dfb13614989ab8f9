// The window mode through the real program where no display can show its window: no
// display named at all, a display where no server listens, or only SDL's drivers that draw
// into memory. It must end at once with exit code 1 and print nothing. The program runs
// with SDL's own choice of driver (nothing forced), with a deadline so that a hang fails the
// test instead of stopping it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "run_program.h"

extern char** environ;

namespace {

struct TimedRun {
    int exitCode = -1;  // -1: killed at the deadline, or ended by a signal
    double seconds = 0;
    std::string output;  // stdout and stderr together
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The program with args, the environment changed as given, killed after deadlineSec.
TimedRun runWithDeadline(const std::vector<std::string>& args, const std::vector<std::string>& setEnv,
                         const std::vector<std::string>& unsetEnv, const std::string& outPath, double deadlineSec) {
    TimedRun run;
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) _exit(127);
        dup2(fd, 1);
        dup2(fd, 2);
        for (const auto& name : unsetEnv) unsetenv(name.c_str());
        for (const auto& kv : setEnv) putenv(strdup(kv.c_str()));
        std::vector<char*> argv{const_cast<char*>(KESTRUM_EXE)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execve(KESTRUM_EXE, argv.data(), environ);
        _exit(127);
    }
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (done == pid) {
            run.seconds = elapsed;
            if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
            break;
        }
        if (elapsed > deadlineSec) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            run.seconds = elapsed;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.output = readFile(outPath);
    return run;
}

// A display name where no X server listens: the first number without a socket or lock.
std::string deadDisplay() {
    struct stat st;
    for (int n = 77;; ++n) {
        const std::string num = std::to_string(n);
        if (stat(("/tmp/.X11-unix/X" + num).c_str(), &st) != 0 && stat(("/tmp/.X" + num + "-lock").c_str(), &st) != 0)
            return ":" + num;
    }
}

TEST(NoDisplay, WindowModeExitsWith1AtOnceAndSilently) {
    TempDir dir;
    const std::string dead = "DISPLAY=" + deadDisplay();
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::string> setEnv;
        std::vector<std::string> unsetEnv;
    };
    // XDG_RUNTIME_DIR unset as well: then a Wayland connection attempt prints an error.
    const std::vector<std::string> none = {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"};
    const std::vector<std::string> noWayland = {"WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"};
    const Case cases[] = {
        {"no display named", {}, {}, none},
        {"no display, a word as argument 1", {"x", "--render"}, {}, none},
        {"a display nobody serves", {}, {dead}, noWayland},
        {"a display nobody serves, a runtime folder", {}, {dead, "XDG_RUNTIME_DIR=" + dir.path()}, {"WAYLAND_DISPLAY"}},
        {"a Wayland display nobody serves", {}, {"WAYLAND_DISPLAY=kestrum-none", "XDG_RUNTIME_DIR=" + dir.path()},
         {"DISPLAY"}},
        {"only the off-screen driver allowed", {}, {"SDL_VIDEODRIVER=offscreen"}, none},
        {"only the dummy driver allowed", {}, {"SDL_VIDEODRIVER=dummy"}, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TimedRun run = runWithDeadline(c.args, c.setEnv, c.unsetEnv, dir.file("out.txt"), 10.0);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_LT(run.seconds, 2.0);
        EXPECT_EQ(run.output, "");
    }
}

}  // namespace
