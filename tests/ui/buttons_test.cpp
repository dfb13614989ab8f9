// The parent-drawn buttons in every state, hovered or not, drawn into a canvas of the size
// the layout gives them at 560 x 760, and the labels' text colours.
#include <gtest/gtest.h>

#include <array>

#include "paint_support.h"

namespace {

using namespace painttest;
using namespace palette;

std::unique_ptr<Canvas> drawn(int id, int w, int h) {
    auto dc = Canvas::create(w, h);
    EXPECT_TRUE(drawButton(ButtonPaint{id, nullptr, dc.get(), Rect{0, 0, w, h}}));
    return dc;
}

// Start/stop and render: 242 x 46 at 560 x 760. r = {1, 1, 241, 45}; the 2-pixel border
// covers x = 1, 2 on the left; the status dot is centred at (18, 23).
struct BigButtonCase {
    const char* what;
    int id;
    bool live, hovered;
    Rgb fill, border, text, notText;
    Rgb dot;  // 0: no dot (render)
};

TEST(ParentDrawnButtons, StartStopAndRenderLooks) {
    const BigButtonCase cases[] = {
        {"start", kIdTog, false, false, kStartFill, kAccent, kBright, kStopText, kStartDot},
        {"start hovered", kIdTog, false, true, kStartHoverFill, kAccent, kBright, kStopText, kStartDot},
        {"stop", kIdTog, true, false, kStopFill, kStopped, kStopText, kBright, kStopped},
        {"stop hovered", kIdTog, true, true, kStopFill, kStopped, kStopText, kBright, kStopped},
        {"render", kIdRender, false, false, kRenderFill, kFrame, kMedium, kBright, 0},
        {"render hovered", kIdRender, true, true, kRenderHoverFill, kFrame, kBright, kMedium, 0},
    };
    for (const BigButtonCase& c : cases) {
        SCOPED_TRACE(c.what);
        PanelState state;
        g_live = c.live;
        g_hover = c.hovered ? c.id : kIdEcho;
        auto dc = drawn(c.id, 242, 46);
        EXPECT_EQ(dc->pixel(0, 23), kPanel);  // the item rectangle's outer ring
        EXPECT_EQ(dc->pixel(241, 23), kPanel);
        EXPECT_EQ(dc->pixel(1, 23), c.border);
        EXPECT_EQ(dc->pixel(2, 23), c.border);
        EXPECT_EQ(dc->pixel(120, 1), c.border);
        EXPECT_EQ(dc->pixel(120, 44), c.border);
        EXPECT_EQ(dc->pixel(239, 23), c.border);
        EXPECT_EQ(dc->pixel(3, 23), c.fill);
        EXPECT_EQ(dc->pixel(120, 5), c.fill);
        EXPECT_EQ(dc->pixel(1, 1), kPanel);  // outside the rounded corner
        if (c.dot != 0) {
            EXPECT_EQ(dc->pixel(18, 23), c.dot);
            EXPECT_EQ(dc->pixel(14, 23), c.dot);  // box {14, 19, 23, 28}
            EXPECT_EQ(dc->pixel(22, 23), c.dot);
            EXPECT_EQ(dc->pixel(13, 23), c.fill);
            EXPECT_EQ(dc->pixel(23, 23), c.fill);
        }
        // Centred text in its colour, and never in the other state's colour.
        const Rect textArea{40, 8, 202, 38};
        EXPECT_GT(countOf(*dc, textArea, c.text), 20);
        EXPECT_EQ(countOf(*dc, textArea, c.notText), 0);
    }
}

// ECHO and REVERB: 243 x 24. r = {1, 1, 242, 23}; check box s = 14 at {11, 5, 25, 19}.
struct SwitchCase {
    const char* what;
    int id;
    bool on, hovered;
    Rgb label;
};

TEST(ParentDrawnButtons, EchoAndReverbLooks) {
    const SwitchCase cases[] = {
        {"echo on", kIdEcho, true, false, kBright},
        {"echo on hovered", kIdEcho, true, true, kBright},
        {"echo off", kIdEcho, false, false, kDim},
        {"echo off hovered", kIdEcho, false, true, kMedium},
        {"reverb on", kIdVerb, true, false, kBright},
        {"reverb off hovered", kIdVerb, false, true, kMedium},
        {"reverb off", kIdVerb, false, false, kDim},
    };
    for (const SwitchCase& c : cases) {
        SCOPED_TRACE(c.what);
        PanelState state;
        g_echoOn = c.id == kIdEcho ? c.on : !c.on;
        g_verbOn = c.id == kIdVerb ? c.on : !c.on;
        g_hover = c.hovered ? c.id : kIdTog;
        auto dc = drawn(c.id, 243, 24);

        // Behind the content: the hover background, or the plain panel colour.
        const Rgb behind = c.hovered ? kSwitchHoverFill : kPanel;
        EXPECT_EQ(dc->pixel(30, 4), behind);
        EXPECT_EQ(dc->pixel(120, 1), c.hovered ? kSwitchHoverBorder : kPanel);
        EXPECT_EQ(dc->pixel(0, 12), kPanel);

        // The box: its frame, its fill, and the check mark only when on.
        const Rgb frame = c.on ? kLive : kFrame;
        EXPECT_EQ(dc->pixel(11, 12), frame);
        EXPECT_EQ(dc->pixel(24, 12), frame);
        EXPECT_EQ(dc->pixel(18, 5), frame);
        EXPECT_EQ(dc->pixel(18, 18), frame);
        EXPECT_EQ(dc->pixel(10, 12), behind);
        EXPECT_EQ(dc->pixel(13, 7), kSwitchBox);
        const int mark = countOf(*dc, Rect{12, 6, 24, 18}, kLive);
        if (c.on)
            EXPECT_GT(mark, 12);
        else
            EXPECT_EQ(mark, 0);

        // The label from box.right + 9 = 34, in the state's colour only.
        const Rect labelArea{34, 2, 120, 22};
        EXPECT_GT(countOf(*dc, labelArea, c.label), 5);
        for (Rgb other : {kBright, kMedium, kDim}) {
            if (other != c.label) {
                EXPECT_EQ(countOf(*dc, labelArea, other), 0);
            }
        }
        EXPECT_EQ(countOf(*dc, Rect{26, 2, 33, 22}, c.label), 0);
    }
}

TEST(ParentDrawnButtons, OtherIdsAreNotDrawn) {
    PanelState state;
    for (int id : {0, 133, 140, 141, 142, 99, 102}) {
        SCOPED_TRACE(id);
        auto dc = Canvas::create(50, 20);
        EXPECT_FALSE(drawButton(ButtonPaint{id, nullptr, dc.get(), Rect{0, 0, 50, 20}}));
        EXPECT_EQ(countOf(*dc, Rect{0, 0, 50, 20}, 0), 50 * 20);
    }
}

TEST(ParentDrawnButtons, ButtonsDrawOnlyInsideTheirItemRectangle) {
    PanelState state;
    g_live = true;
    g_hover = kIdEcho;
    auto dc = Canvas::create(300, 80);
    const int ids[] = {kIdTog, kIdRender, kIdEcho, kIdVerb};
    for (int id : ids) {
        dc->fillRect(Rect{0, 0, 300, 80}, 0);
        const Rect item{20, 10, 270, 60};
        EXPECT_TRUE(drawButton(ButtonPaint{id, nullptr, dc.get(), item}));
        EXPECT_EQ(countOf(*dc, Rect{0, 0, 300, 80}, 0), 300 * 80 - 250 * 50) << id;
    }
}

// ---- Label text colours ----

TEST(StaticTextColours, ByControlAndState) {
    // The colours depend only on which control asks; distinct addresses stand in for the
    // controls' windows.
    static std::array<char, 16> slots{};
    Window* const fake[10] = {
        reinterpret_cast<Window*>(&slots[0]), reinterpret_cast<Window*>(&slots[1]),
        reinterpret_cast<Window*>(&slots[2]), reinterpret_cast<Window*>(&slots[3]),
        reinterpret_cast<Window*>(&slots[4]), reinterpret_cast<Window*>(&slots[5]),
        reinterpret_cast<Window*>(&slots[6]), reinterpret_cast<Window*>(&slots[7]),
        reinterpret_cast<Window*>(&slots[8]), reinterpret_cast<Window*>(&slots[9]),
    };
    Window** const handles[10] = {&lStatus, &lVoice, &vRing, &vVol, &vNoise,
                                  &lSect,   &lBank,  &lRing, &lVol, &lNoise};
    Window* saved[10];
    for (int i = 0; i < 10; ++i) {
        saved[i] = *handles[i];
        *handles[i] = fake[i];
    }
    struct Expect {
        int slot;
        Rgb stopped, live;
    };
    const Expect table[] = {
        {0, kDim, kLive},   {1, kDim, kBright},  {2, kBright, kBright}, {3, kBright, kBright},
        {4, kBright, kBright}, {5, kMedium, kMedium}, {6, kDim, kDim},     {7, kDim, kDim},
        {8, kDim, kDim},     {9, kDim, kDim},
    };
    PanelState state;
    for (const Expect& e : table) {
        for (bool live : {false, true}) {
            SCOPED_TRACE(testing::Message() << "slot " << e.slot << " live " << live);
            g_live = live;
            LabelColours info{};
            info.control = fake[e.slot];
            info.transparentText = false;
            labelColours(info);
            EXPECT_EQ(info.textColor, live ? e.live : e.stopped);
            EXPECT_EQ(info.background, kPanel);
            EXPECT_TRUE(info.transparentText);
        }
    }
    for (int i = 0; i < 10; ++i) *handles[i] = saved[i];
}

}  // namespace
