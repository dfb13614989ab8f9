// Paths, files and arguments. Wide strings (std::wstring) carry paths, names and arguments
// inside the program; they go to the OS as UTF-8. A path or argument from the OS need not be
// valid UTF-8 (Linux names are bytes), so those come in through osToWide, which keeps every
// byte, and a path read that way goes back out byte for byte. Thread-safe; these functions
// allocate.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// UTF-8 to wide text. Malformed sequences become U+FFFD each; never fails.
std::wstring utf8ToWide(std::string_view bytes);
// UTF-8 from the OS (paths, arguments) to wide text without loss: each byte b of a malformed
// sequence becomes U+DC00 + b (U+DC80..U+DCFF, lone surrogates no valid UTF-8 can give).
std::wstring osToWide(std::string_view bytes);
// Wide text to UTF-8, as paths go to the OS. U+DC80..U+DCFF become the single bytes
// 0x80..0xFF they stand for, so wideToUtf8(osToWide(b)) == b for any bytes b. Other code
// points that cannot be encoded (surrogates, > U+10FFFF) become U+FFFD.
std::string wideToUtf8(std::wstring_view text);

// Number of UTF-16 code units the text would take (a code point above U+FFFF counts 2).
size_t utf16Length(std::wstring_view text);

// The running program's full path from /proc/self/exe (through osToWide); empty when it
// cannot be read.
std::wstring programPath();

// The command line as wide strings (through osToWide), argument 0 the program.
std::vector<std::wstring> processArgs(int argc, char** argv);

// ---- Regular files ----

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

// Opens path only when it names a regular file, and never waits: a named pipe without a
// reader or writer is refused at once instead of blocking the open. flags: O_RDONLY or
// O_WRONLY, optionally O_CREAT (a new file gets 0666 less the umask) and O_TRUNC (the file
// is emptied only once it is known to be regular, so a pipe or device at the path is never
// touched). The descriptor returned is blocking and close-on-exec. -1 with errno set when
// the path cannot be opened; errno EINVAL when it names something that is not a regular
// file (a folder, a pipe, a device).
int openRegularDescriptor(const std::string& path, int flags);

enum class FileAccess { read, write };

// The same as a stream: read opens "rb"; write creates the file or empties it, "wb". Null
// when it cannot be opened, when the path holds a zero character, or when it is not a
// regular file (a folder opens fine on Linux but every read fails; a pipe or device could
// block or never end).
FileHandle openRegularFile(const std::wstring& path, FileAccess access = FileAccess::read);
