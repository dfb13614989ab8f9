// The canvas: exact pixels of the shapes (the raster conventions the panel is drawn with),
// text placement, measurement and metrics, and font substitution.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/canvas.h"

namespace {

constexpr Rgb kBack = rgb(9, 14, 10);
constexpr Rgb kPen = rgb(255, 92, 77);
constexpr Rgb kFill = rgb(4, 8, 5);

std::unique_ptr<Canvas> blank(int w, int h) {
    auto c = Canvas::create(w, h);
    c->fillRect(Rect{0, 0, w, h}, kBack);
    return c;
}

using PixelSet = std::set<std::pair<int, int>>;

PixelSet pixelsOf(const Canvas& c, Rgb color) {
    PixelSet s;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            if (c.pixel(x, y) == color) s.insert({x, y});
    return s;
}

PixelSet rectSet(int l, int t, int r, int b) {
    PixelSet s;
    for (int y = t; y < b; ++y)
        for (int x = l; x < r; ++x) s.insert({x, y});
    return s;
}

// The bounding box of every pixel that is not the background.
Rect inkBox(const Canvas& c) {
    Rect box{c.width(), c.height(), -1, -1};
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            if (c.pixel(x, y) != kBack) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x + 1);
                box.bottom = std::max(box.bottom, y + 1);
            }
    return box;
}

bool mirrored(const Canvas& c, const Rect& r) {
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) {
            const int mx = r.left + r.right - 1 - x, my = r.top + r.bottom - 1 - y;
            if (c.pixel(x, y) != c.pixel(mx, y) || c.pixel(x, y) != c.pixel(x, my)) return false;
        }
    return true;
}

}  // namespace

TEST(CanvasShapes, FillRectCoversExactlyItsPixels) {
    struct Case {
        Rect r;
        PixelSet expected;
    };
    const Case cases[] = {
        {{2, 3, 6, 5}, rectSet(2, 3, 6, 5)},
        {{-3, -2, 2, 1}, rectSet(0, 0, 2, 1)},    // clipped at the image's top-left
        {{8, 6, 20, 20}, rectSet(8, 6, 10, 8)},   // clipped at its bottom-right
        {{5, 5, 5, 7}, {}},                       // no width
        {{6, 4, 3, 2}, {}},                       // inverted: empty
    };
    for (const Case& c : cases) {
        auto cv = blank(10, 8);
        cv->fillRect(c.r, kFill);
        EXPECT_EQ(pixelsOf(*cv, kFill), c.expected) << c.r.left << "," << c.r.top << "," << c.r.right << "," << c.r.bottom;
    }
}

