// The window core through the headless display: creation and its messages, the built-in
// Label and Button classes, mouse routing with capture and cursor, timers, posted
// messages, painting and composition, the window manager's actions and the loop.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_headless.h"

namespace {

// What the test windows heard, in order.
struct Heard {
    Window* w;
    MsgKind kind;
    int id, code, x, y;
    bool minimized;
    void* param;
};
std::vector<Heard> g_log;

// Per-test behaviour of the test classes.
struct Behaviour {
    intptr_t attach = 1;
    intptr_t create = 0;
    int minW = 0, minH = 0;
    Rgb paint = rgb(200, 0, 0);        // the top window's picture
    Rgb childPaint = rgb(0, 0, 200);   // a "TestChild"'s picture
    bool answerColors = true;
    Rgb labelText = rgb(57, 255, 136);
    Rgb labelBack = rgb(9, 14, 10);
    Rgb buttonFill = rgb(43, 224, 122);
    int quitCode = 0;
    bool captureOnPress = false;
    bool ownCursor = false;
};
Behaviour g_do;
int g_buttonPaints = 0;
ButtonPaint g_lastButtonPaint{};

void hear(Window* w, const WinMsg& m) {
    g_log.push_back(Heard{w, m.kind, m.id, m.code, m.x, m.y, m.minimized, m.param});
}

intptr_t topProc(Window* w, const WinMsg& m) {
    hear(w, m);
    switch (m.kind) {
        case MsgKind::Attach: return g_do.attach;
        case MsgKind::Create: return g_do.create;
        case MsgKind::MinSizeQuery:
            m.minSize->minClientW = g_do.minW;
            m.minSize->minClientH = g_do.minH;
            return 0;
        case MsgKind::Paint: {
            Canvas* dc = paintBegin(w);
            dc->fillRect(clientRect(w), g_do.paint);
            paintEnd(w);
            return 0;
        }
        case MsgKind::EraseBackground: return 1;
        case MsgKind::LabelColoursQuery:
            if (!g_do.answerColors) return defaultHandling(w, m);
            m.labelColours->textColor = g_do.labelText;
            m.labelColours->background = g_do.labelBack;
            m.labelColours->transparentText = true;
            return 1;
        case MsgKind::DrawButton:
            ++g_buttonPaints;
            g_lastButtonPaint = *m.buttonPaint;
            m.buttonPaint->canvas->fillRect(m.buttonPaint->rect, g_do.buttonFill);
            return 1;
        case MsgKind::Destroy: quitLoop(g_do.quitCode); return 0;
        default: return defaultHandling(w, m);
    }
}

intptr_t childProc(Window* w, const WinMsg& m) {
    hear(w, m);
    switch (m.kind) {
        case MsgKind::Paint: {
            Canvas* dc = paintBegin(w);
            dc->fillRect(clientRect(w), g_do.childPaint);
            paintEnd(w);
            return 0;
        }
        case MsgKind::MouseDown:
            if (g_do.captureOnPress) setCapture(w);
            return 0;
        case MsgKind::MouseUp:
            if (captureWindow() == w) releaseCapture();
            return 0;
        case MsgKind::SetCursor:
            if (g_do.ownCursor) return 1;
            return defaultHandling(w, m);
        default: return defaultHandling(w, m);
    }
}

class WindowTest : public testing::Test {
protected:
    void SetUp() override {
        windowUseHeadless(1024, 768);
        registerWindowClass("TestTop", topProc, CursorShape::Arrow);
        registerWindowClass("TestChild", childProc, CursorShape::Hand);
        g_log.clear();
        g_do = Behaviour{};
        g_buttonPaints = 0;
    }
    void TearDown() override { windowUseHeadless(1024, 768); }

    Window* top(int w = 300, int h = 200, unsigned style = StyleVisible, void* param = nullptr) {
        WindowCreate c;
        c.className = "TestTop";
        c.text = L"Kestrum - Radio Band Scanner";
        c.style = style | StyleResizable;
        c.x = 100;
        c.y = 50;
        c.w = w;
        c.h = h;
        c.param = param;
        return createWindow(c);
    }
    Window* child(Window* parent, const char* cls, Rect r, unsigned style = StyleVisible, int id = 0,
                  const std::wstring& text = L"", void* param = nullptr) {
        WindowCreate c;
        c.className = cls;
        c.text = text;
        c.style = style;
        c.parent = parent;
        c.x = r.left;
        c.y = r.top;
        c.w = r.width();
        c.h = r.height();
        c.id = id;
        c.param = param;
        return createWindow(c);
    }
    std::vector<MsgKind> kindsFor(Window* w, bool skipPaint = true) const {
        std::vector<MsgKind> k;
        for (const Heard& h : g_log)
            if (h.w == w && !(skipPaint && (h.kind == MsgKind::Paint || h.kind == MsgKind::EraseBackground ||
                                            h.kind == MsgKind::SetCursor)))
                k.push_back(h.kind);
        return k;
    }
    int count(Window* w, MsgKind kind) const {
        int n = 0;
        for (const Heard& h : g_log) n += h.w == w && h.kind == kind;
        return n;
    }
};

}  // namespace

