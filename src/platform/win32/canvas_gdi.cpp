// The canvas on GDI: a 32-bit top-down DIB section selected into a memory device context,
// drawn with GDI's own pens, brushes, shapes and text, and fonts made with CreateFontW by
// face name. Most of canvas.h maps one to one onto GDI; where GDI's rules differ from it,
// the canvas keeps canvas.h's:
// - The pen of a shape is PS_INSIDEFRAME when wider than 1 pixel, so that the outline of a
//   rectangle, rounded rectangle or ellipse stays inside its bounds.
// - GDI leaves out the right column and bottom row of a shape drawn without a pen: such a
//   shape is asked for one pixel larger, so that the brush fills all of it.
// - A wide pen's line is two 1-pixel lines, the second one step right or down, instead of
//   GDI's geometric line centred on the path with round ends.
// What stays GDI's own: the pixels of curves (ellipses, rounded corners) and of slanted
// polygon edges, and the font metrics GetTextMetricsW answers (the internal leading is
// GDI's, which is the cell height minus the em height up to the font system's rounding).
// - Text is grayscale anti-aliased (ANTIALIASED_QUALITY): ClearType's coloured fringes would
//   land in the pixels the core composes and reads back.
// - drawText is DrawTextW on one line with DT_NOPREFIX: "&" in a station name is a letter,
//   not a mnemonic.
// - pixels() are the DIB's own bits, which are 0x00RRGGBB per pixel, row-major and top-down:
//   the layout of the Linux canvas. GDI batches its calls, so every read of the bits
//   flushes first (GdiFlush).
//
// Every GDI handle has one owner (GdiHandle, the canvas's Impl, or a Font), and the objects
// a canvas selects are put back before they are deleted.
//
// Sections: handles; fonts; canvas state; shapes; text; pixels; PNG.
#ifndef UNICODE
#define UNICODE  // the system's wide names (IDC_ARROW, ...) as wide strings
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/canvas.h"
#include "platform/paths.h"

// ---- Handles ----

namespace {

// One GDI object (pen, brush, font, bitmap), deleted with its owner. A stock object is held
// without being deleted.
class GdiHandle {
public:
    GdiHandle() = default;
    GdiHandle(HGDIOBJ h, bool owned) : h_(h), owned_(owned) {}
    GdiHandle(GdiHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)), owned_(std::exchange(o.owned_, false)) {}
    GdiHandle& operator=(GdiHandle&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = std::exchange(o.h_, nullptr);
            owned_ = std::exchange(o.owned_, false);
        }
        return *this;
    }
    ~GdiHandle() { reset(); }
    void reset() {
        if (h_ && owned_) DeleteObject(h_);
        h_ = nullptr;
        owned_ = false;
    }
    HGDIOBJ get() const { return h_; }

private:
    HGDIOBJ h_ = nullptr;
    bool owned_ = false;
};

struct DcFree {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcFree>;

MemoryDc newMemoryDc() {
    MemoryDc dc(CreateCompatibleDC(nullptr));
    if (!dc) throw std::bad_alloc();
    return dc;
}

}  // namespace

// ---- Fonts ----

class Font {
public:
    explicit Font(const FontSpec& s) : spec(s) {
        // Negative: the em height in pixels; positive: the cell height; as CreateFontW reads it.
        const int height = s.height != 0 ? s.height : -12;
        HFONT f = CreateFontW(height, 0, 0, 0, s.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                              DWORD(s.fixedPitch ? FIXED_PITCH : DEFAULT_PITCH) | FF_DONTCARE,
                              utf8ToWide(s.face).c_str());
        // Without a font of its own the canvas falls back to the system's default GUI font.
        handle = f ? GdiHandle(f, true) : GdiHandle(GetStockObject(DEFAULT_GUI_FONT), false);

        // The face GDI actually chose, asked once.
        MemoryDc dc = newMemoryDc();
        HGDIOBJ old = SelectObject(dc.get(), handle.get());
        wchar_t used[LF_FACESIZE + 1] = {};
        if (GetTextFaceW(dc.get(), LF_FACESIZE, used) > 0) family = wideToUtf8(used);
        measureInk(dc.get());
        SelectObject(dc.get(), old);
    }

    HFONT hfont() const { return static_cast<HFONT>(handle.get()); }

