// Files on POSIX descriptors.
#include "platform/files.h"

#include <cassert>
#include <cwchar>
#include <cwctype>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"

namespace {

// Owns a descriptor until a stream takes it over.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
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

// The "C" locale for number reading and white-space classification.
locale_t cLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    assert(c != locale_t(0));
    return c;
}

}  // namespace

FILE* fileOpenRegularRead(const std::wstring& path) {
    if (path.find(L'\0') != std::wstring::npos) return nullptr;
    // Without O_NONBLOCK, opening a named pipe waits for a writer that may never come.
    Descriptor fd(open(wideToUtf8(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return nullptr;
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return nullptr;
    FILE* f = fdopen(fd.get(), "rb");
    if (f) fd.release();
    return f;
}

size_t fileReadAt(FILE* f, int64_t offset, void* buf, size_t n) {
    const int fd = fileno(f);
    auto* out = static_cast<unsigned char*>(buf);
    size_t got = 0;
    while (got < n) {
        const ssize_t r = pread(fd, out + got, n - got, off_t(offset) + off_t(got));
        if (r <= 0) break;
        got += size_t(r);
    }
    return got;
}

int64_t fileSize(FILE* f) {
    if (fseeko(f, 0, SEEK_END) != 0) return -1;
    return int64_t(ftello(f));
}

void fileWriteFormatted(FILE* f, const char* format, va_list ap) {
    // %ls goes through the thread's locale; a UTF-8 locale on this thread alone makes
    // names with non-ASCII characters come out whole, whatever the process locale is.
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    locale_t previous = utf8 ? uselocale(utf8) : nullptr;
    flockfile(f);
    std::vfprintf(f, format, ap);
    funlockfile(f);
    if (previous) uselocale(previous);
}

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

double wcstodC(const wchar_t* text) { return wcstod_l(text, nullptr, cLocale()); }

bool iswspaceC(wchar_t c) { return iswspace_l(wint_t(c), cLocale()) != 0; }
