// The canvas: a drawing context over an off-screen 32-bit image, with the primitives the
// panel, buttons, sliders and rain draw with, and fonts chosen by pixel height, weight,
// face and pitch. Built on Cairo, Pango and fontconfig: canvas_draw.cpp rasterises shapes and
// blends text into the pixels, canvas_fonts.cpp finds faces and renders glyphs; no Cairo
// or Pango type appears here.
//
// Geometry conventions (those of the classic raster drawing model the panel is designed in):
// - Rectangles are {left, top, right, bottom} with right and bottom excluded. A rectangle
//   with right <= left or bottom <= top is empty and draws nothing.
// - Shapes are drawn without anti-aliasing: every pixel a shape covers has exactly its colour.
//   Text is anti-aliased (grayscale).
// - fillRect fills exactly the rectangle's pixels.
// - A pen of width 1 covers one pixel per step of a line (Bresenham); lineTo does not draw
//   the end point, and moves the current position there. A pen of width 2 covers the line's
//   pixels and the pixels one step to the right of them when the line is steeper than 45
//   degrees (vertical lines), else one step below (horizontal lines and 45 degrees).
// - rectangle/roundRect/ellipse: the shape is the set of pixels whose centres lie inside the
//   outline: the whole rectangle, the rectangle with each corner cut by a quarter of the
//   ellipseW x ellipseH ellipse (clamped to the rectangle's size), or the ellipse inscribed
//   in the rectangle. Shapes are symmetric: mirrored left-right and top-bottom inside their
//   rectangle. The pen is drawn inside the bounds: a pen of width w covers the pixels of the
//   shape that are not in the same shape built on the rectangle shrunk by w on every side
//   (with the corner ellipse shrunk by 2w), so nothing is drawn outside the rectangle; for
//   a plain rectangle that is exactly its outermost w rows and columns. The brush fills the
//   rest; a hollow brush leaves it alone. A "none" pen draws no outline and the brush fills
//   the whole shape.
// - polygon fills the pixels whose centres lie inside the outline (even-odd rule; a centre
//   exactly on an edge counts as inside for left and top edges, outside for right and bottom
//   ones), then strokes the closed outline with the pen, as lineTo segments, unless it is
//   "none". The current position is not changed.
//
// Text conventions:
// - textOut(x, y) puts the top-left of the text cell at (x, y); the cell is textMetrics()
//   .height high, the baseline textMetrics().ascent below its top. Each character advances
//   by its glyph's whole-pixel advance (no kerning) plus the character extra, so
//   textExtent(s).cx = sum of the advances + characters x extra, and cy = the cell height.
// - Text that is not transparent first fills its cell (the extent at the drawing position)
//   with the text background. Glyphs are blended into the pixels in the text colour.
// - drawText lays out one line (line breaks are not interpreted) in the rectangle: left at
//   r.left, centred at r.left + (width - cx) / 2, right at r.right - cx; top at r.top or
//   vertically centred at r.top + (height - cy) / 2 (divisions truncate); with
//   TextEndEllipsis, text wider than the rectangle loses characters from its end until it
//   fits with "..." after it. Drawing is clipped to the rectangle.
// - A fresh canvas has a black 1-pixel pen, a white brush, black text on an opaque white
//   background, no character extra and the default font (FontSpec{}).
//
// Fonts: height < 0 is the em height in pixels; height > 0 the cell height (ascent +
// descent); 0 means 12 pixels em. Faces that are not installed are substituted: "Segoe UI"
// by the system's sans-serif, "Consolas" by its monospace, "MS Gothic" by a Japanese face
// (fontconfig language ja, preferring one whose name contains "Gothic", then a fixed-pitch
// one) or, without one, the monospace; other faces by the monospace when fixedPitch is set,
// else the sans-serif. fontFaceName tells the family actually used.
// Metrics: ascent and descent are whole pixels from the font's hinted metrics; height =
// ascent + descent; internalLeading = height - em height; the ink box from the glyphs as
// they are drawn.
//
// Threads: a canvas belongs to one thread at a time. Fonts may be shared between canvases
// of one thread. Each font caches the glyphs it has drawn (an alpha mask and an advance per
// character), so text costs one blend per glyph after the first use; creating a canvas
// allocates its pixels, and text allocates only for glyphs not yet cached.
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
    // How far the ink of the font's printable ASCII characters (the spacing accents ` ^ ~
    // aside) reaches above the baseline and below it (the baseline's own row counts below),
    // in whole pixels: where the cell's rows hold something to see.
    int inkAscent;
    int inkDescent;
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
    // The same, limited to the destination pixels inside clip.
    void copyFrom(const Canvas& src, int dx, int dy, const Rect& clip);
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