    FontSpec spec;
    std::string family;  // the face actually used
    GdiHandle handle;
    // How far the ink of the printable ASCII characters reaches above the baseline and below
    // it (the baseline's own row counts below), in pixels.
    int inkAbove = 0;
    int inkBelow = 0;

private:
    // The ink box from each glyph's black box as GDI draws it (GetGlyphOutlineW's metrics).
    // The spacing accents ` ^ ~ are marks for above letters, not text a line is made of. A
    // font without outlines (a bitmap font) answers no glyph metrics: its cell then.
    void measureInk(HDC dc) {
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        const MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
        int above = 0, below = 0;
        bool any = false;
        for (wchar_t c = 0x21; c < 0x7F; ++c) {
            if (c == L'`' || c == L'^' || c == L'~') continue;
            GLYPHMETRICS gm{};
            if (GetGlyphOutlineW(dc, c, GGO_METRICS, &gm, 0, nullptr, &identity) == GDI_ERROR) continue;
            if (gm.gmBlackBoxX == 0 || gm.gmBlackBoxY == 0) continue;
            const int top = int(gm.gmptGlyphOrigin.y);  // rows above the baseline
            const int bottom = int(gm.gmBlackBoxY) - top;  // rows from the baseline's own down
            above = any ? std::max(above, top) : top;
            below = any ? std::max(below, bottom) : bottom;
            any = true;
        }
        inkAbove = any ? above : int(tm.tmAscent);
        inkBelow = any ? below : int(tm.tmDescent);
    }
};

FontRef fontCreate(const FontSpec& spec) { return std::make_shared<Font>(spec); }

std::string fontFaceName(const FontRef& font) { return font ? font->family : std::string(); }

namespace {

const FontRef& defaultFont() {
    static const FontRef font = fontCreate(FontSpec{});
    return font;
}

}  // namespace

// ---- Canvas state ----

struct Canvas::Impl {
    int w = 1, h = 1;
    MemoryDc dc;
    GdiHandle bitmap;
    uint32_t* bits = nullptr;  // the DIB's pixels, w per row, top row first
    HGDIOBJ oldBitmap = nullptr, oldPen = nullptr, oldBrush = nullptr, oldFont = nullptr;

    Pen pen{0, 1, false};
    Brush brush{rgb(255, 255, 255), false};
    GdiHandle penHandle, brushHandle;
    GdiHandle thinPen;  // a wide pen's colour at 1 pixel, for its lines
    FontRef font;      // as set; null is the default font
    FontRef selected;  // the font in the DC, kept alive while selected
    Rgb textColor = 0;
    bool transparentText = false;
    Rgb textBackground = rgb(255, 255, 255);
    int charExtra = 0;

    ~Impl() {
        if (!dc) return;
        // The DC's own objects go back in before ours are deleted.
        SelectObject(dc.get(), oldFont);
        SelectObject(dc.get(), oldBrush);
        SelectObject(dc.get(), oldPen);
        SelectObject(dc.get(), oldBitmap);
    }

    void selectPen(const Pen& p) {
        GdiHandle made = p.none ? GdiHandle(GetStockObject(NULL_PEN), false)
                                : GdiHandle(CreatePen(p.width > 1 ? PS_INSIDEFRAME : PS_SOLID, std::max(1, p.width),
                                                      COLORREF(p.color)),
                                            true);
        if (!made.get()) made = GdiHandle(GetStockObject(BLACK_PEN), false);
        SelectObject(dc.get(), made.get());
        penHandle = std::move(made);  // the previous pen is deselected: delete it
        // A wide pen's lines are drawn as two 1-pixel lines (see lineTo).
        thinPen = !p.none && p.width > 1 ? GdiHandle(CreatePen(PS_SOLID, 1, COLORREF(p.color)), true) : GdiHandle();
        pen = p;
    }

    void selectBrush(const Brush& b) {
        GdiHandle made = b.hollow ? GdiHandle(GetStockObject(NULL_BRUSH), false)
                                  : GdiHandle(CreateSolidBrush(COLORREF(b.color)), true);
        if (!made.get()) made = GdiHandle(GetStockObject(WHITE_BRUSH), false);
        SelectObject(dc.get(), made.get());
        brushHandle = std::move(made);
        brush = b;
    }

    void selectFont(FontRef f) {
        FontRef use = f ? f : defaultFont();
        SelectObject(dc.get(), use->hfont());
        selected = std::move(use);  // the previous font is deselected: it may go now
        font = std::move(f);
    }
};