// ---- Creation ----

TEST_F(WindowTest, CreationSendsItsMessagesInOrderWithTheParameter) {
    int param = 0;
    Window* w = top(300, 200, StyleVisible, &param);
    ASSERT_NE(w, nullptr);
    const std::vector<MsgKind> expected = {MsgKind::MinSizeQuery, MsgKind::Attach, MsgKind::Create, MsgKind::Size};
    EXPECT_EQ(kindsFor(w), expected);
    EXPECT_EQ(g_log[1].param, &param);
    EXPECT_EQ(g_log[2].param, &param);
    EXPECT_EQ(g_log[3].x, 300);
    EXPECT_EQ(g_log[3].y, 200);
    EXPECT_EQ(clientRect(w), (Rect{0, 0, 300, 200}));
    EXPECT_EQ(headlessWindowPos(w).x, 100);
    EXPECT_EQ(headlessWindowPos(w).y, 50);
    EXPECT_EQ(headlessMainWindow(), w);
    EXPECT_EQ(windowText(w), L"Kestrum - Radio Band Scanner");
    EXPECT_TRUE(headlessShown(w));

    g_log.clear();
    Window* c = child(w, "TestChild", Rect{10, 10, 60, 30}, StyleVisible, 133, L"", &param);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(kindsFor(c), (std::vector<MsgKind>{MsgKind::Attach, MsgKind::Create, MsgKind::Size}));
    EXPECT_EQ(parentOf(c), w);
    EXPECT_EQ(controlId(c), 133);
    EXPECT_EQ(windowStyle(c), unsigned(StyleVisible));
}

TEST_F(WindowTest, HiddenTopLevelGetsItsSizeAndPaintWhenShown) {
    Window* w = top(300, 200, 0);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(count(w, MsgKind::Size), 0);
    EXPECT_FALSE(headlessShown(w));
    headlessPump();
    EXPECT_EQ(count(w, MsgKind::Paint), 0) << "a hidden window is not painted";
    showWindow(w);
    EXPECT_TRUE(headlessShown(w));
    EXPECT_EQ(count(w, MsgKind::Size), 1);
    EXPECT_EQ(count(w, MsgKind::Paint), 1) << "shown and updated at once";
    EXPECT_EQ(headlessPixel(5, 5), g_do.paint);
}

TEST_F(WindowTest, CreationFailsForUnknownClassesAndRefusingProcedures) {
    WindowCreate c;
    c.className = "NoSuchClass";
    EXPECT_EQ(createWindow(c), nullptr);

    g_do.attach = 0;
    EXPECT_EQ(top(), nullptr);
    for (const Heard& h : g_log) EXPECT_NE(h.kind, MsgKind::Create);

    g_log.clear();
    g_do = Behaviour{};
    g_do.create = -1;
    EXPECT_EQ(top(), nullptr);
    ASSERT_GE(g_log.size(), 3u);
    EXPECT_EQ(g_log.back().kind, MsgKind::Destroy);
    EXPECT_EQ(headlessMainWindow(), nullptr);
}

TEST_F(WindowTest, MinimumClientSizeHoldsAtCreationAndOnResize) {
    g_do.minW = 520;
    g_do.minH = 700;
    Window* w = top(300, 800);
    EXPECT_EQ(headlessMinClientSize(w).cx, 520);
    EXPECT_EQ(clientRect(w), (Rect{0, 0, 520, 800}));
    headlessResize(100, 100);
    EXPECT_EQ(clientRect(w), (Rect{0, 0, 520, 700}));
    headlessResize(640, 900);
    EXPECT_EQ(clientRect(w), (Rect{0, 0, 640, 900}));
    EXPECT_EQ(headlessFrame()->width(), 640);
    EXPECT_EQ(headlessFrame()->height(), 900);
    int sizes = 0;
    for (const Heard& h : g_log)
        if (h.kind == MsgKind::Size && h.x == 640 && h.y == 900) ++sizes;
    EXPECT_EQ(sizes, 1);
}

// ---- Built-in classes ----

