// The program path and the command line on Linux.
#include "platform/paths.h"

#include <climits>
#include <unistd.h>

std::wstring programPath() {
    std::string buf(PATH_MAX, '\0');
    for (;;) {
        ssize_t got = readlink("/proc/self/exe", buf.data(), buf.size());
        if (got < 0) return {};
        if (size_t(got) < buf.size()) {
            buf.resize(size_t(got));
            return osToWide(buf);
        }
        buf.resize(buf.size() * 2);
    }
}

std::vector<std::wstring> processArgs(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 0; i < argc && argv && argv[i]; ++i) args.push_back(osToWide(argv[i]));
    return args;
}