TEST(CanvasShapes, LinesLeaveOutTheEndPointAndWidePensGrowRightOrDown) {
    struct Case {
        const char* name;
        Point a, b;
        int width;
        PixelSet expected;
    };
    const Case cases[] = {
        {"horizontal", {1, 1}, {5, 1}, 1, rectSet(1, 1, 5, 2)},
        {"horizontal leftward", {5, 1}, {1, 1}, 1, rectSet(2, 1, 6, 2)},
        {"vertical", {2, 0}, {2, 4}, 1, rectSet(2, 0, 3, 4)},
        {"diagonal", {0, 0}, {4, 4}, 1, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
        {"zero length", {3, 3}, {3, 3}, 1, {}},
        {"2 px horizontal", {1, 1}, {5, 1}, 2, rectSet(1, 1, 5, 3)},
        {"2 px vertical", {2, 0}, {2, 4}, 2, rectSet(2, 0, 4, 4)},
    };
    for (const Case& c : cases) {
        auto cv = blank(10, 10);
        cv->setPen(Pen{kPen, c.width});
        cv->moveTo(c.a.x, c.a.y);
        cv->lineTo(c.b.x, c.b.y);
        EXPECT_EQ(pixelsOf(*cv, kPen), c.expected) << c.name;
    }
}

TEST(CanvasShapes, LineToContinuesFromItsEndAndANullPenDrawsNothing) {
    auto cv = blank(10, 10);
    cv->setPen(Pen{kPen, 1});
    cv->moveTo(1, 1);
    cv->lineTo(4, 1);
    cv->lineTo(4, 4);  // the corner (4, 1) comes from the second segment
    PixelSet expected = rectSet(1, 1, 4, 2);
    for (int y = 1; y < 4; ++y) expected.insert({4, y});
    EXPECT_EQ(pixelsOf(*cv, kPen), expected);

    cv->setPen(Pen{kPen, 1, true});
    cv->moveTo(0, 8);
    cv->lineTo(9, 8);
    EXPECT_EQ(pixelsOf(*cv, kPen), expected);
}

TEST(CanvasShapes, RectanglePenLiesInsideAndTheHollowBrushKeepsTheInside) {
    struct Case {
        int penWidth;
        bool hollow;
        bool nullPen;
    };
    const Rect r{2, 2, 12, 9};
    for (const Case c : {Case{1, true, false}, Case{1, false, false}, Case{2, false, false}, Case{1, false, true}}) {
        auto cv = blank(14, 11);
        cv->setPen(Pen{kPen, c.penWidth, c.nullPen});
        cv->setBrush(Brush{kFill, c.hollow});
        cv->rectangle(r);
        const int w = c.nullPen ? 0 : c.penWidth;
        PixelSet border = rectSet(r.left, r.top, r.right, r.bottom);
        const PixelSet inside = rectSet(r.left + w, r.top + w, r.right - w, r.bottom - w);
        for (auto p : inside) border.erase(p);
        EXPECT_EQ(pixelsOf(*cv, kPen), border) << "pen " << c.penWidth << (c.nullPen ? " none" : "");
        EXPECT_EQ(pixelsOf(*cv, kFill), c.hollow ? PixelSet{} : inside);
        if (c.hollow) {
            EXPECT_EQ(pixelsOf(*cv, kBack).size(), size_t(14 * 11) - border.size());
        }
    }
}

TEST(CanvasShapes, RoundRectCornersAreCutAndItsTwoPixelBorderFollowsTheCurve) {
    // The panel's pill: 19 high with a corner ellipse of 9, a 2-pixel border.
    const Rect r{3, 2, 43, 21};
    auto cv = blank(46, 24);
    cv->setPen(Pen{kPen, 2});
    cv->setBrush(Brush{kFill});
    cv->roundRect(r, 9, 9);

    EXPECT_EQ(inkBox(*cv), r);
    EXPECT_TRUE(mirrored(*cv, r));
    // The corner is cut: with a radius of 4.5 two pixels of the top row, one of the next.
    EXPECT_EQ(cv->pixel(r.left, r.top), kBack);
    EXPECT_EQ(cv->pixel(r.left + 1, r.top), kBack);
    EXPECT_EQ(cv->pixel(r.left + 2, r.top), kPen);
    EXPECT_EQ(cv->pixel(r.left, r.top + 1), kBack);
    EXPECT_EQ(cv->pixel(r.left + 1, r.top + 1), kPen);
    // The straight edges: 2 pixels of border, then the fill.
    const int midX = (r.left + r.right) / 2, midY = (r.top + r.bottom) / 2;
    EXPECT_EQ(cv->pixel(midX, r.top), kPen);
    EXPECT_EQ(cv->pixel(midX, r.top + 1), kPen);
    EXPECT_EQ(cv->pixel(midX, r.top + 2), kFill);
    EXPECT_EQ(cv->pixel(r.left, midY), kPen);
    EXPECT_EQ(cv->pixel(r.left + 1, midY), kPen);
    EXPECT_EQ(cv->pixel(r.left + 2, midY), kFill);
    // Every pixel of the shape is border or fill, and each row's outer 2 pixels are border.
    for (int y = r.top; y < r.bottom; ++y) {
        int first = -1;
        for (int x = r.left; x < r.right && first < 0; ++x)
            if (cv->pixel(x, y) != kBack) first = x;
        ASSERT_GE(first, 0) << "row " << y;
        EXPECT_EQ(cv->pixel(first, y), kPen) << "row " << y;
        for (int x = first; x < r.right - (first - r.left); ++x)
            EXPECT_NE(cv->pixel(x, y), kBack) << x << "," << y;
    }
}

TEST(CanvasShapes, RoundRectWithoutCornerIsARectangle) {
    auto a = blank(20, 20), b = blank(20, 20);
    for (Canvas* cv : {a.get(), b.get()}) {
        cv->setPen(Pen{kPen, 2});
        cv->setBrush(Brush{kFill});
    }
    a->roundRect(Rect{2, 3, 17, 15}, 0, 0);
    b->rectangle(Rect{2, 3, 17, 15});
    EXPECT_EQ(pixelsOf(*a, kPen), pixelsOf(*b, kPen));
    EXPECT_EQ(pixelsOf(*a, kFill), pixelsOf(*b, kFill));
}

TEST(CanvasShapes, EllipseStaysInItsBoxAndIsSymmetric) {
    // The slider's knob: a 15 x 15 box with a 2-pixel ring; the centre dot: 5 x 5, 1-pixel pen.
    struct Case {
        Rect box;
        int pen;
    };
    for (const Case c : {Case{{4, 3, 19, 18}, 2}, Case{{4, 3, 9, 8}, 1}, Case{{2, 2, 21, 11}, 1}}) {
        auto cv = blank(24, 21);
        cv->setPen(Pen{kPen, c.pen});
        cv->setBrush(Brush{kFill});
        cv->ellipse(c.box);
        EXPECT_EQ(inkBox(*cv), c.box);
        EXPECT_TRUE(mirrored(*cv, c.box));
        EXPECT_EQ(cv->pixel(c.box.left, c.box.top), kBack);
        const int cx = (c.box.left + c.box.right) / 2, cy = (c.box.top + c.box.bottom) / 2;
        EXPECT_EQ(cv->pixel(cx, c.box.top), kPen);
        EXPECT_EQ(cv->pixel(c.box.left, cy), kPen);
        EXPECT_EQ(cv->pixel(cx, cy), kFill);
        if (c.pen == 2) {
            EXPECT_EQ(cv->pixel(cx, c.box.top + 1), kPen);
            EXPECT_EQ(cv->pixel(cx, c.box.top + 2), kFill);
        }
    }
}

TEST(CanvasShapes, PolygonWithNullPenFillsPixelCentresInside) {
    // A square polygon covers what fillRect covers.
    {
        auto cv = blank(10, 10);
        cv->setPen(Pen{0, 1, true});
        cv->setBrush(Brush{kFill});
        const Point sq[] = {{2, 2}, {6, 2}, {6, 5}, {2, 5}};
        cv->polygon(sq, 4);
        EXPECT_EQ(pixelsOf(*cv, kFill), rectSet(2, 2, 6, 5));
    }
    // The needle's head: tip up at (10, 1), base on row 8 from x = 5 to 15. A row's pixels
    // are those whose centre lies in [left edge, right edge) at the row's centre; on row 4
    // the right edge passes exactly through a centre (12.5), which stays outside.
    auto cv = blank(21, 12);
    cv->setPen(Pen{0, 1, true});
    cv->setBrush(Brush{kFill});
    const Point tri[] = {{10, 1}, {5, 8}, {15, 8}};
    cv->polygon(tri, 3);
    const std::pair<int, int> spans[12] = {{0, 0}, {0, 0}, {9, 11}, {8, 12}, {7, 12}, {7, 13},
                                           {6, 14}, {5, 15}, {0, 0}, {0, 0}, {0, 0}, {0, 0}};
    PixelSet expected;
    for (int y = 0; y < 12; ++y)
        for (int x = spans[y].first; x < spans[y].second; ++x) expected.insert({x, y});
    EXPECT_EQ(pixelsOf(*cv, kFill), expected);
    EXPECT_EQ(pixelsOf(*cv, kBack).size(), size_t(21 * 12) - expected.size()) << "no outline";
}

TEST(CanvasShapes, PolygonOutlineUsesThePen) {
    auto cv = blank(10, 10);
    cv->setPen(Pen{kPen, 1});
    cv->setBrush(Brush{kFill});
    const Point sq[] = {{2, 2}, {7, 2}, {7, 6}, {2, 6}};
    cv->polygon(sq, 4);
    PixelSet outline = rectSet(2, 2, 8, 7);
    for (auto p : rectSet(3, 3, 7, 6)) outline.erase(p);
    EXPECT_EQ(pixelsOf(*cv, kPen), outline);
    EXPECT_EQ(pixelsOf(*cv, kFill), rectSet(3, 3, 7, 6));
}

TEST(CanvasPixels, CopyClipsToTheImageAndToTheClipRect) {
    auto src = Canvas::create(4, 3);
    src->fillRect(Rect{0, 0, 4, 3}, kPen);
    auto dst = blank(10, 10);
    dst->copyFrom(*src, 8, -1);
    EXPECT_EQ(pixelsOf(*dst, kPen), rectSet(8, 0, 10, 2));
    auto clipped = blank(10, 10);
    clipped->copyFrom(*src, 1, 1, Rect{2, 0, 4, 10});
    EXPECT_EQ(pixelsOf(*clipped, kPen), rectSet(2, 1, 4, 4));
}

TEST(CanvasPixels, NewCanvasIsBlackPixelOutsideIsZeroAndPngIsWritten) {
    auto cv = Canvas::create(0, 5);
    EXPECT_EQ(cv->width(), 1);
    EXPECT_EQ(cv->height(), 1);
    auto c2 = Canvas::create(3, 2);
    EXPECT_EQ(pixelsOf(*c2, 0).size(), 6u);
    c2->fillRect(Rect{0, 0, 1, 1}, rgb(1, 2, 3));
    EXPECT_EQ(c2->pixels()[0], 0x010203u);  // 0x00RRGGBB in memory
    EXPECT_EQ(c2->pixel(-1, 0), 0u);
    EXPECT_EQ(c2->pixel(3, 0), 0u);

    const std::string path = testing::TempDir() + "canvas_test.png";
    ASSERT_TRUE(c2->writePng(path));
    std::ifstream in(path, std::ios::binary);
    char sig[8] = {};
    in.read(sig, 8);
    EXPECT_EQ(std::string(sig + 1, 3), "PNG");
    std::remove(path.c_str());
    EXPECT_FALSE(c2->writePng("/nonexistent-dir/x.png"));
}

// ---- Text ----

namespace {

FontRef ui(int height = -12, int weight = 400) { return fontCreate(FontSpec{height, weight, "Segoe UI", false}); }

// The families fontconfig lists for Japanese, to know what "MS Gothic" can become here.
bool japaneseGothicInstalled() {
    FILE* p = popen("fc-list :lang=ja family 2>/dev/null", "r");
    if (!p) return false;
    std::string all;
    char buf[256];
    while (fgets(buf, sizeof buf, p)) all += buf;
    pclose(p);
    return all.find("Gothic") != std::string::npos;
}

}  // namespace

TEST(CanvasText, TextOutStaysInItsCellAndOpaqueTextFillsTheCell) {
    for (bool transparent : {true, false}) {
        auto cv = blank(120, 40);
        cv->setFont(ui(-15, 700));
        cv->setTextColor(rgb(185, 255, 214));
        cv->setTransparentText(transparent);
        cv->setTextBackground(kFill);
        cv->textOut(10, 7, L"HELLO");
        const Size ext = cv->textExtent(L"HELLO");
        const Rect cell{10, 7, 10 + ext.cx, 7 + ext.cy};
        const Rect ink = inkBox(*cv);
        EXPECT_GE(ink.left, cell.left);
        EXPECT_GE(ink.top, cell.top);
        EXPECT_LE(ink.right, cell.right);
        EXPECT_LE(ink.bottom, cell.bottom);
        EXPECT_FALSE(pixelsOf(*cv, rgb(185, 255, 214)).empty()) << "solid stems take the text colour";
        if (transparent) {
            EXPECT_TRUE(pixelsOf(*cv, kFill).empty());
        } else {
            EXPECT_EQ(ink, cell);
            EXPECT_EQ(cv->pixel(cell.left, cell.top), kFill);
            EXPECT_EQ(cv->pixel(cell.right - 1, cell.bottom - 1), kFill);
        }
    }
}

TEST(CanvasText, GlyphTopSitsBelowTheCellTopByTheInternalLeading) {
    // The title is drawn at y - internal leading so that its capitals start near y.
    auto cv = blank(200, 60);
    cv->setFont(ui(-25, 600));
    cv->setTransparentText(true);
    cv->setTextColor(rgb(185, 255, 214));
    const TextMetrics m = cv->textMetrics();
    cv->textOut(5, 20 - m.internalLeading, L"KESTRUM");
    EXPECT_NEAR(inkBox(*cv).top, 20, 3);
}

TEST(CanvasText, DrawTextAlignsLeftCentreRightAndVertically) {
    struct Case {
        unsigned flags;
        std::function<void(const Rect& ink, const Size& ext)> check;
    };
    const Rect r{10, 5, 190, 45};
    const Case cases[] = {
        {TextLeft | TextTop | TextSingleLine,
         [&](const Rect& ink, const Size&) {
             EXPECT_GE(ink.left, r.left);
             EXPECT_LE(ink.left, r.left + 3);
             EXPECT_LE(ink.top, r.top + 6);
         }},
        {TextRight | TextSingleLine,
         [&](const Rect& ink, const Size&) {
             EXPECT_LE(ink.right, r.right);
             EXPECT_GE(ink.right, r.right - 3);
         }},
        {TextCenter | TextVCenter | TextSingleLine,
         [&](const Rect& ink, const Size&) {
             EXPECT_NEAR((ink.left + ink.right) / 2.0, (r.left + r.right) / 2.0, 2.0);
             EXPECT_NEAR((ink.top + ink.bottom) / 2.0, (r.top + r.bottom) / 2.0, 4.0);
         }},
    };
    for (const Case& c : cases) {
        auto cv = blank(200, 50);
        cv->setFont(ui(-17, 600));
        cv->setTransparentText(true);
        cv->setTextColor(rgb(185, 255, 214));
        cv->drawText(r, L"START KESTRUM", c.flags);
        c.check(inkBox(*cv), cv->textExtent(L"START KESTRUM"));
    }
}

TEST(CanvasText, DrawTextClipsToItsRectAndEllipsisKeepsAHeadWithDots) {
    const std::wstring text = L"STATION 01/30  A VERY LONG STATION NAME THAT DOES NOT FIT";
    const Rect r{4, 2, 124, 22};
    auto setup = [](Canvas& cv) {
        cv.setFont(ui());
        cv.setTransparentText(true);
        cv.setTextColor(rgb(140, 190, 160));
    };
    auto clipped = blank(200, 24);
    setup(*clipped);
    clipped->drawText(r, text, TextSingleLine);
    EXPECT_LE(inkBox(*clipped).right, r.right);

    auto cut = blank(200, 24);
    setup(*cut);
    cut->drawText(r, text, TextSingleLine | TextEndEllipsis);
    EXPECT_LE(inkBox(*cut).right, r.right);
    // The same picture as the longest head that fits with "..." drawn as plain text.
    std::wstring head;
    for (size_t n = text.size(); n > 0; --n) {
        head = text.substr(0, n) + L"...";
        if (cut->textExtent(head).cx <= r.width()) break;
    }
    auto expected = blank(200, 24);
    setup(*expected);
    expected->textOut(r.left, r.top, head);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 200; ++x) ASSERT_EQ(cut->pixel(x, y), expected->pixel(x, y)) << x << "," << y;
    // Text that fits is left whole.
    auto whole = blank(200, 24), plain = blank(200, 24);
    setup(*whole);
    setup(*plain);
    whole->drawText(r, L"NO SIGNAL", TextSingleLine | TextEndEllipsis);
    plain->textOut(r.left, r.top, L"NO SIGNAL");
    EXPECT_EQ(inkBox(*whole), inkBox(*plain));
}