TEST_F(WindowTest, LabelAsksItsParentForColoursAndAlignsItsText) {
    Window* w = top(300, 100);
    FontRef font = fontCreate(FontSpec{-15, 700, "Consolas", true});
    Window* left = child(w, "Label", Rect{10, 10, 210, 30}, StyleVisible, 140, L"DIAL  87.50 MHZ");
    Window* right = child(w, "Label", Rect{10, 40, 210, 60}, StyleVisible | StyleRightAlign, 0, L"100%");
    for (Window* s : {left, right}) {
        WinMsg m{MsgKind::SetFont};
        m.font = font;
        m.redraw = true;
        sendMessage(s, m);
        EXPECT_EQ(windowFont(s), font);
    }
    headlessPump();
    EXPECT_GE(count(w, MsgKind::LabelColoursQuery), 2);
    // Background from the parent, text in the parent's colour, inside each control.
    EXPECT_EQ(headlessPixel(209, 29), g_do.labelBack);
    auto inkIn = [](Rect r, Rgb color, int& minX, int& maxX) {
        int n = 0;
        minX = 1 << 20;
        maxX = -1;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                if (headlessPixel(x, y) == color) {
                    ++n;
                    minX = std::min(minX, x);
                    maxX = std::max(maxX, x);
                }
        return n;
    };
    int lmin, lmax, rmin, rmax;
    EXPECT_GT(inkIn(Rect{10, 10, 210, 30}, g_do.labelText, lmin, lmax), 0);
    EXPECT_GT(inkIn(Rect{10, 40, 210, 60}, g_do.labelText, rmin, rmax), 0);
    EXPECT_LE(lmin, 12) << "left-aligned text starts at the left edge";
    EXPECT_GE(rmax, 206) << "right-aligned text ends at the right edge";
    EXPECT_GT(rmin, 100);

    // Without an answer, the defaults: black text on white.
    g_do.answerColors = false;
    setWindowText(left, L"DIAL  88.00 MHZ");
    headlessPump();
    EXPECT_EQ(headlessPixel(209, 29), rgb(255, 255, 255));
}

TEST_F(WindowTest, LabelRepaintsOnEveryTextSetSoNewColoursShow) {
    // The parent may change a label's colours and then set the same text again: the label
    // must ask again and show them.
    Window* w = top();
    Window* s = child(w, "Label", Rect{0, 0, 200, 16}, StyleVisible, 141, L"STATUS: STOPPED");
    headlessPump();
    auto inked = [](Rgb color) {
        int n = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 200; ++x) n += headlessPixel(x, y) == color;
        return n;
    };
    const Rgb first = g_do.labelText;
    ASSERT_GT(inked(first), 0);
    const int before = count(w, MsgKind::LabelColoursQuery);
    g_do.labelText = rgb(98, 140, 116);
    setWindowText(s, L"STATUS: STOPPED");
    headlessPump();
    EXPECT_EQ(count(w, MsgKind::LabelColoursQuery), before + 1);
    EXPECT_EQ(inked(first), 0);
    EXPECT_GT(inked(g_do.labelText), 0);
    setWindowText(s, L"STATUS: LIVE - SCANNING THE DIAL");
    headlessPump();
    EXPECT_EQ(count(w, MsgKind::LabelColoursQuery), before + 2);
    EXPECT_EQ(windowText(s), L"STATUS: LIVE - SCANNING THE DIAL");
    // A top-level window's title is no picture: the same title changes nothing.
    const int paints = count(w, MsgKind::Paint);
    setWindowText(w, windowText(w));
    headlessPump();
    EXPECT_EQ(count(w, MsgKind::Paint), paints);
}

TEST_F(WindowTest, LabelShowsAllOfItsFontsInkWhenTheCellIsTallerThanTheLabel) {
    // Labels 13 pixels high with a 12-pixel em, both scaled alike from 1.0 to 1.7: the text
    // cell can be taller than the label. Where the font's ink box fits the label, every row
    // a glyph inks must still show: the same pixels as the text drawn freely, only moved up.
    // Where it does not, only its bottom rows may go. The monospaced face, that of the lines
    // showing file and station names, fits at every scale.
    const std::wstring text = L"_gjpqy|Q[]{}(SAVED kestrum_20261211_142739.wav)";
    Window* w = top(700, 60);
    for (const char* face : {"Consolas", "Segoe UI"}) {
        for (int tenths = 10; tenths <= 17; ++tenths) {
            const float scale = float(tenths) / 10.0f;
            const int em = int(std::lround(12.0f * scale)), height = int(std::lround(13.0f * scale));
            SCOPED_TRACE(std::string(face) + " at " + std::to_string(scale));
            FontRef font = fontCreate(FontSpec{-em, 400, face, std::string(face) == "Consolas"});
            Window* label = child(w, "Label", Rect{0, 0, 680, height}, StyleVisible, 141, text);
            WinMsg m{MsgKind::SetFont};
            m.font = font;
            sendMessage(label, m);
            headlessPump();

            // The same text drawn freely on a tall canvas: its ink, counted per row.
            auto free = Canvas::create(680, 3 * height);
            free->fillRect(Rect{0, 0, 680, 3 * height}, g_do.labelBack);
            free->setFont(font);
            free->setTextColor(g_do.labelText);
            free->setTransparentText(true);
            free->textOut(0, height, text);
            auto inkRows = [&](auto pixelAt, int rows) {
                std::vector<int> n;
                for (int y = 0; y < rows; ++y) {
                    int k = 0;
                    for (int x = 0; x < 680; ++x) k += pixelAt(x, y) != g_do.labelBack;
                    if (k) n.push_back(k);
                }
                return n;
            };
            const auto want = inkRows([&](int x, int y) { return free->pixel(x, y); }, 3 * height);
            const auto got = inkRows([](int x, int y) { return headlessPixel(x, y); }, height);
            const TextMetrics tm = free->textMetrics();
            if (std::string(face) == "Consolas") {
                EXPECT_LE(tm.inkAscent + tm.inkDescent, height);
            }
            if (tm.inkAscent + tm.inkDescent <= height) {
                EXPECT_EQ(got, want);
            } else {
                EXPECT_EQ(got, std::vector<int>(want.begin(), want.begin() + std::min<size_t>(want.size(), height)));
            }
            destroyWindow(label);
        }
    }
}

