// The interface's colours, each name against the RGB value the panel, buttons and sliders
// are drawn with; the picture tests compare pixels with these names.
#include <gtest/gtest.h>

#include "ui/palette.h"

namespace {

struct ColourCase {
    const char* name;
    Rgb colour;
    int r, g, b;
};

TEST(Palette, EveryColourHasItsValue) {
    using namespace palette;
    const ColourCase cases[] = {
        {"panel", kPanel, 9, 14, 10},
        {"frame", kFrame, 20, 48, 31},
        {"live", kLive, 57, 255, 136},
        {"accent", kAccent, 43, 224, 122},
        {"stopped", kStopped, 255, 92, 77},
        {"bright", kBright, 185, 255, 214},
        {"medium", kMedium, 140, 190, 160},
        {"dim", kDim, 98, 140, 116},
        {"box fill", kBoxFill, 4, 8, 5},
        {"grid", kGrid, 13, 22, 15},
        {"trace stopped", kTraceStopped, 28, 62, 43},
        {"scope centre", kScopeCentre, 16, 34, 24},
        {"scanning", kScanning, 255, 181, 71},
        {"pill fill", kPillFill, 9, 16, 11},
        {"minor tick", kMinorTick, 30, 62, 44},
        {"marker", kMarker, 36, 84, 58},
        {"start fill", kStartFill, 11, 20, 14},
        {"start hover fill", kStartHoverFill, 15, 30, 20},
        {"stop fill", kStopFill, 26, 10, 9},
        {"start dot", kStartDot, 52, 86, 66},
        {"stop text", kStopText, 255, 201, 194},
        {"render fill", kRenderFill, 10, 16, 12},
        {"render hover fill", kRenderHoverFill, 14, 24, 17},
        {"switch hover fill", kSwitchHoverFill, 12, 20, 15},
        {"switch hover border", kSwitchHoverBorder, 24, 58, 38},
        {"switch box", kSwitchBox, 8, 12, 9},
        {"slider back", kSliderBack, 11, 17, 12},
        {"track fill", kTrackFill, 8, 13, 9},
        {"knob fill", kKnobFill, 13, 27, 19},
    };
    for (const ColourCase& c : cases) {
        EXPECT_EQ(rgbRed(c.colour), c.r) << c.name;
        EXPECT_EQ(rgbGreen(c.colour), c.g) << c.name;
        EXPECT_EQ(rgbBlue(c.colour), c.b) << c.name;
    }
}

}  // namespace