Canvas::Canvas(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Canvas::~Canvas() = default;

std::unique_ptr<Canvas> Canvas::create(int w, int h) {
    auto impl = std::make_unique<Impl>();
    impl->w = w > 0 && h > 0 ? w : 1;
    impl->h = w > 0 && h > 0 ? h : 1;

    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = impl->w;
    bmi.bmiHeader.biHeight = -impl->h;  // top-down: row 0 is the top row
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp || !bits) throw std::bad_alloc();  // a DIB section is zero-filled: black
    impl->bitmap = GdiHandle(bmp, true);
    impl->bits = static_cast<uint32_t*>(bits);
    impl->dc = newMemoryDc();

    HDC dc = impl->dc.get();
    impl->oldBitmap = SelectObject(dc, bmp);
    impl->oldPen = GetCurrentObject(dc, OBJ_PEN);
    impl->oldBrush = GetCurrentObject(dc, OBJ_BRUSH);
    impl->oldFont = GetCurrentObject(dc, OBJ_FONT);
    impl->selectPen(impl->pen);
    impl->selectBrush(impl->brush);
    impl->selectFont(nullptr);
    SetTextColor(dc, COLORREF(impl->textColor));
    SetBkColor(dc, COLORREF(impl->textBackground));
    SetBkMode(dc, OPAQUE);
    SetTextCharacterExtra(dc, 0);
    SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
    return std::unique_ptr<Canvas>(new Canvas(std::move(impl)));
}

int Canvas::width() const { return impl_->w; }
int Canvas::height() const { return impl_->h; }

Pen Canvas::setPen(const Pen& pen) {
    const Pen old = impl_->pen;
    if (pen.color != old.color || pen.width != old.width || pen.none != old.none) impl_->selectPen(pen);
    return old;
}

Brush Canvas::setBrush(const Brush& brush) {
    const Brush old = impl_->brush;
    if (brush.color != old.color || brush.hollow != old.hollow) impl_->selectBrush(brush);
    return old;
}

FontRef Canvas::setFont(FontRef font) {
    FontRef old = impl_->font;
    impl_->selectFont(std::move(font));
    return old;
}

Rgb Canvas::setTextColor(Rgb color) {
    SetTextColor(impl_->dc.get(), COLORREF(color));
    return std::exchange(impl_->textColor, color);
}

bool Canvas::setTransparentText(bool transparent) {
    SetBkMode(impl_->dc.get(), transparent ? TRANSPARENT : OPAQUE);
    return std::exchange(impl_->transparentText, transparent);
}

Rgb Canvas::setTextBackground(Rgb color) {
    SetBkColor(impl_->dc.get(), COLORREF(color));
    return std::exchange(impl_->textBackground, color);
}

int Canvas::setCharExtra(int px) {
    SetTextCharacterExtra(impl_->dc.get(), px);
    return std::exchange(impl_->charExtra, px);
}

// ---- Shapes ----