TEST_F(WindowTest, ParentDrawnButtonIsDrawnByItsParentAndClicksSendCommand) {
    Window* w = top(300, 200);
    Window* b = child(w, "Button", Rect{32, 50, 132, 96}, StyleVisible | StyleDrawnByParent, 100, L"START KESTRUM");
    headlessPump();
    EXPECT_GE(g_buttonPaints, 1);
    EXPECT_EQ(g_lastButtonPaint.id, 100);
    EXPECT_EQ(g_lastButtonPaint.control, b);
    EXPECT_EQ(g_lastButtonPaint.rect, (Rect{0, 0, 100, 46}));
    EXPECT_EQ(g_lastButtonPaint.canvas->width(), 100);
    EXPECT_EQ(headlessPixel(32, 50), g_do.buttonFill);
    EXPECT_EQ(headlessPixel(131, 95), g_do.buttonFill);
    EXPECT_EQ(headlessPixel(132, 96), g_do.paint);

    auto commands = [&] {
        int n = 0;
        for (const Heard& h : g_log) n += h.w == w && h.kind == MsgKind::Command && h.id == 100 && h.code == 0;
        return n;
    };
    headlessClick(40, 60);
    EXPECT_EQ(commands(), 1);
    EXPECT_EQ(captureWindow(), nullptr);

    headlessPointerDown(40, 60);  // pressed inside, released outside: no click
    EXPECT_EQ(captureWindow(), b);
    headlessPointerMove(200, 150);
    headlessPointerUp(200, 150);
    EXPECT_EQ(commands(), 1);
    EXPECT_EQ(captureWindow(), nullptr);

    headlessPointerDown(200, 150);  // pressed outside, released inside: no click
    headlessPointerUp(40, 60);
    EXPECT_EQ(commands(), 1);
}

// ---- Input ----

TEST_F(WindowTest, MouseGoesToTheWindowUnderThePointerOrToTheCapture) {
    Window* w = top(300, 200);
    Window* c = child(w, "TestChild", Rect{100, 50, 150, 70});
    g_do.captureOnPress = true;
    headlessPump();

    headlessPointerMove(120, 55);
    ASSERT_EQ(g_log.back().w, c);
    EXPECT_EQ(g_log.back().kind, MsgKind::MouseMove);
    EXPECT_EQ(g_log.back().x, 20);
    EXPECT_EQ(g_log.back().y, 5);

    headlessPointerMove(10, 12);
    EXPECT_EQ(g_log.back().w, w);
    EXPECT_EQ(g_log.back().x, 10);

    headlessPointerDown(101, 51);
    EXPECT_EQ(captureWindow(), c);
    headlessPointerMove(90, 40);  // outside the child and held: still the child's, negative
    EXPECT_EQ(g_log.back().w, c);
    EXPECT_EQ(g_log.back().x, -10);
    EXPECT_EQ(g_log.back().y, -10);
    headlessPointerMove(400, 300);  // beyond the window itself
    EXPECT_EQ(g_log.back().w, c);
    EXPECT_EQ(g_log.back().x, 300);
    headlessPointerUp(400, 300);
    EXPECT_EQ(g_log.back().w, c);
    EXPECT_EQ(g_log.back().kind, MsgKind::MouseUp);
    EXPECT_EQ(captureWindow(), nullptr);

    headlessPointerMove(90, 40);
    EXPECT_EQ(g_log.back().w, w);
}

TEST_F(WindowTest, CursorFollowsTheClassUnlessTheProcedureSetsIt) {
    Window* w = top(300, 200);
    child(w, "TestChild", Rect{100, 50, 150, 70});
    headlessPointerMove(120, 60);
    EXPECT_EQ(headlessCursorShape(), CursorShape::Hand);
    headlessPointerMove(20, 20);
    EXPECT_EQ(headlessCursorShape(), CursorShape::Arrow);
    g_do.ownCursor = true;  // handles SetCursor and leaves the shape alone
    headlessPointerMove(120, 60);
    EXPECT_EQ(headlessCursorShape(), CursorShape::Arrow);
    // SetCursor comes before the move it belongs to.
    ASSERT_GE(g_log.size(), 2u);
    EXPECT_EQ(g_log[g_log.size() - 2].kind, MsgKind::SetCursor);
    EXPECT_EQ(g_log.back().kind, MsgKind::MouseMove);
}

