// Paths, files and arguments. Wide strings (std::wstring) carry paths, names and arguments
// inside the program. On Linux they go to the OS as UTF-8; a path or argument from the OS
// need not be valid UTF-8 (Linux names are bytes), so those come in through osToWide, which
// keeps every byte, and a path read that way goes back out byte for byte. On Windows wide
// strings are the system's own UTF-16 and go to its wide calls unchanged. Thread-safe; these functions
// allocate.
#pragma once

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
