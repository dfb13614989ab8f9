#include "platform/paths.h"

#include <cwchar>

namespace {

// What becomes of a malformed sequence: one U+FFFD for it, or each of its bytes b kept as
// U+DC00 + b (always U+DC80..U+DCFF, as ASCII is never malformed).
enum class Malformed { replace, escape };

// One code point onto wide text: itself where wchar_t holds 32 bits, a surrogate pair above
// U+FFFF where it holds UTF-16 units (Windows).
void appendCodePoint(std::wstring& out, char32_t cp) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp > 0xFFFF) {
            out.push_back(wchar_t(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(wchar_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            return;
        }
    }
    out.push_back(wchar_t(cp));
}

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
        appendCodePoint(out, cp);
        i += size_t(len);
    }
    return out;
}

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
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = char32_t(text[i]);
        // UTF-16 units (Windows): a high surrogate followed by a low one is one code point.
        if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
            const char32_t lo = char32_t(text[i + 1]);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
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
#if WCHAR_MAX <= 0xFFFF
    return text.size();  // wide text is UTF-16 already (Windows)
#else
    size_t n = 0;
    for (wchar_t w : text) n += (char32_t(w) > 0xFFFF) ? 2 : 1;
    return n;
#endif
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