TEST_F(WindowTest, PointerPositionComesFromTheWindowsOwnEvents) {
    Window* w = top(300, 200);  // at (100, 50)
    Window* c = child(w, "TestChild", Rect{10, 10, 60, 30});
    int x = 0, y = 0;
    EXPECT_FALSE(pointerOver(w, x, y)) << "no event yet";
    headlessPointerMove(5, 6);
    ASSERT_TRUE(pointerOver(w, x, y));
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 6);
    ASSERT_TRUE(pointerOver(c, x, y));  // in the child's client coordinates
    EXPECT_EQ(x, -5);
    EXPECT_EQ(y, -4);
    headlessPointerDown(40, 20);
    ASSERT_TRUE(pointerOver(w, x, y));
    EXPECT_EQ(x, 40);
    headlessPointerLeave();
    EXPECT_FALSE(pointerOver(w, x, y));
    EXPECT_FALSE(pointerOver(c, x, y));
    headlessPointerMove(250, 150);
    ASSERT_TRUE(pointerOver(c, x, y));
    EXPECT_EQ(x, 240);
    EXPECT_EQ(y, 140);

    EXPECT_EQ(primaryDisplaySize().cx, 1024);
    headlessSetDisplaySize(2560, 1440);
    EXPECT_EQ(primaryDisplaySize().cy, 1440);
    Rect frame;
    EXPECT_FALSE(frameExtents(w, frame)) << "no frame reported";
    headlessSetFrameExtents(Rect{1, 20, 1, 5});
    ASSERT_TRUE(frameExtents(w, frame));
    EXPECT_EQ(frame, (Rect{1, 20, 1, 5}));
    EXPECT_FALSE(frameExtents(c, frame)) << "a control has no frame";
}

TEST_F(WindowTest, KeysGoToTheTopLevelWindow) {
    Window* w = top();
    headlessPump();
    for (int key : {int(KeyEnter), int(KeyEscape), int(KeySpace), 0}) {
        headlessKey(w, key);
        ASSERT_EQ(g_log.back().w, w);
        EXPECT_EQ(g_log.back().kind, MsgKind::KeyDown);
        EXPECT_EQ(g_log.back().id, key);
    }
}

// ---- Timers and posted messages ----

TEST_F(WindowTest, TimersFireByPeriodInTimeOrder) {
    Window* w = top();
    setTimer(w, 1, 33);
    setTimer(w, 2, 250);
    EXPECT_EQ(headlessTimerPeriodMs(w, 2), 250);
    headlessAdvanceMs(1000);
    std::vector<int> ids;
    for (const Heard& h : g_log)
        if (h.kind == MsgKind::Timer) ids.push_back(h.id);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 1), 30);  // 33, 66, ... 990
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 2), 4);
    // Timer 2 at 250 ms comes after timer 1's seventh tick (231 ms) and before its eighth.
    const auto first2 = std::find(ids.begin(), ids.end(), 2) - ids.begin();
    EXPECT_EQ(first2, 7);

    killTimer(w, 1);
    g_log.clear();
    headlessAdvanceMs(500);
    EXPECT_EQ(count(w, MsgKind::Timer), 2);
    EXPECT_FALSE(headlessFireTimer(w, 1));
    EXPECT_TRUE(headlessFireTimer(w, 2));
    EXPECT_EQ(g_log.back().id, 2);
}

TEST_F(WindowTest, PostedMessagesArriveFromTheLoopAndFromOtherThreads) {
    Window* w = top();
    headlessPump();
    WinMsg app{MsgKind::App};
    app.id = 0x8001;
    std::thread([&] { postMessage(w, app); }).join();
    EXPECT_EQ(count(w, MsgKind::App), 0) << "not before the loop runs";
    headlessPump();
    EXPECT_EQ(count(w, MsgKind::App), 1);

    Window* c = child(w, "TestChild", Rect{0, 0, 10, 10});
    postMessage(c, app);
    destroyWindow(c);
    headlessPump();
    EXPECT_EQ(count(c, MsgKind::App), 0) << "dropped with its window";
}

// ---- Painting and composition ----

TEST_F(WindowTest, ChildrenAreComposedOverTheParentsPicture) {
    Window* w = top(100, 80);
    child(w, "TestChild", Rect{10, 10, 30, 30});
    Window* hidden = child(w, "TestChild", Rect{50, 10, 70, 30}, 0);
    headlessPump();
    EXPECT_EQ(headlessPixel(5, 5), g_do.paint);
    EXPECT_EQ(headlessPixel(10, 10), g_do.childPaint);
    EXPECT_EQ(headlessPixel(29, 29), g_do.childPaint);
    EXPECT_EQ(headlessPixel(30, 30), g_do.paint);
    EXPECT_EQ(headlessPixel(55, 15), g_do.paint) << "a hidden child is not shown";
    EXPECT_EQ(count(hidden, MsgKind::Paint), 0);

    // The parent repaints alone; its picture never covers the child.
    g_do.paint = rgb(0, 200, 0);
    invalidate(w, false);
    headlessPump();
    EXPECT_EQ(headlessPixel(5, 5), g_do.paint);
    EXPECT_EQ(headlessPixel(15, 15), rgb(0, 0, 200));

    const std::string path = testing::TempDir() + "window_test_frame.png";
    EXPECT_TRUE(headlessWritePng(path));
    std::remove(path.c_str());
}

