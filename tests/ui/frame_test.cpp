// Whole frames of the running program on the headless display: the main window's picture
// with all its children composed over it, at 560 x 760 and at the largest scale, stopped and
// live, and the looks that follow a click or the pointer.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "paint_support.h"
#include "platform/paths.h"
#include "app/interactive.h"
#include "platform/window_headless.h"
#include "ui/controller.h"

namespace {

using namespace painttest;
using namespace palette;

// The program's window on a 1024 x 768 display (client 560 x 760), closed at the end.
class PictureFrame : public testing::Test {
protected:
    void SetUp() override {
        windowUseHeadless(1024, 768);
        main_ = interactiveStart();
        ASSERT_NE(main_, nullptr);
        headlessAdvanceMs(100);
    }
    void TearDown() override {
        if (main_) {
            headlessClose();
            EXPECT_EQ(interactiveLoop(), 0);
        }
        windowUseHeadless(1024, 768);
    }
    static Rgb px(int x, int y) { return headlessPixel(x, y); }
    static int count(const Rect& r, Rgb c) {
        const Canvas* f = headlessFrame();
        return f ? countOf(*f, r, c) : -1;
    }
    // The pill's right border, at the band's middle height of the pill.
    static Rgb pillEdge() { return px(g_band.right - S(12) - 1, g_band.top + S(6) + S(19) / 2); }
    static Rgb togBorder() { return px(g_rcTog.left + 1, (g_rcTog.top + g_rcTog.bottom) / 2); }