TEST(CanvasText, ExtentGrowsWithTextAndCharExtraAddsToEveryCharacter) {
    auto cv = Canvas::create(1, 1);
    cv->setFont(ui());
    const Size empty = cv->textExtent(L"");
    EXPECT_EQ(empty.cx, 0);
    EXPECT_EQ(empty.cy, cv->textMetrics().height);
    int prev = 0;
    for (const wchar_t* s : {L"K", L"KE", L"KES", L"KEST"}) {
        const int w = cv->textExtent(s).cx;
        EXPECT_GT(w, prev) << "extent of " << std::wstring(s).size() << " characters";
        prev = w;
    }
    const int plain = cv->textExtent(L"KESTRUM").cx;
    EXPECT_EQ(cv->setCharExtra(5), 0);
    EXPECT_EQ(cv->textExtent(L"KESTRUM").cx, plain + 7 * 5);
    EXPECT_EQ(cv->setCharExtra(0), 5);
}

TEST(CanvasText, MetricsFollowTheRequestedHeight) {
    auto cv = Canvas::create(1, 1);
    for (int em : {10, 12, 15, 25, 27}) {
        cv->setFont(ui(-em));
        const TextMetrics m = cv->textMetrics();
        EXPECT_EQ(m.height, m.ascent + m.descent) << em;
        EXPECT_EQ(m.internalLeading, m.height - em) << em;
        EXPECT_GE(m.internalLeading, 0) << em;
        EXPECT_GT(m.ascent, m.descent) << em;
    }
    cv->setFont(ui(20));  // a positive height is the cell's
    EXPECT_NEAR(cv->textMetrics().height, 20, 1);
}