TEST_F(WindowTest, InvalidationCoalescesIntoOnePaintWithEraseOnlyWhenAsked) {
    Window* w = top();
    Window* c = child(w, "TestChild", Rect{0, 0, 20, 20});
    headlessPump();
    g_log.clear();
    invalidate(c, false);
    invalidate(c, false);
    headlessPump();
    EXPECT_EQ(count(c, MsgKind::Paint), 1);
    EXPECT_EQ(count(c, MsgKind::EraseBackground), 0);
    EXPECT_EQ(count(w, MsgKind::Paint), 0) << "a child's invalidation leaves the parent alone";
    invalidate(c, true);
    headlessPump();
    EXPECT_EQ(count(c, MsgKind::EraseBackground), 1);
    const std::vector<MsgKind> k = kindsFor(c, false);
    ASSERT_GE(k.size(), 2u);
    EXPECT_EQ(k[k.size() - 2], MsgKind::Paint);  // the erase comes from paintBegin inside the paint
    EXPECT_EQ(k.back(), MsgKind::EraseBackground);
    headlessPump();
    EXPECT_EQ(count(c, MsgKind::Paint), 2) << "nothing left to paint";
}

TEST_F(WindowTest, RedrawNowPaintsAndPresentsAtOnce) {
    Window* w = top();
    Window* c = child(w, "TestChild", Rect{0, 0, 20, 20});
    headlessPump();
    g_log.clear();
    const int frames = headlessPresentCount();
    redrawNow(c, false, false);
    EXPECT_EQ(count(c, MsgKind::Paint), 1);
    EXPECT_EQ(count(w, MsgKind::Paint), 0);
    EXPECT_EQ(headlessPresentCount(), frames + 1);
    redrawNow(w, true, true);
    EXPECT_EQ(count(w, MsgKind::Paint), 1);
    EXPECT_EQ(count(w, MsgKind::EraseBackground), 1);
    EXPECT_EQ(count(c, MsgKind::Paint), 2);
}

TEST_F(WindowTest, MovingAControlResizesItsCanvasAndShowsItThere) {
    Window* w = top(200, 100);
    Window* c = child(w, "TestChild", Rect{0, 0, 10, 10});
    headlessPump();
    g_log.clear();
    moveWindow(c, 50, 40, 30, 20, true);
    EXPECT_EQ(clientRect(c), (Rect{0, 0, 30, 20}));
    ASSERT_EQ(count(c, MsgKind::Size), 1);
    headlessPump();
    EXPECT_EQ(headlessPixel(5, 5), g_do.paint);
    EXPECT_EQ(headlessPixel(50, 40), g_do.childPaint);
    EXPECT_EQ(headlessPixel(79, 59), g_do.childPaint);
    moveWindow(c, 50, 40, 30, 20, false);
    EXPECT_EQ(count(c, MsgKind::Size), 1) << "same size: no Size";
}

// ---- The window manager's actions and the loop ----

TEST_F(WindowTest, MinimiseAndRestoreTellTheWindow) {
    Window* w = top(300, 200);
    headlessPump();
    headlessMinimize();
    EXPECT_TRUE(isMinimized(w));
    EXPECT_EQ(g_log.back().kind, MsgKind::Size);
    EXPECT_TRUE(g_log.back().minimized);
    invalidate(w, false);
    const int paints = count(w, MsgKind::Paint);
    EXPECT_EQ(headlessPump(), 0) << "no paint while minimised";
    headlessRestore();
    EXPECT_EQ(count(w, MsgKind::Paint), paints + 1);
    EXPECT_FALSE(isMinimized(w));
    bool restored = false;
    for (const Heard& h : g_log) restored |= h.kind == MsgKind::Size && !h.minimized && h.x == 300 && h.y == 200;
    EXPECT_TRUE(restored);
}

TEST_F(WindowTest, CloseDestroysParentThenChildrenAndTheLoopEndsWithTheQuitCode) {
    g_do.quitCode = 7;
    Window* w = top();
    Window* c = child(w, "TestChild", Rect{0, 0, 10, 10});
    setTimer(w, 1, 33);
    headlessClose();
    std::vector<std::pair<Window*, MsgKind>> seq;
    for (const Heard& h : g_log)
        if (h.kind == MsgKind::Close || h.kind == MsgKind::Destroy) seq.emplace_back(h.w, h.kind);
    const std::vector<std::pair<Window*, MsgKind>> expected = {
        {w, MsgKind::Close}, {w, MsgKind::Destroy}, {c, MsgKind::Destroy}};
    EXPECT_EQ(seq, expected);
    EXPECT_EQ(headlessMainWindow(), nullptr);
    EXPECT_EQ(headlessTimerPeriodMs(w, 1), 0);
    EXPECT_EQ(runMessageLoop(), 7);
}

