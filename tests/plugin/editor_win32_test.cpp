// The editor as a Windows host drives it: zelo.dll loaded with LoadLibraryA by
// the test host, a top-level window of the test's own as the host's frame,
// the panel read back from the screen with BitBlt and compared with what the
// toolkit linked into this program composes for the same state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "editor_reference.h"
#include "gui/pic.h"
#include "plugin_env.h"
#include "tests/gui/win32_readback.h"

using namespace plugtest;
using gui_test::Panel;

namespace {

const ::testing::Environment* const quiet = ::testing::AddGlobalTestEnvironment(new QuietTrace);

LRESULT CALLBACK frame_proc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

// A function of its own rather than a lambda: on 32-bit Windows the callback
// must use the stdcall convention, which a lambda's conversion does not give.
BOOL CALLBACK count_one(HWND, LPARAM p) {
    ++*reinterpret_cast<int*>(p);
    return TRUE;
}

int count_windows(HWND parent) {
    int n = 0;
    const WNDENUMPROC add = &count_one;
    if (parent)
        EnumChildWindows(parent, add, reinterpret_cast<LPARAM>(&n));
    else
        EnumThreadWindows(GetCurrentThreadId(), add, reinterpret_cast<LPARAM>(&n));
    return n;
}

class Win32Editor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Panel::artwork_present());
        plugin = started();
        ASSERT_TRUE(plugin);
        frame = new_frame(40, 30);
        ASSERT_NE(frame, nullptr);
    }
    void TearDown() override {
        if (plugin && !plugin->closed()) plugin->close();
        plugin.reset();
        for (HWND w : {frame, other})
            if (w) DestroyWindow(w);
        pump();
    }

    // A frame whose client area has the size the editor asks for, as hosts make it.
    HWND new_frame(int x, int y) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &frame_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
        wc.lpszClassName = "zelo_test_frame";
        RegisterClassA(&wc);  // again for a later frame: fails harmlessly
        ERect* r = nullptr;
        if (plugin->dispatch(effEditGetRect, 0, 0, &r) != 1 || !r) return nullptr;
        RECT rc{r->left, r->top, r->right, r->bottom};
        const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
        AdjustWindowRectEx(&rc, style, FALSE, WS_EX_TOPMOST);
        HWND w = CreateWindowExA(WS_EX_TOPMOST, "zelo_test_frame", "host", style, x, y, rc.right - rc.left,
                                 rc.bottom - rc.top, nullptr, nullptr, wc.hInstance, nullptr);
        pump();
        return w;
    }

    bool open(HWND parent) { return plugin->dispatch(effEditOpen, 0, 0, parent) == 1; }
    static HWND editor_of(HWND parent) { return GetWindow(parent, GW_CHILD); }

    static void pump() {
        MSG msg;
        for (int round = 0; round < 10; ++round) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            Sleep(5);
        }
    }

    static int differences(HWND w, const QZ_Picture& want) { return win32_screen_differences(w, want); }
    // Pumps the frame's messages until the screen shows the picture (up to 2 s).
    int settle(HWND w, const QZ_Picture& want) {
        int d = -1;
        for (int i = 0; i < 40; ++i) {
            pump();
            d = differences(w, want);
            if (d == 0) return 0;
        }
        return d;
    }

    std::unique_ptr<Plugin> plugin;
    HWND frame = nullptr, other = nullptr;
};

}  // namespace

TEST_F(Win32Editor, OpensAsAChildOfTheFramePaintedLikeThePanel) {
    Reference ref(true, 1500.0f);
    const int before = count_windows(nullptr);
    ASSERT_TRUE(open(frame));
    HWND child = editor_of(frame);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(count_windows(frame), 1);
    EXPECT_EQ(count_windows(nullptr), before);  // no top-level window of its own
    // The class belongs to the DLL's instance, not to this program's.
    char cls[64] = {}, want[32];
    GetClassNameA(child, cls, sizeof cls);
    std::snprintf(want, sizeof want, "QZFRAMEx%8.8X",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(GetModuleHandleA("zelo.dll"))));
    EXPECT_STREQ(cls, want);
    RECT rc{};
    GetClientRect(child, &rc);
    EXPECT_EQ(rc.right, Panel::W);
    EXPECT_EQ(rc.bottom, Panel::H);
    EXPECT_EQ(settle(frame, ref.win.image), 0);

    // The host covers the editor and uncovers it: the window repaints itself.
    InvalidateRect(child, nullptr, FALSE);
    EXPECT_EQ(settle(frame, ref.win.image), 0);

    // A host parameter change repaints the open panel at once, from the caller's thread.
    plugin->set_parameter(1, 0.75f);
    Reference moved(true, 20.0f + 0.75f * 19980.0f);
    EXPECT_EQ(differences(frame, moved.win.image), 0);
    plugin->set_parameter(0, 0.0f);
    Reference off(false, 20.0f + 0.75f * 19980.0f);
    EXPECT_EQ(differences(frame, off.win.image), 0);

    // From another thread (a host's audio thread) the change is handed to the
    // window's thread, which shows it from its message loop.
    std::thread host([&] {
        plugin->set_parameter(0, 1.0f);
        plugin->set_parameter(1, 0.25f);
    });
    host.join();
    Reference later(true, 20.0f + 0.25f * 19980.0f);
    EXPECT_EQ(settle(frame, later.win.image), 0);

    plugin->dispatch(effEditClose);
    pump();
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(count_windows(frame), 0);
}

