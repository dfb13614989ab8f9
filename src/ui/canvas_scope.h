// Puts a canvas's drawing state back when a drawing step ends. Each setter called through
// the scope remembers the value it replaced the first time; the destructor restores every
// remembered value, so no path out of a drawing step leaves a pen, brush or font behind.
// Setters called on the canvas directly in between are undone too. Window thread; allocates
// nothing.
#pragma once

#include <optional>
#include <utility>

#include "platform/canvas.h"

class CanvasScope {
public:
    explicit CanvasScope(Canvas& dc) : dc_(dc) {}
    ~CanvasScope() {
        if (textColor_) dc_.setTextColor(*textColor_);
        if (charExtra_) dc_.setCharExtra(*charExtra_);
        if (font_) dc_.setFont(std::move(*font_));
        if (transparent_) dc_.setTransparentText(*transparent_);
        if (brush_) dc_.setBrush(*brush_);
        if (pen_) dc_.setPen(*pen_);
    }
    CanvasScope(const CanvasScope&) = delete;
    CanvasScope& operator=(const CanvasScope&) = delete;

    void pen(const Pen& p) { keep(pen_, dc_.setPen(p)); }
    void brush(const Brush& b) { keep(brush_, dc_.setBrush(b)); }
    void font(FontRef f) { keep(font_, dc_.setFont(std::move(f))); }
    void textColor(Rgb c) { keep(textColor_, dc_.setTextColor(c)); }
    void transparentText(bool on) { keep(transparent_, dc_.setTransparentText(on)); }
    void charExtra(int px) { keep(charExtra_, dc_.setCharExtra(px)); }

private:
    template <typename T>
    static void keep(std::optional<T>& slot, T previous) {
        if (!slot) slot = std::move(previous);
    }

    Canvas& dc_;
    std::optional<Pen> pen_;
    std::optional<Brush> brush_;
    std::optional<FontRef> font_;
    std::optional<Rgb> textColor_;
    std::optional<bool> transparent_;
    std::optional<int> charExtra_;
};
