// The canvas: a drawing context over an off-screen 32-bit image, with the primitives the
// panel, buttons, sliders and rain draw with, and fonts chosen by pixel height, weight,
// face and pitch. Built on Cairo, Pango and fontconfig (canvas_cairo.cpp); no Cairo or
// Pango type appears here.
//
// Geometry conventions (those of the classic raster drawing model the panel is designed in):
// - Rectangles are {left, top, right, bottom} with right and bottom excluded.
// - Shapes are drawn without anti-aliasing: every pixel a shape covers has exactly its colour.
//   Text is anti-aliased.
// - fillRect fills exactly the rectangle's pixels.
// - A pen of width 1 covers one pixel per step of a line; lineTo does not draw the end point.
//   A pen of width 2 covers the line's pixels and the pixels one step to the right (vertical)
//   or below (horizontal) of them.
// - rectangle/roundRect/ellipse: the brush fills the inside; the pen is drawn inside the
//   bounds: a pen of width w covers the outermost w pixels of the shape, so nothing is drawn
//   outside the rectangle. A "none" pen draws no outline and the brush fills the whole shape.
// - polygon fills the polygon's pixel centres inside the outline (even-odd), then strokes
//   the outline with the pen unless it is "none".
// The implementation's header comment states how each rule is realised.
//
// Threads: a canvas belongs to one thread at a time. Fonts may be shared between canvases
// of one thread. Text measurement and glyphs are cached per font.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

using Rgb = uint32_t;  // 0x00BBGGRR
constexpr Rgb rgb(int r, int g, int b) {
    return uint32_t(r & 255) | (uint32_t(g & 255) << 8) | (uint32_t(b & 255) << 16);
}
constexpr int rgbRed(Rgb c) { return int(c & 255); }
constexpr int rgbGreen(Rgb c) { return int((c >> 8) & 255); }
constexpr int rgbBlue(Rgb c) { return int((c >> 16) & 255); }

struct Point {
    int x, y;
};
struct Size {
    int cx, cy;
};
struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool contains(int x, int y) const { return left <= x && x < right && top <= y && y < bottom; }
    bool operator==(const Rect&) const = default;
};

struct Pen {
    Rgb color = 0;
    int width = 1;      // 1 or 2 pixels
    bool none = false;  // no outline at all
};
struct Brush {
    Rgb color = 0;
    bool hollow = false;  // no fill
};

struct FontSpec {
    int height = -12;        // negative: em height in pixels; positive: cell height
    int weight = 400;        // 100..900
    std::string face;        // requested face ("Segoe UI", "Consolas", "MS Gothic" are substituted)
    bool fixedPitch = false;
};

class Font;  // opaque; lives as long as a shared_ptr holds it
using FontRef = std::shared_ptr<Font>;
FontRef fontCreate(const FontSpec& spec);  // never null
std::string fontFaceName(const FontRef& font);  // the face actually used

struct TextMetrics {
    int height;           // ascent + descent
    int ascent;
    int descent;
    int internalLeading;  // height - em height
};

enum TextFlags : unsigned {
    TextLeft = 0,
    TextCenter = 1,
    TextRight = 2,
    TextTop = 0,
    TextVCenter = 4,
    TextSingleLine = 8,
    TextEndEllipsis = 16,
};

class Canvas {
public:
    // An image of w x h pixels, all black. w or h of 0 or less gives a 1 x 1 image.
    static std::unique_ptr<Canvas> create(int w, int h);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    int width() const;
    int height() const;

    // ---- State; each setter returns the previous value so a caller can put it back ----
    Pen setPen(const Pen& pen);
    Brush setBrush(const Brush& brush);
    FontRef setFont(FontRef font);
    Rgb setTextColor(Rgb color);
    bool setTransparentText(bool transparent);  // true: text leaves its background alone
    Rgb setTextBackground(Rgb color);           // used when text is not transparent
    int setCharExtra(int px);                   // extra pixels after every character

    // ---- Shapes ----
    void fillRect(const Rect& r, Rgb color);
    void rectangle(const Rect& r);
    void roundRect(const Rect& r, int ellipseW, int ellipseH);
    void ellipse(const Rect& r);
    void polygon(const Point* pts, int count);
    void moveTo(int x, int y);
    void lineTo(int x, int y);

    // ---- Text (the current font, colour, background mode and character extra) ----
    void textOut(int x, int y, std::wstring_view text);  // (x, y) is the cell's top-left
    void drawText(const Rect& r, std::wstring_view text, unsigned flags);
    Size textExtent(std::wstring_view text);
    TextMetrics textMetrics();
    std::string faceName();

    // ---- Pixels ----
    void copyFrom(const Canvas& src, int dx, int dy);  // whole source at (dx, dy), clipped
    Rgb pixel(int x, int y) const;                     // 0 outside the image
    const uint32_t* pixels() const;                    // 0x00RRGGBB per pixel, row-major
    int stridePixels() const;
    bool writePng(const std::string& path) const;

    struct Impl;
    Impl* impl() const { return impl_.get(); }

private:
    explicit Canvas(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
