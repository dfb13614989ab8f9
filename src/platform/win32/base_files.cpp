// Files on Windows: wide paths through CreateFileW and _wfopen, positional reads with
// ReadFile at an offset, and the "C" locale of the C runtime.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <locale.h>
#include <wchar.h>
#include <wctype.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"

namespace {

// Owns a handle until a stream takes it over.
class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE get() const { return h_; }
    HANDLE release() {
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }

private:
    HANDLE h_;
};

_locale_t cLocale() {
    static const _locale_t c = _create_locale(LC_ALL, "C");
    return c;
}

// One conversion of a printf format, from its "%" to its conversion letter.
struct Spec {
    std::string text;  // the whole conversion, e.g. "%-8.2f"
    char length = 0;   // 'h' (hh or h), 'l', 'L' (ll, L), 'j', 'z', 't', or 0
    bool doubleL = false;
    char conv = 0;
    bool starWidth = false, starPrecision = false;
};

// Parses the conversion that starts at format[i] == '%'; i ends after it.
Spec parseSpec(const char* format, size_t& i) {
    Spec s;
    const size_t start = i++;
    while (format[i] && std::strchr("-+ #0", format[i])) ++i;
    if (format[i] == '*') {
        s.starWidth = true;
        ++i;
    }
    while (format[i] >= '0' && format[i] <= '9') ++i;
    if (format[i] == '.') {
        ++i;
        if (format[i] == '*') {
            s.starPrecision = true;
            ++i;
        }
        while (format[i] >= '0' && format[i] <= '9') ++i;
    }
    if (format[i] == 'h') {
        s.length = 'h';
        ++i;
        if (format[i] == 'h') ++i;
    } else if (format[i] == 'l') {
        s.length = 'l';
        ++i;
        if (format[i] == 'l') {
            s.length = 'L';
            s.doubleL = true;
            ++i;
        }
    } else if (format[i] && std::strchr("Ljzt", format[i])) {
        s.length = format[i++];
    }
    s.conv = format[i];
    if (format[i]) ++i;
    s.text.assign(format + start, i - start);
    return s;
}

// Appends snprintf(format, args...) whole, however long.
template <typename... Args>
void appendFormatted(std::string& out, const char* format, Args... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    if (n <= 0) return;
    const size_t at = out.size();
    out.resize(at + size_t(n) + 1);
    std::snprintf(out.data() + at, size_t(n) + 1, format, args...);
    out.resize(at + size_t(n));
}

// Formats one conversion with its argument(s) and appends the text.
void formatOne(std::string& out, const Spec& s, va_list& ap) {
    int width = 0, precision = 0;
    if (s.starWidth) width = va_arg(ap, int);
    if (s.starPrecision) precision = va_arg(ap, int);
    const char* f = s.text.c_str();
    auto put = [&](auto value) {
        if (s.starWidth && s.starPrecision) appendFormatted(out, f, width, precision, value);
        else if (s.starWidth) appendFormatted(out, f, width, value);
        else if (s.starPrecision) appendFormatted(out, f, precision, value);
        else appendFormatted(out, f, value);
    };
    switch (s.conv) {
        case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c':
            if (s.doubleL || s.length == 'j') put(va_arg(ap, long long));
            else if (s.length == 'l' && s.conv == 'c') put(wint_t(va_arg(ap, int)));
            else if (s.length == 'l') put(va_arg(ap, long));
            else if (s.length == 'z' || s.length == 't') put(va_arg(ap, size_t));
            else put(va_arg(ap, int));
            break;
        case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
            if (s.length == 'L') put(va_arg(ap, long double));
            else put(va_arg(ap, double));
            break;
        case 'p':
            put(va_arg(ap, void*));
            break;
        case 's':
            if (s.length == 'l') {
                // Wide text goes out as UTF-8 (any width or precision is not applied).
                const wchar_t* w = va_arg(ap, const wchar_t*);
                out += wideToUtf8(w ? std::wstring_view(w) : std::wstring_view(L"(null)"));
                return;
            }
            put(va_arg(ap, const char*));
            break;
        case '%':
            out += '%';
            break;
        default:
            out += s.text;  // not a conversion this writer knows: written as it stands
            break;
    }
}

}  // namespace

FILE* fileOpenRegularRead(const std::wstring& path) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos) return nullptr;
    // A folder cannot be opened this way; a pipe without a free instance fails at once.
    Handle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.get() == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(h.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    const int fd = _open_osfhandle(intptr_t(h.get()), _O_RDONLY | _O_BINARY);
    if (fd < 0) return nullptr;
    h.release();  // the descriptor owns it now
    FILE* f = _fdopen(fd, "rb");
    if (!f) _close(fd);
    return f;
}

size_t fileReadAt(FILE* f, int64_t offset, void* buf, size_t n) {
    const HANDLE h = HANDLE(_get_osfhandle(_fileno(f)));
    if (h == INVALID_HANDLE_VALUE || offset < 0) return 0;
    auto* out = static_cast<unsigned char*>(buf);
    size_t got = 0;
    while (got < n) {
        OVERLAPPED at{};
        const uint64_t pos = uint64_t(offset) + got;
        at.Offset = DWORD(pos);
        at.OffsetHigh = DWORD(pos >> 32);
        const DWORD want = DWORD(n - got > 0x40000000 ? 0x40000000 : n - got);
        DWORD read = 0;
        if (!ReadFile(h, out + got, want, &read, &at) || read == 0) break;
        got += read;
    }
    return got;
}

int64_t fileSize(FILE* f) {
    if (_fseeki64(f, 0, SEEK_END) != 0) return -1;
    return int64_t(_ftelli64(f));
}

FileHandle openRegularFile(const std::wstring& path, FileAccess access) {
    if (access == FileAccess::read) return FileHandle(fileOpenRegularRead(path));
    if (path.empty() || path.find(L'\0') != std::wstring::npos) return nullptr;
    // Opened without emptying it, so that a pipe or device at the path is never touched;
    // emptied once it is known to be a file on a disk.
    Handle h(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.get() == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(h.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !SetEndOfFile(h.get()))
        return nullptr;
    const int fd = _open_osfhandle(intptr_t(h.get()), _O_WRONLY | _O_BINARY);
    if (fd < 0) return nullptr;
    h.release();  // the descriptor owns it now
    FileHandle f(_fdopen(fd, "wb"));
    if (!f) _close(fd);
    return f;
}

void fileWriteFormatted(FILE* f, const char* format, va_list ap) {
    // The C runtime writes %ls in the process's code page; each conversion is formatted on
    // its own here, and wide text goes out as UTF-8.
    std::string out;
    va_list args;
    va_copy(args, ap);
    for (size_t i = 0; format[i];) {
        if (format[i] != '%') {
            out += format[i++];
            continue;
        }
        const Spec s = parseSpec(format, i);
        formatOne(out, s, args);
    }
    va_end(args);
    _lock_file(f);
    std::fwrite(out.data(), 1, out.size(), f);
    _unlock_file(f);
}

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

double wcstodC(const wchar_t* text) {
    // The C runtime here has no wcstod with a locale of its own. A number is ASCII: after the
    // leading white space, the ASCII prefix is read by MinGW's own strtod, which rounds
    // correctly and knows only the "C" locale's decimal point.
    while (*text && iswspaceC(*text)) ++text;
    std::string ascii;
    for (; *text && *text < 0x80; ++text) ascii += char(*text);
    return __mingw_strtod(ascii.c_str(), nullptr);
}

bool iswspaceC(wchar_t c) { return _iswspace_l(wint_t(c), cLocale()) != 0; }