TEST(CanvasText, FacesAreSubstitutedAsOnTheSystemTheyComeFrom) {
    auto cv = Canvas::create(1, 1);
    const FontRef sans = fontCreate(FontSpec{-12, 400, "Segoe UI", false});
    const FontRef mono = fontCreate(FontSpec{-12, 400, "Consolas", true});
    const FontRef gothic = fontCreate(FontSpec{-15, 400, "MS Gothic", true});

    cv->setFont(sans);
    EXPECT_FALSE(cv->faceName().empty());
    EXPECT_EQ(cv->faceName(), fontFaceName(sans));
    EXPECT_LT(cv->textExtent(L"iiii").cx, cv->textExtent(L"WWWW").cx) << "a proportional face";

    cv->setFont(mono);
    EXPECT_EQ(cv->textExtent(L"iiii").cx, cv->textExtent(L"WWWW").cx) << fontFaceName(mono) << " is fixed-pitch";

    const bool gothicHere = japaneseGothicInstalled();
    EXPECT_EQ(fontFaceName(gothic).find("Gothic") != std::string::npos, gothicHere) << fontFaceName(gothic);
    if (gothicHere) {
        // The rain's katakana come out of the font as real glyphs, not empty boxes.
        auto rain = blank(40, 30);
        rain->setFont(gothic);
        rain->setTransparentText(true);
        rain->setTextColor(rgb(120, 216, 157));
        rain->textOut(2, 2, L"\xFF71");
        EXPECT_GT(inkBox(*rain).right, 0);
    }
    EXPECT_EQ(fontFaceName(nullptr), "");
}

TEST(CanvasText, SettersReturnThePreviousState) {
    auto cv = Canvas::create(2, 2);
    EXPECT_EQ(cv->setPen(Pen{kPen, 2}).color, 0u);
    EXPECT_EQ(cv->setPen(Pen{}).width, 2);
    EXPECT_EQ(cv->setBrush(Brush{kFill}).color, rgb(255, 255, 255));
    EXPECT_EQ(cv->setTextColor(kPen), 0u);
    EXPECT_FALSE(cv->setTransparentText(true));
    EXPECT_EQ(cv->setTextBackground(kFill), rgb(255, 255, 255));
    const FontRef f = ui();
    EXPECT_EQ(cv->setFont(f), nullptr);
    EXPECT_EQ(cv->setFont(nullptr), f);
}
