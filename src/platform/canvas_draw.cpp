// The canvas: a plain 0x00RRGGBB pixel buffer that shapes are rasterised into directly, so
// that every pixel a shape covers has exactly its colour, and that text is blended into
// from the fonts' cached glyph masks. Cairo only writes the PNG.
//
// How the conventions of canvas.h are realised:
// - Lines: Bresenham's algorithm from the current position, the end point left out; a
//   2-pixel pen plots each point twice, the second one step across the major direction.
// - Rounded rectangles, ellipses and rectangles: one routine gives the shape's span on each
//   row, from pixel centres tested against the corner ellipse, computed for the upper half
//   and mirrored to the lower half and from the left edge to the right edge, so shapes are
//   exactly symmetric. The pen is the outer span minus the span of the same shape shrunk by
//   the pen width.
// - Polygons: a scanline at each row's pixel centres, crossings with half-open edges (top
//   end included), spans filled between pairs of crossings.
//
// Sections: pixel helpers; Canvas state; shapes; text; pixels and PNG.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include <cairo.h>

#include "platform/canvas_internal.h"

struct Canvas::Impl {
    int w = 1, h = 1;
    std::unique_ptr<uint32_t[]> px;  // 0x00RRGGBB, w per row
    Pen pen{0, 1, false};
    Brush brush{rgb(255, 255, 255), false};
    FontRef font;
    Rgb textColor = 0;
    bool transparentText = false;
    Rgb textBackground = rgb(255, 255, 255);
    int charExtra = 0;
    Point cur{0, 0};
};

// ---- Pixel helpers ----

namespace {

inline uint32_t toPixel(Rgb c) { return uint32_t(rgbRed(c)) << 16 | uint32_t(rgbGreen(c)) << 8 | uint32_t(rgbBlue(c)); }
inline Rgb fromPixel(uint32_t p) { return rgb(int(p >> 16) & 255, int(p >> 8) & 255, int(p) & 255); }

void hspan(Canvas::Impl& c, int y, int x0, int x1, uint32_t p) {
    if (y < 0 || y >= c.h) return;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, c.w);
    if (x0 >= x1) return;
    std::fill(c.px.get() + size_t(y) * size_t(c.w) + size_t(x0), c.px.get() + size_t(y) * size_t(c.w) + size_t(x1), p);
}

inline void plot(Canvas::Impl& c, int x, int y, uint32_t p) {
    if (unsigned(x) < unsigned(c.w) && unsigned(y) < unsigned(c.h)) c.px[size_t(y) * size_t(c.w) + size_t(x)] = p;
}

const FontRef& defaultFont() {
    thread_local const FontRef font = fontCreate(FontSpec{});
    return font;
}

Font& currentFont(Canvas::Impl& c) { return c.font ? *c.font : *defaultFont(); }

}  // namespace

// ---- Canvas state ----

