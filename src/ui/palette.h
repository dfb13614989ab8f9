// The interface's colours, one name each: the panel, the band display and scope, the four
// buttons, the label texts and the sliders. The glyph rain computes its own shades.
// Constants only; any thread.
#pragma once

#include "platform/canvas.h"

namespace palette {

// ---- Shared by the panel, the buttons and the sliders ----
constexpr Rgb kPanel = rgb(9, 14, 10);       // panel, labels and button backgrounds
constexpr Rgb kFrame = rgb(20, 48, 31);      // borders of the displays, render button, boxes, track
constexpr Rgb kLive = rgb(57, 255, 136);     // live trace, switched-on box, knob ring, live status
constexpr Rgb kAccent = rgb(43, 224, 122);   // start button border, slider fill
constexpr Rgb kStopped = rgb(255, 92, 77);   // stopped pill, stop button border and dot
constexpr Rgb kBright = rgb(185, 255, 214);  // bright text
constexpr Rgb kMedium = rgb(140, 190, 160);  // medium text
constexpr Rgb kDim = rgb(98, 140, 116);      // dim text

// ---- Panel: band display and scope ----
constexpr Rgb kBoxFill = rgb(4, 8, 5);
constexpr Rgb kGrid = rgb(13, 22, 15);
constexpr Rgb kTraceStopped = rgb(28, 62, 43);
constexpr Rgb kScopeCentre = rgb(16, 34, 24);
constexpr Rgb kScanning = rgb(255, 181, 71);
constexpr Rgb kPillFill = rgb(9, 16, 11);
constexpr Rgb kMinorTick = rgb(30, 62, 44);
constexpr Rgb kMarker = rgb(36, 84, 58);

// ---- Buttons ----
constexpr Rgb kStartFill = rgb(11, 20, 14);
constexpr Rgb kStartHoverFill = rgb(15, 30, 20);
constexpr Rgb kStopFill = rgb(26, 10, 9);
constexpr Rgb kStartDot = rgb(52, 86, 66);
constexpr Rgb kStopText = rgb(255, 201, 194);
constexpr Rgb kRenderFill = rgb(10, 16, 12);
constexpr Rgb kRenderHoverFill = rgb(14, 24, 17);
constexpr Rgb kSwitchHoverFill = rgb(12, 20, 15);
constexpr Rgb kSwitchHoverBorder = rgb(24, 58, 38);
constexpr Rgb kSwitchBox = rgb(8, 12, 9);

// ---- Slider ----
constexpr Rgb kSliderBack = rgb(11, 17, 12);
constexpr Rgb kTrackFill = rgb(8, 13, 9);
constexpr Rgb kKnobFill = rgb(13, 27, 19);

}  // namespace palette
