#include "app/folders.h"

#include "base/program.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "ui/controller.h"

ProgramFolders chooseFolders(const std::wstring& programPath, const std::wstring& programDir, bool writable,
                             bool radioBeside, const UserFolders& user) {
    ProgramFolders f;
    // Beside the program: the radio folder and the log in its folder, the render button's
    // files in the folder of the program path (none when the path has no folder part).
    f.radio = programDir + kPathSep + L"radio";
    f.logDir = programDir;
    const size_t slash = programPath.rfind(kPathSep);
    f.renderDir = slash == std::wstring::npos ? std::wstring() : programPath.substr(0, slash + 1);
    if (writable) return f;

    // Installed: the user's folders, each where it is known; where it is not, the program's
    // folder stays, and what cannot be written there fails as it would have.
    if (!radioBeside && !user.data.empty()) f.radio = user.data + kPathSep + L"kestrum" + kPathSep + L"radio";
    if (!user.state.empty()) f.logDir = user.state + kPathSep + L"kestrum";
    if (!user.music.empty()) f.renderDir = user.music + kPathSep;
    else if (!user.home.empty()) f.renderDir = user.home + kPathSep;
    return f;
}

void applyProgramFolders(const std::wstring& programPath) {
    UserFolders user;
    const bool writable = folderWritable(g_dir);
    if (!writable) {
        user.home = homeFolder();
        user.music = userMusicFolder();
        user.state = xdgBaseFolder("XDG_STATE_HOME", L"/.local/state");
        user.data = xdgBaseFolder("XDG_DATA_HOME", L"/.local/share");
    }
    const ProgramFolders f = chooseFolders(programPath, g_dir, writable, isFolder(g_dir + kPathSep + L"radio"), user);
    g_radioDir = f.radio;
    g_logDir = f.logDir;
    g_renderDir = f.renderDir;
}