Canvas::Canvas(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Canvas::~Canvas() = default;

std::unique_ptr<Canvas> Canvas::create(int w, int h) {
    auto impl = std::make_unique<Impl>();
    impl->w = w > 0 && h > 0 ? w : 1;
    impl->h = w > 0 && h > 0 ? h : 1;
    impl->px.reset(new uint32_t[size_t(impl->w) * size_t(impl->h)]());
    return std::unique_ptr<Canvas>(new Canvas(std::move(impl)));
}

int Canvas::width() const { return impl_->w; }
int Canvas::height() const { return impl_->h; }

Pen Canvas::setPen(const Pen& pen) { return std::exchange(impl_->pen, pen); }
Brush Canvas::setBrush(const Brush& brush) { return std::exchange(impl_->brush, brush); }
FontRef Canvas::setFont(FontRef font) { return std::exchange(impl_->font, std::move(font)); }
Rgb Canvas::setTextColor(Rgb color) { return std::exchange(impl_->textColor, color); }
bool Canvas::setTransparentText(bool transparent) { return std::exchange(impl_->transparentText, transparent); }
Rgb Canvas::setTextBackground(Rgb color) { return std::exchange(impl_->textBackground, color); }
int Canvas::setCharExtra(int px) { return std::exchange(impl_->charExtra, px); }

// ---- Shapes ----

namespace {

// The span [x0, x1) of row y of the rounded rectangle r with corner ellipse ew x eh
// (already clamped to r's size); false when the row is empty or outside r.
bool shapeRow(const Rect& r, int ew, int eh, int y, int& x0, int& x1) {
    const int height = r.bottom - r.top;
    if (y < r.top || y >= r.bottom || r.right <= r.left) return false;
    // Mirror the lower half onto the upper one.
    int row = y - r.top;
    if (row >= height - row) row = height - 1 - row;
    int inset = 0;
    if (ew > 0 && eh > 0) {
        const double ry = eh * 0.5, rx = ew * 0.5;
        const double yc = row + 0.5;
        if (yc < ry) {
            const double dy = (ry - yc) / ry;
            const double dx = rx * std::sqrt(std::max(0.0, 1.0 - dy * dy));
            // The first pixel whose centre lies at or beyond the curve.
            inset = int(std::ceil(rx - dx - 0.5));
        }
    }
    x0 = r.left + inset;
    x1 = r.right - inset;
    return x0 < x1;
}

// Brush inside, pen of the current width around, for a rounded rectangle of corner ew x eh.
void drawShape(Canvas::Impl& c, const Rect& r, int ew, int eh) {
    if (r.right <= r.left || r.bottom <= r.top) return;
    ew = std::min(ew, r.right - r.left);
    eh = std::min(eh, r.bottom - r.top);
    const bool pen = !c.pen.none && c.pen.width > 0;
    const int pw = pen ? c.pen.width : 0;
    const Rect in{r.left + pw, r.top + pw, r.right - pw, r.bottom - pw};
    int iew = std::min(ew - 2 * pw, in.right - in.left);
    int ieh = std::min(eh - 2 * pw, in.bottom - in.top);
    if (iew <= 0 || ieh <= 0) iew = ieh = 0;
    const uint32_t penPx = toPixel(c.pen.color);
    const uint32_t brushPx = toPixel(c.brush.color);
    const int y0 = std::max(r.top, 0), y1 = std::min(r.bottom, c.h);
    for (int y = y0; y < y1; ++y) {
        int ox0, ox1;
        if (!shapeRow(r, ew, eh, y, ox0, ox1)) continue;
        int ix0, ix1;
        if (pw > 0 && (in.right <= in.left || in.bottom <= in.top || !shapeRow(in, iew, ieh, y, ix0, ix1))) {
            hspan(c, y, ox0, ox1, penPx);
            continue;
        }
        if (pw == 0) {
            ix0 = ox0;
            ix1 = ox1;
        }
        ix0 = std::clamp(ix0, ox0, ox1);
        ix1 = std::clamp(ix1, ix0, ox1);
        if (pw > 0) {
            hspan(c, y, ox0, ix0, penPx);
            hspan(c, y, ix1, ox1, penPx);
        }
        if (!c.brush.hollow) hspan(c, y, ix0, ix1, brushPx);
    }
}

void drawLine(Canvas::Impl& c, int x0, int y0, int x1, int y1) {
    if (c.pen.none || c.pen.width <= 0) return;
    const uint32_t p = toPixel(c.pen.color);
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    const bool wide = c.pen.width >= 2;
    const bool steep = -dy > dx;
    int err = dx + dy;
    int x = x0, y = y0;
    while (x != x1 || y != y1) {
        plot(c, x, y, p);
        if (wide) {
            if (steep) plot(c, x + 1, y, p);
            else plot(c, x, y + 1, p);
        }
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

}  // namespace

void Canvas::fillRect(const Rect& r, Rgb color) {
    const uint32_t p = toPixel(color);
    const int y0 = std::max(r.top, 0), y1 = std::min(r.bottom, impl_->h);
    for (int y = y0; y < y1; ++y) hspan(*impl_, y, r.left, r.right, p);
}

void Canvas::rectangle(const Rect& r) { drawShape(*impl_, r, 0, 0); }

void Canvas::roundRect(const Rect& r, int ellipseW, int ellipseH) {
    drawShape(*impl_, r, std::max(0, ellipseW), std::max(0, ellipseH));
}

void Canvas::ellipse(const Rect& r) { drawShape(*impl_, r, r.right - r.left, r.bottom - r.top); }

void Canvas::polygon(const Point* pts, int count) {
    if (!pts || count < 2) return;
    Impl& c = *impl_;
    if (!c.brush.hollow && count >= 3) {
        int top = pts[0].y, bottom = pts[0].y;
        for (int i = 1; i < count; ++i) {
            top = std::min(top, pts[i].y);
            bottom = std::max(bottom, pts[i].y);
        }
        top = std::max(top, 0);
        bottom = std::min(bottom, c.h);
        const uint32_t p = toPixel(c.brush.color);
        std::vector<double> xs;
        xs.reserve(size_t(count));
        for (int y = top; y < bottom; ++y) {
            const double yc = y + 0.5;
            xs.clear();
            for (int i = 0; i < count; ++i) {
                const Point a = pts[i], b = pts[(i + 1) % count];
                if (a.y == b.y) continue;
                const double ya = a.y, yb = b.y;
                if (yc < std::min(ya, yb) || yc >= std::max(ya, yb)) continue;
                xs.push_back(a.x + (yc - ya) * (b.x - a.x) / (yb - ya));
            }
            std::sort(xs.begin(), xs.end());
            for (size_t k = 0; k + 1 < xs.size(); k += 2) {
                // Pixels whose centre x + 0.5 lies in [xs[k], xs[k + 1]).
                const int x0 = int(std::ceil(xs[k] - 0.5));
                const int x1 = int(std::ceil(xs[k + 1] - 0.5));
                hspan(c, y, x0, x1, p);
            }
        }
    }
    for (int i = 0; i < count; ++i) {
        const Point a = pts[i], b = pts[(i + 1) % count];
        drawLine(c, a.x, a.y, b.x, b.y);
    }
}

void Canvas::moveTo(int x, int y) { impl_->cur = {x, y}; }

void Canvas::lineTo(int x, int y) {
    drawLine(*impl_, impl_->cur.x, impl_->cur.y, x, y);
    impl_->cur = {x, y};
}

// ---- Text ----

namespace {

struct Clip {
    int x0, y0, x1, y1;
};

void blendGlyph(Canvas::Impl& c, const GlyphMask& g, int x, int y, uint32_t color, const Clip& clip) {
    const int gx0 = std::max(x, clip.x0), gy0 = std::max(y, clip.y0);
    const int gx1 = std::min(x + g.w, clip.x1), gy1 = std::min(y + g.h, clip.y1);
    if (gx0 >= gx1 || gy0 >= gy1) return;
    const int cr = int(color >> 16) & 255, cg = int(color >> 8) & 255, cb = int(color) & 255;
    for (int py = gy0; py < gy1; ++py) {
        const uint8_t* a = &g.alpha[size_t(py - y) * size_t(g.w) + size_t(gx0 - x)];
        uint32_t* d = c.px.get() + size_t(py) * size_t(c.w) + size_t(gx0);
        for (int px = gx0; px < gx1; ++px, ++a, ++d) {
            const int k = *a;
            if (k == 0) continue;
            if (k == 255) {
                *d = color;
                continue;
            }
            const uint32_t v = *d;
            const int r = int(v >> 16) & 255, gg = int(v >> 8) & 255, b = int(v) & 255;
            const int nr = r + ((cr - r) * k + (cr >= r ? 127 : -127)) / 255;
            const int ng = gg + ((cg - gg) * k + (cg >= gg ? 127 : -127)) / 255;
            const int nb = b + ((cb - b) * k + (cb >= b ? 127 : -127)) / 255;
            *d = uint32_t(nr) << 16 | uint32_t(ng) << 8 | uint32_t(nb);
        }
    }
}

int extentOf(Font& f, std::wstring_view text, int extra) {
    int cx = 0;
    for (size_t i = 0; i < text.size();) cx += f.glyph(nextCodePoint(text, i)).advancePx + extra;
    return cx;
}

void drawRun(Canvas::Impl& c, int x, int y, std::wstring_view text, const Clip& clip) {
    Font& f = currentFont(c);
    if (!c.transparentText) {
        const int cx = extentOf(f, text, c.charExtra);
        const uint32_t bk = toPixel(c.textBackground);
        for (int py = std::max(y, clip.y0); py < std::min(y + f.ascentPx + f.descentPx, clip.y1); ++py)
            hspan(c, py, std::max(x, clip.x0), std::min(x + cx, clip.x1), bk);
    }
    const uint32_t color = toPixel(c.textColor);
    for (size_t i = 0; i < text.size();) {
        const GlyphMask& g = f.glyph(nextCodePoint(text, i));
        if (g.w > 0) blendGlyph(c, g, x + g.dx, y + g.dy, color, clip);
        x += g.advancePx + c.charExtra;
    }
}

}  // namespace

void Canvas::textOut(int x, int y, std::wstring_view text) {
    drawRun(*impl_, x, y, text, Clip{0, 0, impl_->w, impl_->h});
}

void Canvas::drawText(const Rect& r, std::wstring_view text, unsigned flags) {
    Impl& c = *impl_;
    Font& f = currentFont(c);
    const Clip clip{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, c.w), std::min(r.bottom, c.h)};
    if (clip.x0 >= clip.x1 || clip.y0 >= clip.y1) return;

    std::wstring cut;
    int cx = extentOf(f, text, c.charExtra);
    if ((flags & TextEndEllipsis) && cx > r.width()) {
        // Keep the longest head of the text that still fits with "..." after it.
        const int dots = extentOf(f, L"...", c.charExtra);
        size_t keep = 0;
        int width = 0;
        for (size_t i = 0; i < text.size();) {
            const size_t at = i;
            const int adv = f.glyph(nextCodePoint(text, i)).advancePx + c.charExtra;
            if (width + adv + dots > r.width()) {
                i = at;
                break;
            }
            width += adv;
            keep = i;
        }
        cut.assign(text.substr(0, keep));
        cut += L"...";
        text = cut;
        cx = width + dots;
    }
    const int cy = f.ascentPx + f.descentPx;
    int x = r.left;
    if (flags & TextCenter) x = r.left + (r.width() - cx) / 2;
    else if (flags & TextRight) x = r.right - cx;
    int y = r.top;
    if (flags & TextVCenter) y = r.top + (r.height() - cy) / 2;
    drawRun(c, x, y, text, clip);
}

Size Canvas::textExtent(std::wstring_view text) {
    Font& f = currentFont(*impl_);
    return Size{extentOf(f, text, impl_->charExtra), f.ascentPx + f.descentPx};
}

TextMetrics Canvas::textMetrics() {
    Font& f = currentFont(*impl_);
    const int height = f.ascentPx + f.descentPx;
    int above = 0, below = 0;
    f.inkBox(above, below);
    return TextMetrics{height, f.ascentPx, f.descentPx, height - f.emPx, above, below};
}

std::string Canvas::faceName() { return currentFont(*impl_).family; }

// ---- Pixels and PNG ----

void Canvas::copyFrom(const Canvas& src, int dx, int dy) { copyFrom(src, dx, dy, Rect{0, 0, impl_->w, impl_->h}); }

void Canvas::copyFrom(const Canvas& src, int dx, int dy, const Rect& clip) {
    Impl& d = *impl_;
    const Impl& s = *src.impl_;
    const int x0 = std::max({dx, clip.left, 0}), x1 = std::min({dx + s.w, clip.right, d.w});
    const int y0 = std::max({dy, clip.top, 0}), y1 = std::min({dy + s.h, clip.bottom, d.h});
    if (x0 >= x1 || y0 >= y1) return;
    for (int y = y0; y < y1; ++y)
        std::memcpy(d.px.get() + size_t(y) * size_t(d.w) + size_t(x0),
                    s.px.get() + size_t(y - dy) * size_t(s.w) + size_t(x0 - dx), size_t(x1 - x0) * 4);
}

Rgb Canvas::pixel(int x, int y) const {
    if (unsigned(x) >= unsigned(impl_->w) || unsigned(y) >= unsigned(impl_->h)) return 0;
    return fromPixel(impl_->px[size_t(y) * size_t(impl_->w) + size_t(x)]);
}

const uint32_t* Canvas::pixels() const { return impl_->px.get(); }
int Canvas::stridePixels() const { return impl_->w; }

bool Canvas::writePng(const std::string& path) const {
    struct SurfaceFree {
        void operator()(cairo_surface_t* p) const { cairo_surface_destroy(p); }
    };
    std::unique_ptr<cairo_surface_t, SurfaceFree> surface(cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(impl_->px.get()), CAIRO_FORMAT_RGB24, impl_->w, impl_->h, impl_->w * 4));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return false;
    return cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}
