// The system's open and save dialogs under the editor's window, answered from a
// second thread by typing into them and pressing their buttons.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "gui/dlg_file.h"
#include "gui/win_win32.h"
#include "tests/gui/dialog_win32.h"

using dialog_win32::Answer;
using dialog_win32::Answerer;
using dialog_win32::Seen;

namespace {

const char kFilter[] = "Preset file (*.zelo)\0*.zelo\0";

LRESULT CALLBACK host_proc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

// A host's editor window with the toolkit's window inside, and a folder of its own.
struct Dialogs : ::testing::Test {
    void SetUp() override {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &host_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "zelo_test_dialog_host";
        RegisterClassA(&wc);
        parent = CreateWindowExA(0, wc.lpszClassName, "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 220, 260,
                                 nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(parent, nullptr);
        ASSERT_EQ(win.hwnd(parent), parent);
        char tmp[MAX_PATH] = {};
        ASSERT_GT(GetTempPathA(sizeof tmp, tmp), 0u);
        dir = std::string(tmp) + "zelo-dialog-" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(dir.c_str(), nullptr);
    }
    void TearDown() override {
        for (const char* f : {"first.zelo", "first"}) DeleteFileA((dir + f).c_str());
        RemoveDirectoryA(dir.c_str());
        win.hwnd(nullptr);
        if (parent) DestroyWindow(parent);
    }
    // One dialog, answered as `a` says.
    const char* run(QZ_Dlg_File& dlg, bool save, const Answer& a, Seen* seen) {
        Answerer user(parent, a);
        const char* r = save ? dlg.save() : dlg.open();
        *seen = user.seen();
        return r;
    }

    HWND parent = nullptr;
    QZ_Win_Win32 win{200, 236};
    std::string dir;
};

}  // namespace

TEST_F(Dialogs, SaveAddsTheExtensionOpenFindsTheFileCancelKeepsTheLastChoice) {
    QZ_Dlg_File dlg(&win, kFilter);
    Seen seen;
    const std::string want = dir + "first.zelo";

    const char* r = run(dlg, true, {dir + "first"}, &seen);
    ASSERT_TRUE(seen.found) << "no dialog owned by the editor's window";
    EXPECT_EQ(seen.title, "File preset");
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r, want.c_str());
    EXPECT_EQ(r, dlg.path());
    EXPECT_FALSE(seen.asked);
    std::ofstream(want, std::ios::binary) << "preset";

    // The open dialog proposes the last choice and returns the existing file.
    r = run(dlg, false, {want}, &seen);
    ASSERT_TRUE(seen.found);
    EXPECT_NE(seen.proposed.find("first.zelo"), std::string::npos) << seen.proposed;
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r, want.c_str());

    // Cancel: nothing chosen, the last path stays.
    r = run(dlg, false, {"", false}, &seen);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(r, nullptr);
    EXPECT_STREQ(dlg.path(), want.c_str());

    // Saving over the existing file asks first; Yes returns it.
    r = run(dlg, true, {dir + "first", true, true}, &seen);
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(seen.asked);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r, want.c_str());
}