    Window* main_ = nullptr;
};

TEST_F(PictureFrame, StoppedAtTheDesignSize) {
    ASSERT_EQ(clientRect(main_), (Rect{0, 0, kW, kH}));
    EXPECT_EQ(g_band, kBand);
    EXPECT_EQ(g_scope, kScope);
    EXPECT_EQ(px(27, 64), kFrame);
    EXPECT_EQ(px(532, 64), kFrame);
    EXPECT_EQ(px(kBand.left, kBand.top + 10), kFrame);
    EXPECT_EQ(px(280, 247), kFrame);  // the control panel's top edge
    EXPECT_EQ(pillEdge(), kStopped);
    EXPECT_EQ(togBorder(), rgb(43, 224, 122));
    // The child controls lie over the panel: a slider's background and its knob.
    EXPECT_EQ(px(28 + 1, 433 + 15 + 1), rgb(11, 17, 12));
    EXPECT_EQ(px(28 + 163, 433 + 15 + 7), kLive);
}

TEST_F(PictureFrame, StartShowsTheLiveLooks) {
    headlessClick(g_rcTog.left + 40, g_rcTog.top + 20);
    headlessAdvanceMs(100);
    ASSERT_TRUE(g_live);
    EXPECT_EQ(pillEdge(), kScanning);
    EXPECT_EQ(togBorder(), kStopped);
    EXPECT_EQ(px(g_rcTog.left + 1 + S(17), (g_rcTog.top + g_rcTog.bottom) / 2), kStopped);  // dot
    // The needle and readout turn green: row yB + 1 holds the needle only.
    const int yB = g_band.bottom - S(9);
    EXPECT_EQ(count(Rect{g_band.left, yB + 1, g_band.right, yB + 2}, kLive), 2);

    headlessClick(g_rcTog.left + 40, g_rcTog.top + 20);
    headlessAdvanceMs(100);
    EXPECT_FALSE(g_live);
    EXPECT_EQ(pillEdge(), kStopped);
    EXPECT_EQ(togBorder(), rgb(43, 224, 122));
}

TEST_F(PictureFrame, EchoClickTogglesItsCheckMark) {
    const int s = S(14), left = g_rcEcho.left + 1 + S(10);
    const int cy = (g_rcEcho.top + g_rcEcho.bottom) / 2;
    const Rect inside{left + 1, cy - s / 2 + 1, left + s - 1, cy - s / 2 + s - 1};
    EXPECT_GT(count(inside, kLive), 12);  // echo is on at start
    headlessClick(g_rcEcho.right - 20, cy);
    headlessPointerMove(-50, -50);
    headlessAdvanceMs(100);
    EXPECT_FALSE(g_echoOn);
    EXPECT_EQ(count(inside, kLive), 0);
    EXPECT_EQ(px(left, cy), kFrame);
}

TEST_F(PictureFrame, HoverLookFollowsThePointer) {
    const Rect render = g_rcRender;
    const Rgb plain = rgb(10, 16, 12), hovered = rgb(14, 24, 17);
    EXPECT_EQ(px(render.left + 30, render.top + 5), plain);
    headlessPointerMove(render.left + 30, render.top + 20);
    headlessAdvanceMs(40);  // one animation tick
    EXPECT_EQ(px(render.left + 30, render.top + 5), hovered);
    headlessPointerMove(-50, -50);
    headlessAdvanceMs(40);
    EXPECT_EQ(px(render.left + 30, render.top + 5), plain);
}

TEST_F(PictureFrame, BottomLinesShowTheirWholeTextAtEveryScale) {
    // The saved file's name with its underscores, and a station name that reaches below the
    // baseline: every row of their ink shows in the 13-pixel lines at every scale, exactly as
    // the text drawn freely in the same font.
    headlessSetDisplaySize(2560, 1600);
    struct Line {
        Window** label;
        std::wstring text;
    };
    const Line lines[] = {
        {&lStatus, L"SAVED kestrum_20261211_142739.wav"},
        {&lVoice, L"STATION 02/19  Happy gypsy jazz"},
    };
    for (int tenths = 10; tenths <= 17; ++tenths) {
        const float scale = float(tenths) / 10.0f;
        headlessResize(int(std::lround(kW * scale)), int(std::lround(kH * scale)));
        SCOPED_TRACE("scale " + std::to_string(g_f));
        ASSERT_NEAR(g_f, scale, 0.002f);
        for (const Line& l : lines) {
            SCOPED_TRACE(wideToUtf8(l.text));
            setWindowText(*l.label, l.text);
            headlessPump();
            const Rect r = windowRect(*l.label);
            ASSERT_EQ(r.height(), S(13));

            auto free = Canvas::create(r.width(), 3 * r.height());
            free->fillRect(Rect{0, 0, r.width(), 3 * r.height()}, g_panelBrush);
            free->setFont(g_fontMono);
            free->setTextColor(rgb(98, 140, 116));
            free->setTransparentText(true);
            free->textOut(0, r.height(), l.text);
            auto inkRows = [&](auto pixelAt, int rows) {
                std::vector<int> n;
                for (int y = 0; y < rows; ++y) {
                    int k = 0;
                    for (int x = 0; x < r.width(); ++x) k += pixelAt(x, y) != g_panelBrush;
                    if (k) n.push_back(k);
                }
                return n;
            };
            const auto want = inkRows([&](int x, int y) { return free->pixel(x, y); }, 3 * r.height());
            const auto got = inkRows([&](int x, int y) { return px(r.left + x, r.top + y); }, r.height());
            EXPECT_EQ(got, want);
        }
    }
}

TEST_F(PictureFrame, LargestScale) {
    headlessSetDisplaySize(2560, 1600);
    headlessResize(952, 1292);
    ASSERT_FLOAT_EQ(g_f, 1.7f);
    // Divider at y = S(64) = 109 from S(27) = 46 to W - 46; panel border and pill as at 1.0.
    EXPECT_EQ(px(46, 109), kFrame);
    EXPECT_EQ(px(952 - 47, 109), kFrame);
    EXPECT_NE(px(952 - 46, 109), kFrame);
    EXPECT_EQ(px(g_band.left, g_band.top + 20), kFrame);
    EXPECT_EQ(pillEdge(), kStopped);
    const int panelTop = g_scope.bottom + S(8);
    EXPECT_EQ(px(476, panelTop), kFrame);
    EXPECT_EQ(px(476, panelTop + 1), kFrame);
    EXPECT_EQ(px(476, 1292 - S(16) - 1), kFrame);
}

}  // namespace