TEST_F(Win32Editor, DraggingTheKnobChangesTheParameterAndTellsTheHost) {
    ASSERT_TRUE(open(frame));
    HWND child = editor_of(frame);
    ASSERT_NE(child, nullptr);
    const float start = plugin->get_parameter(1);
    plugin->clear_calls();
    const int cx = 66 + 32, cy = 126 + 32;  // the knob's middle
    SendMessageA(child, WM_MOUSEMOVE, 0, MAKELPARAM(cx, cy));
    SendMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cx, cy));
    SendMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(cx + 20, cy));
    SendMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(cx + 40, cy));
    SendMessageA(child, WM_LBUTTONUP, 0, MAKELPARAM(cx + 40, cy));
    // From frame 19 to frame 59: that frame's value, told to the host last.
    const float want = knob_value_of_frame(59);
    EXPECT_NE(plugin->get_parameter(1), start);
    EXPECT_NEAR(plugin->get_parameter(1), (want - 20.0f) / 19980.0f, 1e-6f);
    float last_told = -1.0f;
    for (const auto& c : plugin->calls())
        if (c.opcode == audioMasterAutomate && c.index == 1) last_told = c.opt;
    EXPECT_EQ(last_told, plugin->get_parameter(1));
    // The drag is one gesture for the host, around its changes.
    std::vector<VstInt32> edits;
    for (const auto& c : plugin->calls())
        if (c.opcode == audioMasterBeginEdit || c.opcode == audioMasterEndEdit || c.opcode == audioMasterAutomate)
            edits.push_back(c.opcode);
    ASSERT_GE(edits.size(), 3u);
    EXPECT_EQ(edits.front(), audioMasterBeginEdit);
    EXPECT_EQ(edits.back(), audioMasterEndEdit);
    EXPECT_EQ(std::count(edits.begin(), edits.end(), audioMasterBeginEdit), 1);
    EXPECT_EQ(std::count(edits.begin(), edits.end(), audioMasterEndEdit), 1);

    // The pointer leaves (the knob is no longer highlighted): the turned knob and its text.
    SendMessageA(child, WM_MOUSELEAVE, 0, 0);
    Reference moved(true, want, 59);
    EXPECT_EQ(settle(frame, moved.win.image), 0);

    // The switch, clicked without a move before it.
    SendMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(21 + 20, 67 + 12));
    SendMessageA(child, WM_LBUTTONUP, 0, MAKELPARAM(21 + 20, 67 + 12));
    EXPECT_EQ(plugin->get_parameter(0), 0.0f);
}

TEST_F(Win32Editor, OpenCloseMoveAndEffCloseLeaveNoWindows) {
    const int top_before = count_windows(nullptr);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(open(frame)) << i;
        pump();
        plugin->dispatch(effEditClose);
    }
    EXPECT_EQ(count_windows(frame), 0);
    // Opened twice without a close: one window; opened in another frame: moved there.
    ASSERT_TRUE(open(frame));
    ASSERT_TRUE(open(frame));
    EXPECT_EQ(count_windows(frame), 1);
    other = new_frame(300, 30);
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(open(other));
    EXPECT_EQ(count_windows(frame), 0);
    EXPECT_EQ(count_windows(other), 1);
    {
        Reference ref(true, 1500.0f);
        EXPECT_EQ(settle(other, ref.win.image), 0);
    }
    // A parent that is no window is refused and the open editor stays.
    EXPECT_EQ(plugin->dispatch(effEditOpen, 0, 0, nullptr), 0);
    EXPECT_EQ(count_windows(other), 1);
    // The host destroys its frame before closing the editor, then opens again.
    DestroyWindow(other);
    other = nullptr;
    plugin->set_parameter(1, 0.6f);  // repaints into a window that is gone
    plugin->dispatch(effEditClose);
    other = new_frame(300, 30);
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(open(other));
    Reference later(true, 20.0f + 0.6f * 19980.0f);
    EXPECT_EQ(settle(other, later.win.image), 0);
    // The host closes the effect with its editor open: the window goes with it.
    EXPECT_EQ(plugin->close(), 1);
    pump();
    EXPECT_EQ(count_windows(other), 0);
    EXPECT_EQ(count_windows(nullptr), top_before + 1);  // the second frame only
}

// Some hosts close the effect on a worker thread. Only the window's own thread
// may destroy it, so the editor hands the window back to that thread's
// message loop, with no code of the module left behind to be called into.
TEST_F(Win32Editor, EffCloseFromAnotherThreadStillRemovesTheWindow) {
    ASSERT_TRUE(open(frame));
    HWND child = editor_of(frame);
    ASSERT_NE(child, nullptr);
    VstIntPtr closed = 0;
    std::thread worker([&] { closed = plugin->close(); });
    worker.join();
    EXPECT_EQ(closed, 1);
    pump();
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(count_windows(frame), 0);
    // The frame keeps working: it repaints and goes away cleanly.
    InvalidateRect(frame, nullptr, TRUE);
    pump();
    EXPECT_TRUE(DestroyWindow(frame));
    frame = nullptr;
}