TEST_F(WindowTest, LoopRunsTimersOnTheFakeClockUntilTheIdleHookCloses) {
    g_do.quitCode = 3;
    Window* w = top();
    setTimer(w, 1, 33);
    headlessSetIdleHook([] {
        if (headlessNowMs() >= 500 && headlessMainWindow()) headlessClose();
    });
    EXPECT_EQ(runMessageLoop(), 3);
    EXPECT_EQ(count(w, MsgKind::Timer), 500 / 33 + 1);  // the tick at 528 ms comes first
    headlessSetIdleHook(nullptr);

    windowUseHeadless(1024, 768);
    Window* w2 = top();
    setTimer(w2, 1, 100);
    headlessSetLoopLimitMs(1000);
    EXPECT_EQ(runMessageLoop(), kHeadlessLoopTimeout);
    EXPECT_EQ(headlessNowMs(), 1000u);

    std::thread([] { headlessEndLoop(5); }).join();
    EXPECT_EQ(runMessageLoop(), 5);
}

TEST_F(WindowTest, DarkFrameNoted) {
    Window* w = top();
    EXPECT_FALSE(headlessDarkFrame(w));
    setDarkFrame(w);
    EXPECT_TRUE(headlessDarkFrame(w));
}

// ---- The warning box ----

// What a test saw while the box was open, from the idle hook.
struct BoxVisit {
    Window* box = nullptr;
    int ownerTimers = 0;   // Timer messages the owner had heard when the box was first seen
    int ownerPaints = 0;
    Rect boxRect;          // its client area on the display
    int signPixels = 0;    // pixels of the yellow warning sign
    int textPixels = 0;    // black text pixels right of the sign
    Rgb okFace = 0;        // the OK button's face
    bool shownAsBox = false;
};

constexpr Rgb kSignYellow = rgb(255, 200, 0);

TEST_F(WindowTest, WarningBoxIsAWindowOfItsOwnWhileTheOwnerGoesOnAndTakesNoClicks) {
    Window* w = top(600, 400);  // at (100, 50)
    Window* c = child(w, "TestChild", Rect{0, 0, 600, 400});
    setTimer(w, 1, 33);
    BoxVisit seen;
    int closeAt = 0;  // the visit that closes the box
    int visits = 0;
    headlessSetIdleHook([&] {
        Window* box = headlessOpenBox();
        if (!box) return;
        ++visits;
        if (visits == 1) {
            seen.box = box;
            seen.ownerTimers = count(w, MsgKind::Timer);
            seen.ownerPaints = count(c, MsgKind::Paint);
            const Point p = headlessWindowPos(box);
            seen.boxRect = Rect{p.x, p.y, p.x + clientRect(box).right, p.y + clientRect(box).bottom};
            seen.shownAsBox = headlessShown(box) && !headlessMessageBoxes().empty() &&
                              headlessMessageBoxes().back().box == box;
            const Canvas* f = headlessFrameOf(box);
            for (int y = 0; y < f->height(); ++y)
                for (int x = 0; x < f->width(); ++x) {
                    seen.signPixels += f->pixel(x, y) == kSignYellow;
                    const Rgb p = f->pixel(x, y);
                    seen.textPixels += x >= 70 && y < f->height() - 44 && rgbRed(p) < 96 && rgbGreen(p) < 96 &&
                                       rgbBlue(p) < 96;
                }
            seen.okFace = f->pixel(f->width() - 12 - 88 + 3, f->height() - 22);  // left of "OK"
            // The owner ignores clicks and its close button while the box is open.
            headlessClick(300, 200);
            headlessClose();
        }
        if (visits == 2) invalidate(c, false);  // and keeps painting when asked
        if (visits == closeAt) headlessKey(box, KeyEnter);
    });
    closeAt = 30;
    g_log.clear();
    messageBoxWarning(c, L"Audio device init failed (0x88890004).", L"Kestrum");
    headlessSetIdleHook(nullptr);

    EXPECT_EQ(visits, closeAt);
    ASSERT_NE(seen.box, nullptr);
    EXPECT_TRUE(seen.shownAsBox);
    EXPECT_EQ(headlessOpenBox(), nullptr) << "closed by Enter";
    ASSERT_EQ(headlessMessageBoxes().size(), 1u);
    EXPECT_EQ(headlessMessageBoxes()[0].owner, w) << "owned by the control's top-level window";
    EXPECT_EQ(headlessMessageBoxes()[0].text, L"Audio device init failed (0x88890004).");
    EXPECT_EQ(headlessMessageBoxes()[0].caption, L"Kestrum");
    // Centred on the owner's client area.
    EXPECT_LE(std::abs(seen.boxRect.left + seen.boxRect.right - (2 * 100 + 600)), 1);
    EXPECT_LE(std::abs(seen.boxRect.top + seen.boxRect.bottom - (2 * 50 + 400)), 1);
    EXPECT_GT(seen.boxRect.width(), 240);
    // A warning sign, the text and a light OK button.
    EXPECT_GT(seen.signPixels, 150);
    EXPECT_GT(seen.textPixels, 40);
    EXPECT_EQ(seen.okFace, rgb(225, 225, 225));
    // The owner's timer kept firing and its child kept painting while the box was open.
    EXPECT_GT(count(w, MsgKind::Timer), seen.ownerTimers + 20);
    EXPECT_GT(count(c, MsgKind::Paint), seen.ownerPaints);
    // Not one click or close reached the owner; after the box, both do again.
    EXPECT_EQ(count(c, MsgKind::MouseDown), 0);
    EXPECT_EQ(count(w, MsgKind::Close), 0);
    headlessClick(300, 200);
    EXPECT_EQ(count(c, MsgKind::MouseDown), 1);
}

