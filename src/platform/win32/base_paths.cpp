// The program path and the command line on Windows, as UTF-16 throughout.
#include <windows.h>
#include <shellapi.h>

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
