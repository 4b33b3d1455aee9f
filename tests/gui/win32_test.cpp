// The editor panel in a real Win32 child window: what reaches the screen is
// read back and compared with the picture the image window composes, and
// pointer messages go through the window procedure to the widgets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "gui/controls.h"
#include "gui/text.h"
#include "gui/win_win32.h"
#include "tests/gui/panel.h"
#include "tests/gui/win32_readback.h"

using namespace gui_test;

namespace {

LRESULT CALLBACK host_proc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

// A top-level window standing in for the host's editor frame.
class Win32 : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &host_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "zelo_test_host";
        RegisterClassA(&wc);  // a second registration by a later test fails harmlessly
        parent = CreateWindowExA(WS_EX_TOPMOST, "zelo_test_host", "host", WS_POPUP | WS_VISIBLE, 0, 0,
                                 Panel::W, Panel::H, nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(parent, nullptr);
        pump();
    }
    void TearDown() override {
        if (parent) DestroyWindow(parent);
        pump();
    }

    static void pump() {
        MSG msg;
        for (int round = 0; round < 20; ++round) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            Sleep(5);
        }
    }

    static int differences(HWND w, const QZ_Picture& want) { return win32_screen_differences(w, want); }

    static LPARAM at(int x, int y) { return MAKELPARAM(x, y); }

    HWND parent = nullptr;
};

void reference_panel(QZ_Win_Image& image) {
    Panel p(false);
    EXPECT_TRUE(p.ok);
    EXPECT_TRUE(p.attach(image));
    image.redraw({0, 0, Panel::W, Panel::H});
}

}  // namespace

TEST(Win32Class, NamedAfterTheModuleInstance) {
    char want[32];
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&QZ_Win_Win32::class_name), &self);
    std::snprintf(want, sizeof want, "QZFRAMEx%8.8X", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(self)));
    ASSERT_NE(QZ_Win_Win32::class_name(), nullptr);
    EXPECT_STREQ(QZ_Win_Win32::class_name(), want);
}

TEST_F(Win32, PaintedChildShowsWhatTheImageWindowComposes) {
    ASSERT_TRUE(Panel::artwork_present());
    QZ_Win_Image reference(Panel::W, Panel::H);
    reference_panel(reference);

    QZ_Win_Win32 win(Panel::W, Panel::H);
    Panel p(false);
    ASSERT_TRUE(p.ok);
    ASSERT_TRUE(p.attach(win));
    ASSERT_EQ(win.hwnd(parent), parent);
    HWND child = win.child();
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(win.hwnd(parent), parent);  // again: the same window
    EXPECT_EQ(win.child(), child);
    EXPECT_EQ(GetParent(child), parent);
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    EXPECT_STREQ(cls, QZ_Win_Win32::class_name());

    // The system's own paint (WM_PAINT through BeginPaint) ...
    InvalidateRect(child, nullptr, FALSE);
    UpdateWindow(child);
    pump();
    EXPECT_EQ(differences(child, reference.image), 0);
    // ... and a redraw from the program, which paints at once.
    win.redraw({0, 0, Panel::W, Panel::H});
    EXPECT_EQ(differences(child, reference.image), 0);

    // Hidden and shown again: a new window, painted like the first.
    EXPECT_EQ(win.hwnd(nullptr), nullptr);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(win.hwnd(nullptr), nullptr);  // hiding a hidden window does nothing
    ASSERT_EQ(win.hwnd(parent), parent);
    win.redraw({0, 0, Panel::W, Panel::H});
    pump();
    EXPECT_EQ(differences(win.child(), reference.image), 0);

    // The parent destroyed under it (the child goes too): the handle is
    // forgotten, and the next show makes a new window.
    DestroyWindow(parent);
    parent = nullptr;
    EXPECT_EQ(win.child(), nullptr);
    EXPECT_EQ(win.parent(), nullptr);
}

