// Files by wide-string path, for the catalogue, the decode log and the progress line: the
// few file operations the program needs beyond <cstdio>, each with its own backend (POSIX
// descriptors on Linux, wide-path Win32 calls on Windows). Streams are <cstdio> FILE
// streams, binary, closed with fclose. Thread-safe; opening allocates.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

// The path's separator as the system writes it: "\" on Windows, "/" elsewhere.
#ifdef _WIN32
constexpr wchar_t kPathSep = L'\\';
#else
constexpr wchar_t kPathSep = L'/';
#endif

// Opens a regular file for reading (binary). Null when it is missing or unreadable, or when
// the path names anything but a regular file (a folder, a FIFO or pipe, a device); never
// waits for a writer. The type is checked on the open file, so nothing can swap it in between.
FILE* fileOpenRegularRead(const std::wstring& path);
// Up to n bytes from `offset`, without moving the stream's position, so that several threads
// may read one stream at once. Fewer at the end of the file; 0 on failure.
size_t fileReadAt(FILE* f, int64_t offset, void* buf, size_t n);
// The size of an open file in bytes (its end position; the stream is left at its end), -1
// when unknown.
int64_t fileSize(FILE* f);

// printf-style text to a stream under the stream's lock, so that messages of different
// threads never mix; %ls arguments are written as UTF-8 whatever the process locale. No flush.
void fileWriteFormatted(FILE* f, const char* format, va_list ap);

// True when the standard error stream is a terminal (a console on Windows).
bool stderrIsTerminal();

// ---- Text in the "C" locale, whatever locale the process has set ----
// wcstod in the "C" locale: the longest numeric prefix, 0 without one.
double wcstodC(const wchar_t* text);
// iswspace in the "C" locale.
bool iswspaceC(wchar_t c);
