// Fonts of the canvas: face substitution through fontconfig, loading and metrics through
// Pango, and the glyph cache: each character is laid out once with Pango, rendered into an
// 8-bit mask with grayscale anti-aliasing and hinted metrics, and kept with its advance.
//
// Sections: RAII holders; face substitution; font loading; glyph masks.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include "platform/canvas_internal.h"

// ---- RAII holders ----

namespace {

struct GObjectFree {
    void operator()(void* p) const { g_object_unref(p); }
};
struct FontDescFree {
    void operator()(PangoFontDescription* p) const { pango_font_description_free(p); }
};
struct FontOptionsFree {
    void operator()(cairo_font_options_t* p) const { cairo_font_options_destroy(p); }
};
struct SurfaceFree {
    void operator()(cairo_surface_t* p) const { cairo_surface_destroy(p); }
};
struct CairoFree {
    void operator()(cairo_t* p) const { cairo_destroy(p); }
};
struct FcPatternFree {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct FcObjectSetFree {
    void operator()(FcObjectSet* p) const { FcObjectSetDestroy(p); }
};
struct FcFontSetFree {
    void operator()(FcFontSet* p) const { FcFontSetDestroy(p); }
};
struct FontMetricsFree {
    void operator()(PangoFontMetrics* p) const { pango_font_metrics_unref(p); }
};

using PatternPtr = std::unique_ptr<FcPattern, FcPatternFree>;
using FontSetPtr = std::unique_ptr<FcFontSet, FcFontSetFree>;

}  // namespace

struct FontPango {
    std::unique_ptr<PangoContext, GObjectFree> context;
    std::unique_ptr<PangoLayout, GObjectFree> layout;
    std::unique_ptr<PangoFontDescription, FontDescFree> desc;
    int baselinePx = 0;  // of a layout in the font itself, from its top
};

// ---- Face substitution ----

namespace {

bool familyInstalled(const std::string& family) {
    PatternPtr pat(FcPatternCreate());
    FcPatternAddString(pat.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    std::unique_ptr<FcObjectSet, FcObjectSetFree> os(FcObjectSetBuild(FC_FAMILY, nullptr));
    FontSetPtr fs(FcFontList(nullptr, pat.get(), os.get()));
    return fs && fs->nfont > 0;
}

// The family fontconfig answers for a name such as "sans-serif" or "monospace".
std::string matchFamily(const char* name) {
    PatternPtr pat(FcNameParse(reinterpret_cast<const FcChar8*>(name)));
    if (!pat) return name;
    FcConfigSubstitute(nullptr, pat.get(), FcMatchPattern);
    FcDefaultSubstitute(pat.get());
    FcResult result = FcResultNoMatch;
    PatternPtr match(FcFontMatch(nullptr, pat.get(), &result));
    FcChar8* family = nullptr;
    if (match && FcPatternGetString(match.get(), FC_FAMILY, 0, &family) == FcResultMatch && family)
        return reinterpret_cast<const char*>(family);
    return name;
}

// A Japanese face: among the installed fonts that cover Japanese, one whose name contains
// "Gothic" first, then a fixed-pitch one, then by name. Empty when there is none.
std::string japaneseFamily() {
    PatternPtr pat(FcPatternCreate());
    FcPatternAddString(pat.get(), FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    std::unique_ptr<FcObjectSet, FcObjectSetFree> os(FcObjectSetBuild(FC_FAMILY, FC_SPACING, nullptr));
    FontSetPtr fs(FcFontList(nullptr, pat.get(), os.get()));
    if (!fs) return {};
    std::string best;
    int bestRank = -1;
    for (int i = 0; i < fs->nfont; ++i) {
        FcChar8* fam = nullptr;
        if (FcPatternGetString(fs->fonts[i], FC_FAMILY, 0, &fam) != FcResultMatch || !fam) continue;
        const std::string name = reinterpret_cast<const char*>(fam);
        int spacing = FC_PROPORTIONAL;
        FcPatternGetInteger(fs->fonts[i], FC_SPACING, 0, &spacing);
        const int rank = (name.find("Gothic") != std::string::npos ? 2 : 0) + (spacing >= FC_DUAL ? 1 : 0);
        if (rank > bestRank || (rank == bestRank && name < best)) {
            best = name;
            bestRank = rank;
        }
    }
    return best;
}

std::string substituteFamily(const std::string& face, bool fixedPitch) {
    if (!face.empty() && familyInstalled(face)) return face;
    if (face == "MS Gothic") {
        std::string ja = japaneseFamily();
        if (!ja.empty()) return ja;
        return matchFamily("monospace");
    }
    if (face == "Segoe UI") return matchFamily("sans-serif");
    if (face == "Consolas") return matchFamily("monospace");
    return matchFamily(fixedPitch ? "monospace" : "sans-serif");
}

// Substitution asks fontconfig for lists of fonts, which costs far more than the layout
// rebuilding its fonts on every resize should pay: remember each answer.
std::string familyFor(const FontSpec& spec) {
    static std::mutex lock;
    static std::map<std::pair<std::string, bool>, std::string> known;
    const std::lock_guard<std::mutex> hold(lock);
    auto key = std::make_pair(spec.face, spec.fixedPitch);
    auto it = known.find(key);
    if (it == known.end()) it = known.emplace(key, substituteFamily(spec.face, spec.fixedPitch)).first;
    return it->second;
}

// ---- Font loading ----

std::unique_ptr<PangoContext, GObjectFree> newContext() {
    // Each thread has its own default font map; a font stays on the thread that made it.
    PangoFontMap* map = pango_cairo_font_map_get_default();
    std::unique_ptr<PangoContext, GObjectFree> ctx(pango_font_map_create_context(map));
    std::unique_ptr<cairo_font_options_t, FontOptionsFree> opts(cairo_font_options_create());
    cairo_font_options_set_antialias(opts.get(), CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_metrics(opts.get(), CAIRO_HINT_METRICS_ON);
    cairo_font_options_set_hint_style(opts.get(), CAIRO_HINT_STYLE_SLIGHT);
    pango_cairo_context_set_font_options(ctx.get(), opts.get());
    pango_cairo_context_set_resolution(ctx.get(), 96.0);
    pango_context_set_round_glyph_positions(ctx.get(), TRUE);
    return ctx;
}

struct LoadedMetrics {
    std::string family;
    int ascentPx = 0, descentPx = 0;
};

LoadedMetrics loadMetrics(PangoContext* ctx, const PangoFontDescription* desc) {
    LoadedMetrics m;
    std::unique_ptr<PangoFont, GObjectFree> font(pango_context_load_font(ctx, desc));
    if (!font) return m;
    std::unique_ptr<PangoFontDescription, FontDescFree> used(pango_font_describe(font.get()));
    if (used && pango_font_description_get_family(used.get()))
        m.family = pango_font_description_get_family(used.get());
    std::unique_ptr<PangoFontMetrics, FontMetricsFree> metrics(pango_font_get_metrics(font.get(), nullptr));
    if (metrics) {
        m.ascentPx = PANGO_PIXELS_CEIL(pango_font_metrics_get_ascent(metrics.get()));
        m.descentPx = PANGO_PIXELS_CEIL(pango_font_metrics_get_descent(metrics.get()));
    }
    return m;
}

}  // namespace

Font::Font(const FontSpec& s) : spec(s), pango_(std::make_unique<FontPango>()) {
    FontPango& p = *pango_;
    p.context = newContext();
    p.desc.reset(pango_font_description_new());
    family = familyFor(spec);
    pango_font_description_set_family(p.desc.get(), family.c_str());
    pango_font_description_set_weight(p.desc.get(), PangoWeight(std::clamp(spec.weight, 100, 1000)));
    pango_font_description_set_style(p.desc.get(), PANGO_STYLE_NORMAL);

    auto loadAt = [&](int em) {
        pango_font_description_set_absolute_size(p.desc.get(), double(em) * PANGO_SCALE);
        return loadMetrics(p.context.get(), p.desc.get());
    };
    emPx = spec.height < 0 ? -spec.height : spec.height > 0 ? spec.height : 12;
    LoadedMetrics m = loadAt(emPx);
    if (spec.height > 0 && m.ascentPx + m.descentPx > 0) {
        // A cell height: the em that gives that cell, from the font's proportions.
        const int cell = m.ascentPx + m.descentPx;
        emPx = std::max(1, int(std::lround(double(spec.height) * spec.height / cell)));
        m = loadAt(emPx);
    }
    if (!m.family.empty()) family = m.family;
    ascentPx = m.ascentPx;
    descentPx = m.descentPx;

    p.layout.reset(pango_layout_new(p.context.get()));
    pango_layout_set_font_description(p.layout.get(), p.desc.get());
    pango_layout_set_text(p.layout.get(), "M", 1);
    p.baselinePx = PANGO_PIXELS(pango_layout_get_baseline(p.layout.get()));
    if (ascentPx <= 0) ascentPx = p.baselinePx;
}

Font::~Font() = default;

// ---- Glyph masks ----

const GlyphMask& Font::glyphSlow(char32_t c) {
    if (c >= 0x10000) {
        auto it = astral_.find(c);
        if (it == astral_.end()) it = astral_.emplace(c, rasterize(c)).first;
        return it->second;
    }
    std::unique_ptr<Page>& page = pages_[c >> 8];
    if (!page) page = std::make_unique<Page>();
    page->glyphs[c & 255] = rasterize(c);
    page->ready[c & 255] = true;
    return page->glyphs[c & 255];
}

GlyphMask Font::rasterize(char32_t c) {
    GlyphMask g;
    // Control characters draw nothing and take no room.
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return g;

    char utf8[4];
    int n = 0;
    if (c < 0x80) {
        utf8[n++] = char(c);
    } else if (c < 0x800) {
        utf8[n++] = char(0xC0 | (c >> 6));
        utf8[n++] = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        utf8[n++] = char(0xE0 | (c >> 12));
        utf8[n++] = char(0x80 | ((c >> 6) & 0x3F));
        utf8[n++] = char(0x80 | (c & 0x3F));
    } else {
        utf8[n++] = char(0xF0 | (c >> 18));
        utf8[n++] = char(0x80 | ((c >> 12) & 0x3F));
        utf8[n++] = char(0x80 | ((c >> 6) & 0x3F));
        utf8[n++] = char(0x80 | (c & 0x3F));
    }
    PangoLayout* layout = pango_->layout.get();
    pango_layout_set_text(layout, utf8, n);
    PangoRectangle ink, logical;
    pango_layout_get_pixel_extents(layout, &ink, &logical);
    // A glyph from a fallback font may sit on a line with another baseline: align baselines.
    const int baseline = PANGO_PIXELS(pango_layout_get_baseline(layout));
    g.advancePx = std::max(0, logical.width);
    if (ink.width <= 0 || ink.height <= 0) return g;

    std::unique_ptr<cairo_surface_t, SurfaceFree> surface(
        cairo_image_surface_create(CAIRO_FORMAT_A8, ink.width, ink.height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return g;
    {
        std::unique_ptr<cairo_t, CairoFree> cr(cairo_create(surface.get()));
        cairo_translate(cr.get(), -ink.x, -ink.y);
        pango_cairo_update_context(cr.get(), pango_->context.get());
        pango_layout_context_changed(layout);
        cairo_set_source_rgba(cr.get(), 0, 0, 0, 1);
        pango_cairo_show_layout(cr.get(), layout);
    }
    cairo_surface_flush(surface.get());
    const unsigned char* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    g.w = ink.width;
    g.h = ink.height;
    g.dx = ink.x;
    g.dy = ink.y - baseline + ascentPx;
    g.alpha.resize(size_t(g.w) * size_t(g.h));
    for (int y = 0; y < g.h; ++y) std::memcpy(&g.alpha[size_t(y) * size_t(g.w)], data + y * stride, size_t(g.w));
    return g;
}

void Font::inkBox(int& abovePx, int& belowPx) {
    if (!inkKnown_) {
        int top = ascentPx, bottom = ascentPx;  // rows from the cell's top
        for (char32_t c = 0x21; c < 0x7F; ++c) {
            // The spacing accents are marks for above letters (the grave reaches higher
            // than any letter), not text a line is made of.
            if (c == U'`' || c == U'^' || c == U'~') continue;
            const GlyphMask& g = glyph(c);
            if (g.w <= 0) continue;
            top = std::min(top, g.dy);
            bottom = std::max(bottom, g.dy + g.h);
        }
        inkAbovePx_ = ascentPx - top;
        inkBelowPx_ = bottom - ascentPx;
        inkKnown_ = true;
    }
    abovePx = inkAbovePx_;
    belowPx = inkBelowPx_;
}

FontRef fontCreate(const FontSpec& spec) { return std::make_shared<Font>(spec); }

std::string fontFaceName(const FontRef& font) { return font ? font->family : std::string(); }
