// Paths, files and arguments. Wide strings (std::wstring) carry paths, names and arguments
// inside the program. On Linux they go to the OS as UTF-8; a path or argument from the OS
// need not be valid UTF-8 (Linux names are bytes), so those come in through osToWide, which
// keeps every byte, and a path read that way goes back out byte for byte. On Windows wide
// strings are the system's own UTF-16 and go to its wide calls unchanged. Thread-safe; these functions
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

// The running program's full path (Linux: /proc/self/exe through osToWide; Windows:
// GetModuleFileNameW); empty when it cannot be read.
std::wstring programPath();

// The command line as wide strings, argument 0 the program (Linux: argv through osToWide;
// Windows: CommandLineToArgvW of the process's own command line, argc and argv unused).
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
#ifndef _WIN32
int openRegularDescriptor(const std::string& path, int flags);
#endif

enum class FileAccess { read, write };

// The same as a stream: read opens "rb"; write creates the file or empties it, "wb". Null
// when it cannot be opened, when the path holds a zero character, or when it is not a
// regular file (a folder opens fine on Linux but every read fails; a pipe or device could
// block or never end).
FileHandle openRegularFile(const std::wstring& path, FileAccess access = FileAccess::read);

// ---- Folders and the user's own folders ----
// What the program asks about folders, and where the freedesktop.org conventions put a
// user's files: the XDG base directories and the user directories of user-dirs.dirs. The
// choice of which folder serves what is the program's, not this file's.

// True when the path names a folder (symbolic links followed).
bool isFolder(const std::wstring& path);
// True when this process may create files in the folder (its permissions as the kernel
// sees them for this user, a read-only file system included; on Windows, whether a new file
// can be made there).
bool folderWritable(const std::wstring& path);
// Makes the folder and any missing parents, new ones with mode 0700 (only the user may look
// inside, as the base directory conventions ask; on Windows the user's own folders are
// private already); true when it is a folder afterwards.
bool makeFolders(const std::wstring& path);

// The user's home: $HOME when it is an absolute path, else the home of the user's entry in
// the password database; empty when neither is known. Windows: %USERPROFILE%, else the
// profile folder.
std::wstring homeFolder();
// An XDG base directory: the environment variable's value when it is an absolute path (a
// relative one is invalid and ignored), else the home followed by homeRelative (such as
// L"/.local/state"); empty when neither is known. Windows: the variable when it is set to
// an absolute path, else the user's local application data (%LOCALAPPDATA%) for every one.
std::wstring xdgBaseFolder(const char* variable, const std::wstring& homeRelative);
// A user directory as user-dirs.dirs gives it: the last line `name="value"` whose value is
// "$HOME" or "$HOME/..." (the home put in) or an absolute path, with backslash escapes
// taken; empty when there is none. `text` is the file's contents.
std::wstring userDirFromText(std::string_view text, std::string_view name, const std::wstring& home);
// The user's music folder: XDG_MUSIC_DIR from user-dirs.dirs in $XDG_CONFIG_HOME (default
// ~/.config) when it names an existing folder; empty otherwise. Windows: the Music folder.
std::wstring userMusicFolder();
