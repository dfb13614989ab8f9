// The program path, the command line and the user's folders on Windows, as UTF-16
// throughout.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdlib>

#include "platform/paths.h"

std::wstring programPath() {
    // Longer paths than MAX_PATH are possible; the buffer grows until the name fits.
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = GetModuleFileNameW(nullptr, buf.data(), DWORD(buf.size()));
        if (got == 0) return {};
        if (got < buf.size()) {
            buf.resize(got);
            return buf;
        }
        if (buf.size() >= 32768) return {};
        buf.resize(buf.size() * 2);
    }
}

std::vector<std::wstring> processArgs(int, char**) {
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!list) return args;  // a command line that cannot be split counts as no arguments
    for (int i = 0; i < count; ++i) args.emplace_back(list[i]);
    LocalFree(list);
    return args;
}

// ---- Folders and the user's own folders ----

namespace {

// A drive path ("C:\...") or a network one ("\\server\...").
bool isAbsolute(const std::wstring& p) {
    if (p.size() >= 3 && p[1] == L':' && (p[2] == L'\\' || p[2] == L'/')) return true;
    return p.size() >= 2 && (p[0] == L'\\' || p[0] == L'/') && (p[1] == L'\\' || p[1] == L'/');
}

std::wstring environment(const wchar_t* name) {
    const wchar_t* v = _wgetenv(name);
    return v ? std::wstring(v) : std::wstring();
}

std::wstring knownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring out;
    if (SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path) == S_OK && path) out = path;
    CoTaskMemFree(path);
    return out;
}

}  // namespace

bool isFolder(const std::wstring& path) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos) return false;
    const DWORD attrs = GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

// Windows' folder permissions are lists the program cannot simply read: it tries, with a
// new file that goes when its handle closes.
bool folderWritable(const std::wstring& path) {
    if (!isFolder(path)) return false;
    const std::wstring probe = path + L"\\.kestrum-probe-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
    CloseHandle(h);
    return true;
}

bool makeFolders(const std::wstring& path) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos) return false;
    // Each prefix ending before a separator in turn (a drive's root and a share's name
    // exist or cannot be made), then the whole path.
    for (size_t at = path.find_first_of(L"\\/", 1);; at = path.find_first_of(L"\\/", at + 1)) {
        const std::wstring part = path.substr(0, at);
        if (!part.empty() && !isFolder(part)) CreateDirectoryW(part.c_str(), nullptr);
        if (at == std::wstring::npos) break;
    }
    return isFolder(path);
}

std::wstring homeFolder() {
    const std::wstring profile = environment(L"USERPROFILE");
    return isAbsolute(profile) ? profile : knownFolder(FOLDERID_Profile);
}

// The XDG variables mean nothing to Windows unless someone sets them: each falls back to
// the user's local application data (%LOCALAPPDATA%), where a program keeps its own files.
std::wstring xdgBaseFolder(const char* variable, const std::wstring&) {
    const char* value = std::getenv(variable);
    if (value) {
        const std::wstring v = utf8ToWide(value);
        if (isAbsolute(v)) return v;
    }
    const std::wstring local = environment(L"LOCALAPPDATA");
    return isAbsolute(local) ? local : knownFolder(FOLDERID_LocalAppData);
}

std::wstring userMusicFolder() {
    const std::wstring music = knownFolder(FOLDERID_Music);
    return isFolder(music) ? music : std::wstring();
}