TEST_F(Win32, PressDragReleaseThroughTheWindowProcedureTurnsTheKnob) {
    ASSERT_TRUE(Panel::artwork_present());
    QZ_Win_Win32 win(Panel::W, Panel::H);
    Panel p(false);
    ASSERT_TRUE(p.ok);
    ASSERT_TRUE(p.attach(win));
    ASSERT_EQ(win.hwnd(parent), parent);
    HWND child = win.child();
    auto* knob = QZ_object_as<QZ_Wid_Knob>(p.knob);
    auto* button = QZ_object_as<QZ_Wid_Butt>(p.button);
    ASSERT_EQ(knob->position, 19);
    const int cx = 66 + 32, cy = 126 + 32;  // the knob's middle

    SendMessageA(child, WM_MOUSEMOVE, 0, at(cx, cy));
    EXPECT_EQ(win.hovered(), knob);
    SendMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, at(cx, cy));
    EXPECT_EQ(win.captured(), knob);
    SendMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, at(cx + 40, cy));
    SendMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, at(cx + 150, cy));  // right of the window: still dragging
    EXPECT_EQ(knob->position, 19 + 150);
    SendMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, at(cx + 50, cy));
    EXPECT_EQ(knob->position, 19 + 50);
    SendMessageA(child, WM_LBUTTONUP, 0, at(cx + 50, cy));
    EXPECT_EQ(win.captured(), nullptr);
    EXPECT_EQ(win.hovered(), knob);

    // Coordinates left of and above the window arrive as negative words.
    SendMessageA(child, WM_MOUSEMOVE, 0, at(-5, -7));
    EXPECT_EQ(win.hovered(), nullptr);  // clamped to (0, 0): the background

    // Onto the switch, then the pointer leaves: the highlight goes.
    SendMessageA(child, WM_MOUSEMOVE, 0, at(21 + 20, 67 + 12));
    EXPECT_EQ(win.hovered(), button);
    SendMessageA(child, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(win.hovered(), nullptr);
    // A press with no move before it still reaches the widget under it.
    const bool before = button->state;
    SendMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, at(21 + 20, 67 + 12));
    SendMessageA(child, WM_LBUTTONUP, 0, at(21 + 20, 67 + 12));
    EXPECT_NE(button->state, before);

    // The screen shows the turned knob and the switched button, drawn plainly.
    SendMessageA(child, WM_MOUSELEAVE, 0, 0);
    QZ_Win_Image reference(Panel::W, Panel::H);
    ASSERT_TRUE(p.attach(reference));
    reference.redraw({0, 0, Panel::W, Panel::H});
    ASSERT_TRUE(p.attach(win));
    win.redraw({0, 0, Panel::W, Panel::H});
    EXPECT_EQ(differences(child, reference.image), 0);
}

TEST_F(Win32, TextWidgetIsRenderedByGdi) {
    QZ_Win_Win32 win(200, 40);
    QZ_handle left = 0, right = 0;
    ASSERT_EQ(spcpp("QZ_Wid_Text -l 0 -t 0 -w 200 -h 20 -font Tahoma -size 12 -horz -1 -text Cutoff", &left),
              QZ_OK);
    ASSERT_EQ(spcpp("QZ_Wid_Text -l 0 -t 20 -w 200 -h 20 -font Tahoma -size 12 -horz 1 -text Cutoff", &right),
              QZ_OK);
    ASSERT_EQ(spcpp("QZ_Wid %o -win %o", left, win.handle()), QZ_OK);
    ASSERT_EQ(spcpp("QZ_Wid %o -win %o", right, win.handle()), QZ_OK);
    auto* l = QZ_object_as<QZ_Wid_Text>(left);
    auto* r = QZ_object_as<QZ_Wid_Text>(right);
    l->prepare();
    r->prepare();
    // Opaque where the glyphs are, transparent elsewhere; left-aligned ink
    // starts near the left edge, right-aligned ink ends near the right one.
    auto ink = [](const QZ_Picture& pic, int& x0, int& x1) {
        int n = 0;
        x0 = pic.width;
        x1 = -1;
        for (int y = 0; y < pic.height; ++y)
            for (int x = 0; x < pic.width; ++x) {
                const QZ_Pix_A32 p = pic.at(x, y);
                if (p.a == 0) continue;
                EXPECT_EQ(p.a, 255);
                ++n;
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
            }
        return n;
    };
    int lx0, lx1, rx0, rx1;
    EXPECT_GT(ink(l->picture, lx0, lx1), 20);
    EXPECT_GT(ink(r->picture, rx0, rx1), 20);
    EXPECT_LT(lx0, 4);
    EXPECT_GT(rx1, 195);
    EXPECT_LT(lx1, rx0);
    spcpp("%o -delete", left);
    spcpp("%o -delete", right);
}
