// The editor's preset buttons on Windows, clicked in its window inside a
// host's window: the system's save and open dialogs come up owned by that
// window, are answered from a second thread, and the preset goes to the file
// and back.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "gui/controls.h"
#include "host/vsthost/vsthost.h"
#include "plugin/main_vst.h"
#include "test_platform.h"
#include "tests/gui/dialog_win32.h"

namespace {

LRESULT CALLBACK host_proc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

// Presses and releases the button in the editor's window, as the mouse would.
void click(HWND child, const QZ_Wid_Butt* b) {
    const LPARAM at = MAKELPARAM(b->left + b->width / 2, b->top + b->height / 2);
    SendMessageA(child, WM_MOUSEMOVE, 0, at);
    SendMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(child, WM_LBUTTONUP, 0, at);
}

}  // namespace

TEST(EditorPresetsWin32, SaveAndLoadThroughTheSystemDialogs) {
    zelo_test::set_env("ZELO_VST_TRACE", "0");
    std::string error;
    auto self = zelo::vsthost::Module::self(&error);
    ASSERT_TRUE(self) << error;
    auto plugin = zelo::vsthost::Plugin::create(*self, &error);
    ASSERT_TRUE(plugin) << error;
    auto* vst = dynamic_cast<QZ_Main_Vst*>(static_cast<AudioEffect*>(plugin->effect()->object));
    ASSERT_NE(vst, nullptr);

    WNDCLASSA wc{};
    wc.lpfnWndProc = &host_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "zelo_test_preset_host";
    RegisterClassA(&wc);
    HWND host = CreateWindowExA(0, wc.lpszClassName, "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 220, 260,
                                nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(host, nullptr);
    ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, host), 1);
    HWND child = GetWindow(host, GW_CHILD);
    ASSERT_NE(child, nullptr);
    auto* save = QZ_object_as<QZ_Wid_Butt>(vst->widgets[QZ_Application::W_SAVE_BUTTON]);
    auto* load = QZ_object_as<QZ_Wid_Butt>(vst->widgets[QZ_Application::W_LOAD_BUTTON]);
    ASSERT_TRUE(save && load);

    char tmp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(sizeof tmp, tmp), 0u);
    const std::string dir = std::string(tmp) + "zelo-presets-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    const std::string file = dir + "mine.zelo";

    plugin->set_parameter(0, 0.0f);
    plugin->set_parameter(1, 0.3f);
    {
        dialog_win32::Answerer user(host, {dir + "mine"});
        click(child, save);
        const dialog_win32::Seen seen = user.seen();
        ASSERT_TRUE(seen.found) << "no save dialog owned by the host's window";
    }
    EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << file;

    plugin->set_parameter(0, 1.0f);
    plugin->set_parameter(1, 0.7f);
    {
        dialog_win32::Answerer user(host, {file});
        click(child, load);
        ASSERT_TRUE(user.seen().found) << "no open dialog owned by the host's window";
    }
    EXPECT_EQ(plugin->get_parameter(0), 0.0f);
    EXPECT_EQ(plugin->get_parameter(1), 0.3f);

    plugin->dispatch(effEditClose);
    plugin->close();
    DestroyWindow(host);
    DeleteFileA(file.c_str());
    RemoveDirectoryA(dir.c_str());
}
