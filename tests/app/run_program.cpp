#include "run_program.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string readAll(int fd) {
    std::string s;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        s.append(buf, size_t(n));
    }
    return s;
}

}  // namespace

ProgramRun runProgram(const std::vector<std::string>& args, const std::string& cwd,
                      const std::vector<std::string>& extraEnv, const std::vector<std::string>& unsetEnv) {
    return runProgramAt(KESTRUM_EXE, args, cwd, extraEnv, unsetEnv);
}

ProgramRun runProgramAt(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                        const std::vector<std::string>& extraEnv, const std::vector<std::string>& unsetEnv) {
    ProgramRun run;
    char outTmpl[] = "/tmp/kestrum-out-XXXXXX";
    char errTmpl[] = "/tmp/kestrum-err-XXXXXX";
    int outFd = mkstemp(outTmpl);
    int errFd = mkstemp(errTmpl);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outFd, 1);
        dup2(errFd, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
        for (const auto& name : unsetEnv) unsetenv(name.c_str());
        for (const auto& kv : extraEnv) putenv(strdup(kv.c_str()));
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execve(exe.c_str(), argv.data(), environ);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    lseek(outFd, 0, SEEK_SET);
    lseek(errFd, 0, SEEK_SET);
    run.stdoutText = readAll(outFd);
    run.stderrText = readAll(errFd);
    close(outFd);
    close(errFd);
    unlink(outTmpl);
    unlink(errTmpl);
    return run;
}

long fileSize(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? long(st.st_size) : -1;
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}
