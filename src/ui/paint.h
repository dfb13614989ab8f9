// The drawing behind the window procedures, callable on any canvas: the main window's
// picture, the slider's picture and the slider's value rule. paintMain and SliderProc
// (ui_state.h) draw through these into an off-screen canvas; tests and benchmarks call
// them directly.
//
// Window thread only (they read the controller's and the layout's state). They allocate only
// text (the readout, the station line, the scale labels) and an off-screen canvas when a
// window's size changes.
#pragma once

#include <memory>
#include <string>

#include "platform/canvas.h"
#include "ui/ui_state.h"

// An off-screen canvas of w x h kept in slot between paints, rebuilt when the size changes.
// Its pixels are whatever the last paint left; the painters cover every pixel.
Canvas& offscreenCanvas(std::unique_ptr<Canvas>& slot, int w, int h);

// The whole main-window picture for a client area of w x h, from the current state.
void paintPanel(Canvas& dc, int w, int h);

// The station line of the band display for the current state and the engine's station
// index (uiStation as the paint read it).
std::wstring stationLineText(int station);

// The value a press or drag at client x gives on a slider widthPx wide. A slider 18 pixels
// wide or less has no usable track and keeps its value.
int sliderValueAt(const Slider& s, int x, int widthPx);
// The knob centre of a slider widthPx wide (9 at min, widthPx - 9 at max).
int sliderKnobX(const Slider& s, int widthPx);
// The slider's picture; a slider without a record, or too narrow for a track, shows only
// its background.
void paintSlider(Canvas& dc, const Slider* s, int w, int h);
