#include "platform/paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What becomes of a malformed sequence: one U+FFFD for it, or each of its bytes b kept as
// U+DC00 + b (always U+DC80..U+DCFF, as ASCII is never malformed).
enum class Malformed { replace, escape };

std::wstring decodeUtf8(std::string_view s, Malformed how) {
    std::wstring out;
    out.reserve(s.size());
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out.push_back(wchar_t(c));
            ++i;
            continue;
        }
        int len = 0;
        char32_t cp = 0, min = 0;
        if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; min = 0x80; }
        else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; min = 0x800; }
        else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; min = 0x10000; }
        else { out.push_back(how == Malformed::escape ? wchar_t(0xDC00 + c) : L'\xFFFD'); ++i; continue; }
        // Take continuation bytes while they are valid; a broken sequence yields one U+FFFD
        // for the bytes consumed so far and resumes at the offending byte. Escaping keeps
        // only the lead byte and resumes right after it, so every byte is kept.
        size_t j = 1;
        bool ok = true;
        for (; j < size_t(len); ++j) {
            if (i + j >= n) { ok = false; break; }
            unsigned char cc = static_cast<unsigned char>(s[i + j]);
            if ((cc & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            if (how == Malformed::escape) {
                out.push_back(wchar_t(0xDC00 + c));
                ++i;
            } else {
                out.push_back(L'\xFFFD');
                i += ok ? size_t(len) : j;
            }
            continue;
        }
        out.push_back(wchar_t(cp));
        i += size_t(len);
    }
    return out;
}

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

std::wstring utf8ToWide(std::string_view s) {
    return decodeUtf8(s, Malformed::replace);
}

std::wstring osToWide(std::string_view s) {
    return decodeUtf8(s, Malformed::escape);
}

std::string wideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t w : text) {
        char32_t cp = char32_t(w);
        if (cp >= 0xDC80 && cp <= 0xDCFF) {  // a byte osToWide kept from malformed input
            out.push_back(char(cp - 0xDC00));
            continue;
        }
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | (cp >> 6)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

size_t utf16Length(std::wstring_view text) {
    size_t n = 0;
    for (wchar_t w : text) n += (char32_t(w) > 0xFFFF) ? 2 : 1;
    return n;
}

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

std::wstring userDirFromText(std::string_view text, std::string_view name, const std::wstring& home) {
    std::wstring found;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line.substr(0, name.size()) != name) continue;
        line.remove_prefix(name.size());
        if (line.substr(0, 2) != "=\"") continue;
        line.remove_prefix(2);
        std::string value;
        bool closed = false;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '"') { closed = true; break; }
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            value.push_back(line[i]);
        }
        if (!closed) continue;
        if (value == "$HOME" || value.rfind("$HOME/", 0) == 0) {
            if (home.empty()) continue;
            found = home + osToWide(value.substr(5));
        } else if (!value.empty() && value[0] == '/') {
            found = osToWide(value);
        }
    }
    while (found.size() > 1 && found.back() == L'/') found.pop_back();
    return found;
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
