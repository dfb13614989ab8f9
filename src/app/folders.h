// Where the program's files go: the radio folder it reads, the decode log and the render
// button's WAV files. A program whose folder can be written (the build tree, a portable copy)
// keeps all of them beside itself; an installed one, whose folder it cannot write, uses the
// user's own folders instead. This is the one place that decides; start-up applies the
// choice to g_radioDir, g_logDir and g_renderDir before any other thread exists.
#pragma once

#include <string>

// The user's folders as the platform finds them; empty where unknown.
struct UserFolders {
    std::wstring home;   // $HOME
    std::wstring music;  // XDG_MUSIC_DIR when it names an existing folder
    std::wstring state;  // $XDG_STATE_HOME, default ~/.local/state
    std::wstring data;   // $XDG_DATA_HOME, default ~/.local/share
};

struct ProgramFolders {
    std::wstring radio;      // stations.txt and recordings, no trailing "/"
    std::wstring logDir;     // the decode log's folder, no trailing "/"; made when tracing
    std::wstring renderDir;  // the render button's folder with its final "/"; empty: current folder
};

// The choice. programPath: the program file ("" when unknown); programDir: its folder as
// start-up found it (g_dir); writable: whether programDir can be written; radioBeside:
// whether programDir holds a folder named radio.
ProgramFolders chooseFolders(const std::wstring& programPath, const std::wstring& programDir, bool writable,
                             bool radioBeside, const UserFolders& user);

// The same for this process: asks the platform, then sets g_radioDir, g_logDir and g_renderDir.
void applyProgramFolders(const std::wstring& programPath);
