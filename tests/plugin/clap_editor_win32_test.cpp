// zelo.clap's editor on Windows as a CLAP host embeds it: gui create with the
// win32 API, set_parent on a frame of the test's own, show; the panel is a child
// of the frame painted like the toolkit's picture, and hide and destroy take it
// away (under wine, in the virtual X server of the run).
#include <windows.h>

#include <gtest/gtest.h>

#include "editor_reference.h"
#include "host/claphost/claphost.h"
#include "plugin_env.h"
#include "tests/gui/win32_readback.h"

namespace clap = zelo::claphost;

namespace {

const ::testing::Environment* const quiet = ::testing::AddGlobalTestEnvironment(new plugtest::QuietTrace);

LRESULT CALLBACK frame_proc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

void pump() {
    MSG msg;
    for (int round = 0; round < 10; ++round) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    }
}

}  // namespace

TEST(ClapWin32Editor, EmbedsAsAChildPaintedLikeThePanelAndGoesAway) {
    ASSERT_TRUE(gui_test::Panel::artwork_present());
    std::string error;
    auto module = clap::Module::load(ZELO_CLAP_PATH, &error);
    ASSERT_TRUE(module) << error;
    auto plugin = clap::Plugin::create(*module, &error);
    ASSERT_TRUE(plugin) << error;
    const clap_plugin_gui_t* gui = plugin->gui();
    ASSERT_NE(gui, nullptr);
    EXPECT_FALSE(gui->is_api_supported(plugin->plugin(), CLAP_WINDOW_API_X11, false));
    ASSERT_TRUE(gui->create(plugin->plugin(), CLAP_WINDOW_API_WIN32, false));
    std::uint32_t w = 0, h = 0;
    ASSERT_TRUE(gui->get_size(plugin->plugin(), &w, &h));

    WNDCLASSA wc{};
    wc.lpfnWndProc = &frame_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszClassName = "zelo_clap_test_frame";
    RegisterClassA(&wc);
    RECT rc{0, 0, static_cast<LONG>(w), static_cast<LONG>(h)};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    AdjustWindowRectEx(&rc, style, FALSE, WS_EX_TOPMOST);
    HWND frame = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "host", style, 40, 30, rc.right - rc.left,
                                 rc.bottom - rc.top, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(frame, nullptr);
    pump();

    clap_window_t parent{CLAP_WINDOW_API_WIN32, {nullptr}};
    parent.win32 = frame;
    ASSERT_TRUE(gui->set_parent(plugin->plugin(), &parent));
    ASSERT_TRUE(gui->show(plugin->plugin()));
    HWND child = GetWindow(frame, GW_CHILD);
    ASSERT_NE(child, nullptr);
    plugtest::Reference ref(true, 1500.0f);
    int d = -1;
    for (int i = 0; i < 40 && d != 0; ++i) {
        pump();
        d = win32_screen_differences(child, ref.win.image);
    }
    EXPECT_EQ(d, 0);

    EXPECT_TRUE(gui->hide(plugin->plugin()));
    pump();
    EXPECT_EQ(GetWindow(frame, GW_CHILD), nullptr);
    EXPECT_TRUE(gui->show(plugin->plugin()));
    pump();
    EXPECT_NE(GetWindow(frame, GW_CHILD), nullptr);
    gui->destroy(plugin->plugin());
    pump();
    EXPECT_EQ(GetWindow(frame, GW_CHILD), nullptr);
    plugin.reset();
    DestroyWindow(frame);
    pump();
}
