// Files that appear at their path only once completely written: a StagedFile writes to a
// temporary file in the same folder and moves it over the path at commit(); destroying it
// uncommitted removes the temporary file, so a failed write leaves whatever the path held
// before. A file that replaces another takes its permission bits (where the system has
// them). A path that names something other than a regular file (a device, a FIFO) is
// written in place.
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

    // False when neither the temporary file nor the direct target can be opened.
    bool open(const std::wstring& finalPath);
    // The stream to write; null before a successful open.
    FILE* get() const;
    // Flushes, closes and moves the file into place. False on any write or close error.
    bool commit();

    struct State;

private:
    std::unique_ptr<State> state_;
};
