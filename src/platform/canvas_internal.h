// Inside the canvas: the font object with its glyph cache, shared by canvas_draw.cpp (shapes,
// text, pixels) and canvas_fonts.cpp (face substitution, Pango, glyph masks). Included only
// by src/platform/canvas_*.cpp.
//
// Threads: a Font is used by one thread at a time (the one that created it).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/canvas.h"

// One character's picture: an 8-bit coverage mask placed relative to the text cell's
// top-left, and the whole-pixel advance to the next character.
struct GlyphMask {
    int advancePx = 0;
    int dx = 0, dy = 0;  // mask's top-left relative to the cell's top-left
    int w = 0, h = 0;    // mask size; 0 when the character draws nothing
    std::vector<uint8_t> alpha;  // w * h coverage values, row-major
};

struct FontPango;  // the Pango objects of a font (canvas_fonts.cpp)

class Font {
public:
    explicit Font(const FontSpec& spec);
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    const GlyphMask& glyph(char32_t c) {
        if (c < 0x10000) {
            Page* page = pages_[c >> 8].get();
            if (page && page->ready[c & 255]) return page->glyphs[c & 255];
        }
        return glyphSlow(c);
    }

    // The rows of printable ASCII ink (the spacing accents aside) above and below the
    // baseline, measured on first use.
    void inkBox(int& abovePx, int& belowPx);

    FontSpec spec;
    std::string family;  // the face actually used
    int emPx = 12;
    int ascentPx = 0;
    int descentPx = 0;

private:
    struct Page {
        std::array<GlyphMask, 256> glyphs;
        std::array<bool, 256> ready{};
    };
    const GlyphMask& glyphSlow(char32_t c);
    GlyphMask rasterize(char32_t c);

    bool inkKnown_ = false;
    int inkAbovePx_ = 0, inkBelowPx_ = 0;
    std::unique_ptr<FontPango> pango_;
    std::array<std::unique_ptr<Page>, 256> pages_;
    std::unordered_map<char32_t, GlyphMask> astral_;
};

// The next code point of a wide text, with surrogate pairs joined and unpaired surrogates
// and values beyond U+10FFFF as U+FFFD; i moves past it.
inline char32_t nextCodePoint(std::wstring_view s, size_t& i) {
    char32_t c = char32_t(s[i++]);
    if (c >= 0xD800 && c <= 0xDBFF && i < s.size()) {
        const char32_t lo = char32_t(s[i]);
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
            ++i;
            return 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        }
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0xFFFD;
    return c;
}