TEST_F(WindowTest, WarningBoxClosesByKeysByOkAndByItsFrame) {
    Window* w = top(600, 400);
    setTimer(w, 1, 33);
    const std::function<void(Window*)> closers[] = {
        [](Window* box) { headlessKey(box, KeyEnter); },
        [](Window* box) { headlessKey(box, KeyEscape); },
        [](Window* box) { headlessKey(box, KeySpace); },
        [](Window* box) {
            const Rect r = clientRect(box);
            headlessClickIn(box, r.right - 12 - 44, r.bottom - 22);  // the OK button's middle
        },
        [](Window* box) { headlessCloseWindow(box); },
    };
    for (size_t i = 0; i < std::size(closers); ++i) {
        SCOPED_TRACE(i);
        int visits = 0;
        headlessSetIdleHook([&] {
            Window* box = headlessOpenBox();
            if (!box) return;
            if (++visits == 1) headlessKey(box, 'x');  // any other key leaves it open
            else closers[i](box);
        });
        messageBoxWarning(w, L"Audio device init failed (0x88890004).", L"Kestrum");
        EXPECT_EQ(visits, 2);
        EXPECT_EQ(headlessOpenBox(), nullptr);
    }
    headlessSetIdleHook(nullptr);
}

TEST_F(WindowTest, WarningBoxEndsWithAQuitOrWithItsOwner) {
    // A quit during the box ends it and stays for the loop outside.
    Window* w = top(600, 400);
    setTimer(w, 1, 33);
    headlessSetIdleHook([] {
        if (headlessOpenBox()) quitLoop(4);
    });
    messageBoxWarning(w, L"text", L"Kestrum");
    EXPECT_EQ(headlessOpenBox(), nullptr);
    headlessSetIdleHook(nullptr);
    EXPECT_EQ(runMessageLoop(), 4);

    // The owner destroyed while the box is open: the box goes with it.
    windowUseHeadless(1024, 768);
    Window* w2 = top(600, 400);
    setTimer(w2, 1, 33);
    Window* box = nullptr;
    headlessSetIdleHook([&] {
        if ((box = headlessOpenBox())) destroyWindow(w2);
    });
    g_log.clear();
    messageBoxWarning(w2, L"text", L"Kestrum");
    headlessSetIdleHook(nullptr);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(headlessMainWindow(), nullptr);
    EXPECT_EQ(headlessOpenBox(), nullptr);
    std::vector<Window*> destroyed;
    for (const Heard& h : g_log)
        if (h.kind == MsgKind::Destroy) destroyed.push_back(h.w);
    EXPECT_EQ(destroyed, std::vector<Window*>{w2});
}

TEST_F(WindowTest, ChildrenAreListedInCreationOrder) {
    Window* w = top();
    Window* a = child(w, "TestChild", Rect{0, 0, 10, 10});
    Window* b = child(w, "Label", Rect{0, 0, 10, 10}, 0);  // hidden ones count too
    Window* inner = child(a, "TestChild", Rect{0, 0, 5, 5});
    Window* c = child(w, "Button", Rect{20, 0, 30, 10});
    EXPECT_EQ(headlessChildren(w), (std::vector<Window*>{a, b, c}));
    EXPECT_EQ(headlessChildren(a), (std::vector<Window*>{inner}));
    EXPECT_TRUE(headlessChildren(c).empty());

    destroyWindow(b);
    EXPECT_EQ(headlessChildren(w), (std::vector<Window*>{a, c}));
    destroyWindow(w);
    EXPECT_TRUE(headlessChildren(w).empty());
    EXPECT_TRUE(headlessChildren(a).empty());
}

TEST_F(WindowTest, HandlesOfDestroyedWindowsAreHarmless) {
    Window* w = top();
    Window* c = child(w, "TestChild", Rect{0, 0, 10, 10});
    destroyWindow(c);
    EXPECT_EQ(sendMessage(c, WinMsg{MsgKind::Paint}), 0);
    EXPECT_EQ(clientRect(c), Rect{});
    EXPECT_EQ(parentOf(c), nullptr);
    invalidate(c, true);
    setWindowText(c, L"x");
    headlessPump();
    EXPECT_EQ(count(c, MsgKind::Paint), 0);
}