namespace {

bool emptyRect(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

// GDI leaves out the right column and bottom row of a shape drawn without a pen; the canvas
// fills the whole shape, so such a shape is asked for one pixel larger.
RECT shapeRect(const Canvas::Impl& c, const Rect& r) {
    const int grow = c.pen.none ? 1 : 0;
    return RECT{r.left, r.top, r.right + grow, r.bottom + grow};
}

// A line of a wide pen: GDI's geometric lines are centred on the path with round ends; the
// canvas's cover the 1-pixel line and its copy one step right (steeper than 45 degrees) or
// one step down, both without the end point. The current position ends at (x1, y1).
void wideLine(Canvas::Impl& c, int x0, int y0, int x1, int y1) {
    HDC dc = c.dc.get();
    const bool steep = std::abs(y1 - y0) > std::abs(x1 - x0);
    const int ox = steep ? 1 : 0, oy = steep ? 0 : 1;
    HGDIOBJ wide = SelectObject(dc, c.thinPen.get());
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
    MoveToEx(dc, x0 + ox, y0 + oy, nullptr);
    LineTo(dc, x1 + ox, y1 + oy);
    SelectObject(dc, wide);
    MoveToEx(dc, x1, y1, nullptr);
}

bool widePen(const Canvas::Impl& c) { return !c.pen.none && c.pen.width > 1 && c.thinPen.get(); }

}  // namespace

void Canvas::fillRect(const Rect& r, Rgb color) {
    if (emptyRect(r)) return;
    // SetDCBrushColor and the DC brush: a fill costs no brush of its own.
    HDC dc = impl_->dc.get();
    const COLORREF old = SetDCBrushColor(dc, COLORREF(color));
    const RECT rc{r.left, r.top, r.right, r.bottom};
    FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    SetDCBrushColor(dc, old);
}

void Canvas::rectangle(const Rect& r) {
    if (emptyRect(r)) return;
    const RECT rc = shapeRect(*impl_, r);
    Rectangle(impl_->dc.get(), rc.left, rc.top, rc.right, rc.bottom);
}

void Canvas::roundRect(const Rect& r, int ellipseW, int ellipseH) {
    if (emptyRect(r)) return;
    const RECT rc = shapeRect(*impl_, r);
    RoundRect(impl_->dc.get(), rc.left, rc.top, rc.right, rc.bottom, std::max(0, ellipseW), std::max(0, ellipseH));
}

void Canvas::ellipse(const Rect& r) {
    if (emptyRect(r)) return;
    const RECT rc = shapeRect(*impl_, r);
    Ellipse(impl_->dc.get(), rc.left, rc.top, rc.right, rc.bottom);
}

void Canvas::polygon(const Point* pts, int count) {
    if (!pts || count < 2) return;
    Impl& c = *impl_;
    HDC dc = c.dc.get();
    // POINT and Point are both two ints, but only GDI's type may go to GDI.
    std::vector<POINT> p;
    p.reserve(size_t(count));
    for (int i = 0; i < count; ++i) p.push_back(POINT{pts[i].x, pts[i].y});
    if (!widePen(c)) {
        Polygon(dc, p.data(), count);
        return;
    }
    // The fill as with no pen, then the outline as the canvas draws wide lines.
    POINT at;
    GetCurrentPositionEx(dc, &at);
    HGDIOBJ wide = SelectObject(dc, GetStockObject(NULL_PEN));
    Polygon(dc, p.data(), count);
    SelectObject(dc, wide);
    for (int i = 0; i < count; ++i) {
        const POINT a = p[size_t(i)], b = p[size_t((i + 1) % count)];
        wideLine(c, a.x, a.y, b.x, b.y);
    }
    MoveToEx(dc, at.x, at.y, nullptr);
}

void Canvas::moveTo(int x, int y) { MoveToEx(impl_->dc.get(), x, y, nullptr); }

void Canvas::lineTo(int x, int y) {
    Impl& c = *impl_;
    if (!widePen(c)) {
        LineTo(c.dc.get(), x, y);
        return;
    }
    POINT at;
    GetCurrentPositionEx(c.dc.get(), &at);
    wideLine(c, at.x, at.y, x, y);
}

// ---- Text ----

namespace {

int textLength(std::wstring_view text) { return int(std::min<size_t>(text.size(), 0x7FFFFFFF)); }

}  // namespace

void Canvas::textOut(int x, int y, std::wstring_view text) {
    if (!text.empty()) TextOutW(impl_->dc.get(), x, y, text.data(), textLength(text));
}

void Canvas::drawText(const Rect& r, std::wstring_view text, unsigned flags) {
    if (emptyRect(r) || text.empty()) return;
    UINT f = DT_SINGLELINE | DT_NOPREFIX;
    if (flags & TextCenter) f |= DT_CENTER;
    else if (flags & TextRight) f |= DT_RIGHT;
    if (flags & TextVCenter) f |= DT_VCENTER;
    if (flags & TextEndEllipsis) f |= DT_END_ELLIPSIS;
    RECT rc{r.left, r.top, r.right, r.bottom};
    DrawTextW(impl_->dc.get(), text.data(), textLength(text), &rc, f);
}

Size Canvas::textExtent(std::wstring_view text) {
    SIZE s{0, 0};
    if (!text.empty()) {
        GetTextExtentPoint32W(impl_->dc.get(), text.data(), textLength(text), &s);
    } else {
        TEXTMETRICW tm{};
        GetTextMetricsW(impl_->dc.get(), &tm);
        s.cy = tm.tmHeight;
    }
    return Size{int(s.cx), int(s.cy)};
}

TextMetrics Canvas::textMetrics() {
    TEXTMETRICW tm{};
    GetTextMetricsW(impl_->dc.get(), &tm);
    const FontRef& f = impl_->selected;
    const int inkAbove = f ? f->inkAbove : int(tm.tmAscent);
    const int inkBelow = f ? f->inkBelow : int(tm.tmDescent);
    return TextMetrics{int(tm.tmHeight), int(tm.tmAscent), int(tm.tmDescent), int(tm.tmInternalLeading), inkAbove,
                       inkBelow};
}

std::string Canvas::faceName() {
    wchar_t used[LF_FACESIZE + 1] = {};
    return GetTextFaceW(impl_->dc.get(), LF_FACESIZE, used) > 0 ? wideToUtf8(used) : std::string();
}

// ---- Pixels ----

void Canvas::copyFrom(const Canvas& src, int dx, int dy) { copyFrom(src, dx, dy, Rect{0, 0, impl_->w, impl_->h}); }

void Canvas::copyFrom(const Canvas& src, int dx, int dy, const Rect& clip) {
    Impl& d = *impl_;
    const Impl& s = *src.impl_;
    const int x0 = std::max({dx, clip.left, 0}), x1 = std::min({dx + s.w, clip.right, d.w});
    const int y0 = std::max({dy, clip.top, 0}), y1 = std::min({dy + s.h, clip.bottom, d.h});
    if (x0 >= x1 || y0 >= y1) return;
    BitBlt(d.dc.get(), x0, y0, x1 - x0, y1 - y0, s.dc.get(), x0 - dx, y0 - dy, SRCCOPY);
}

Rgb Canvas::pixel(int x, int y) const {
    if (unsigned(x) >= unsigned(impl_->w) || unsigned(y) >= unsigned(impl_->h)) return 0;
    GdiFlush();
    const uint32_t p = impl_->bits[size_t(y) * size_t(impl_->w) + size_t(x)];
    return rgb(int(p >> 16) & 255, int(p >> 8) & 255, int(p) & 255);
}

const uint32_t* Canvas::pixels() const {
    GdiFlush();
    return impl_->bits;
}

int Canvas::stridePixels() const { return impl_->w; }

// ---- PNG ----

namespace {

uint32_t crc32Of(const uint8_t* p, size_t n, uint32_t crc = 0) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 255] ^ (crc >> 8);
    return ~crc;
}

