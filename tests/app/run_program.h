// Runs the real kestrum executable as a child process and reports how it ended.
#pragma once

#include <string>
#include <vector>

#include "support/temp_dir.h"

struct ProgramRun {
    int exitCode = -1;    // -1 when it did not exit normally
    int signal = 0;       // the signal that ended it, 0 when it exited
    std::string stdoutText;
    std::string stderrText;
};

// args exclude argument 0. extraEnv entries are "NAME=value"; unsetEnv names are removed.
// cwd: the child's working directory ("" = inherit).
ProgramRun runProgram(const std::vector<std::string>& args, const std::string& cwd = "",
                      const std::vector<std::string>& extraEnv = {},
                      const std::vector<std::string>& unsetEnv = {});

// The same for another copy of the program.
ProgramRun runProgramAt(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd = "",
                        const std::vector<std::string>& extraEnv = {},
                        const std::vector<std::string>& unsetEnv = {});

long fileSize(const std::string& path);  // -1 when missing
std::vector<std::string> readLines(const std::string& path);
