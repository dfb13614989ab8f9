// Files that appear at their path only once completely written: a StagedFile writes to a
// temporary file beside the file the path finally names (links followed) and moves it over
// that file at commit(); destroying it uncommitted removes the temporary file, so a failed
// write leaves whatever the path held before. A file that replaces another takes its owner,
// group and permission bits (where the system has them). Where renaming would end otherwise
// than writing the path would (a file with several names, one in a sticky folder that is
// neither the user's nor in the user's folder, a mount point, a folder that takes no new
// file, an owner that cannot be kept) the file is written in place. An output path that
// names something other than a regular file (a device, a FIFO) is written in place too.
//
// While an InterruptCleanup lives, an interruption of the process (SIGINT, SIGTERM and
// SIGHUP at their default action on Linux; Ctrl+C, Ctrl+Break and closing the console on
// Windows) removes the armed temporary files before the process ends as it otherwise would.
//
// Threads: one StagedFile belongs to one thread. Opening allocates.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

class InterruptCleanup {
public:
    InterruptCleanup();
    ~InterruptCleanup();
    InterruptCleanup(const InterruptCleanup&) = delete;
    InterruptCleanup& operator=(const InterruptCleanup&) = delete;

    struct State;

private:
    std::unique_ptr<State> state_;
};

class StagedFile {
public:
    StagedFile();
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // What a path may be.
    enum class Target {
        output,  // whatever opening for writing accepts: devices and pipes are written in place
        trace,   // a regular file or a new one only: anything else is left alone, never waited on
    };

    // False when the path cannot be written (empty, a folder, a missing folder, a file that
    // may not be written); then nothing has been changed.
    bool open(const std::wstring& finalPath, Target kind);
    // The stream to write; null before a successful open.
    FILE* get() const;
    // Flushes, closes and moves the file into place. False on any write or close error.
    bool commit();

    struct State;

private:
    std::unique_ptr<State> state_;
};