void putBe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

void putChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
    putBe32(out, uint32_t(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putBe32(out, crc32Of(out.data() + start, out.size() - start));
}

}  // namespace

// An 8-bit RGB PNG whose image data is a zlib stream of stored (uncompressed) blocks: larger
// than a compressed one, but it needs no compressor.
bool Canvas::writePng(const std::string& path) const {
    const int w = impl_->w, h = impl_->h;
    const uint32_t* px = pixels();
    std::vector<uint8_t> raw;
    raw.reserve(size_t(h) * (size_t(w) * 3 + 1));
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);  // filter: none
        for (int x = 0; x < w; ++x) {
            const uint32_t p = px[size_t(y) * size_t(w) + size_t(x)];
            raw.push_back(uint8_t(p >> 16));
            raw.push_back(uint8_t(p >> 8));
            raw.push_back(uint8_t(p));
        }
    }

    std::vector<uint8_t> z{0x78, 0x01};
    uint32_t a = 1, b = 0;  // Adler-32 of the raw data
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(raw.size() - at, 65535);
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back(uint8_t(n));
        z.push_back(uint8_t(n >> 8));
        z.push_back(uint8_t(~n));
        z.push_back(uint8_t(~n >> 8));
        z.insert(z.end(), raw.begin() + ptrdiff_t(at), raw.begin() + ptrdiff_t(at + n));
        at += n;
    } while (at < raw.size());
    putBe32(z, (b << 16) | a);

    std::vector<uint8_t> header;
    putBe32(header, uint32_t(w));
    putBe32(header, uint32_t(h));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter set, not interlaced

    std::vector<uint8_t> file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putChunk(file, "IHDR", header);
    putChunk(file, "IDAT", z);
    putChunk(file, "IEND", {});

    struct FileClose {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, FileClose> f(_wfopen(utf8ToWide(path).c_str(), L"wb"));
    if (!f) return false;
    const bool wrote = std::fwrite(file.data(), 1, file.size(), f.get()) == file.size();
    return std::fclose(f.release()) == 0 && wrote;
}
