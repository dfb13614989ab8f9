// The program path, the command line, regular files and the user's folders on Linux.
#include "platform/paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Owns a descriptor until it is handed on; closing keeps the errno of the failure that
// made it close.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ < 0) return;
        const int err = errno;
        close(fd_);
        errno = err;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

}  // namespace

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

int openRegularDescriptor(const std::string& path, int flags) {
    if (path.find('\0') != std::string::npos) {
        errno = EINVAL;
        return -1;
    }
    // Without O_NONBLOCK, opening a named pipe waits for the other end, which may never
    // come; the type is checked on the open descriptor, so nothing can swap the file in
    // between, and only then is the file emptied.
    Descriptor fd(open(path.c_str(), (flags & ~O_TRUNC) | O_NONBLOCK | O_CLOEXEC, 0666));
    if (fd.get() < 0) return -1;
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    if ((flags & O_TRUNC) && ftruncate(fd.get(), 0) != 0) return -1;
    const int fl = fcntl(fd.get(), F_GETFL);
    if (fl < 0 || fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK) != 0) return -1;
    return fd.release();
}

FileHandle openRegularFile(const std::wstring& path, FileAccess access) {
    if (path.find(L'\0') != std::wstring::npos) return nullptr;
    const bool write = access == FileAccess::write;
    const int fd = openRegularDescriptor(wideToUtf8(path), write ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY);
    if (fd < 0) return nullptr;
    FileHandle f(fdopen(fd, write ? "wb" : "rb"));
    if (!f) close(fd);
    return f;
}

// ---- Folders and the user's own folders ----

bool isFolder(const std::wstring& path) {
    struct stat st;
    return !path.empty() && stat(wideToUtf8(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool folderWritable(const std::wstring& path) {
    return isFolder(path) && access(wideToUtf8(path).c_str(), W_OK | X_OK) == 0;
}

bool makeFolders(const std::wstring& path) {
    if (path.empty()) return false;
    const std::string p = wideToUtf8(path);
    // Each prefix ending before a "/" in turn, then the whole path.
    for (size_t at = p.find('/', 1);; at = p.find('/', at + 1)) {
        const std::string part = p.substr(0, at);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (at == std::string::npos) break;
    }
    return isFolder(path);
}

namespace {

bool isAbsolute(const char* value) {
    return value && value[0] == '/';
}

}  // namespace

std::wstring homeFolder() {
    const char* home = std::getenv("HOME");
    if (isAbsolute(home)) return osToWide(home);
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buf(size_t(size > 0 ? size : 16384), '\0');
    struct passwd pw;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && isAbsolute(found->pw_dir))
        return osToWide(found->pw_dir);
    return {};
}

std::wstring xdgBaseFolder(const char* variable, const std::wstring& homeRelative) {
    const char* value = std::getenv(variable);
    if (isAbsolute(value)) return osToWide(value);
    const std::wstring home = homeFolder();
    return home.empty() ? std::wstring() : home + homeRelative;
}

std::wstring userMusicFolder() {
    const std::wstring config = xdgBaseFolder("XDG_CONFIG_HOME", L"/.config");
    if (config.empty()) return {};
    // Only from a regular file: a FIFO or device in its place must not hold up the start.
    FileHandle f = openRegularFile(config + L"/user-dirs.dirs");
    if (!f) return {};
    std::string text;
    char chunk[4096];
    size_t got;
    while (text.size() < (1u << 20) && (got = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) text.append(chunk, got);
    const std::wstring music = userDirFromText(text, "XDG_MUSIC_DIR", homeFolder());
    return isFolder(music) ? music : std::wstring();
}
