// The Windows program's picture modes run as a user would: the PNG files are
// decoded again (through the system's imaging component) and the editor's
// snapshot is compared with what the toolkit linked into this test composes.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "gui/png.h"
#include "tests/plugin/editor_reference.h"

namespace {

// zelo.exe with the arguments; its exit status, or -1 when it did not run or end.
int zelo(const std::string& args) {
    std::string line = std::string("\"") + ZELO_EXE + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    DWORD status = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi.hProcess, &status))
        status = static_cast<DWORD>(-1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(status);
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TEST(CliWin32, SnapshotIsTheEditorAsTheToolkitComposesIt) {
    SetEnvironmentVariableA("ZELO_VST_TRACE", "0");
    const std::string png = testing::TempDir() + "zelo_snapshot_win32.png";
    DeleteFileA(png.c_str());
    ASSERT_EQ(zelo("snapshot \"" + png + "\" --set Frequency=0.5"), 0);
    QZ_Picture got;
    ASSERT_TRUE(QZ_png_read(png.c_str(), got)) << png;
    ASSERT_EQ(got.width, 200);
    ASSERT_EQ(got.height, 236);
    // Frequency 0.5 is the knob's middle: 10010 knob units, "5015 Hz".
    plugtest::Reference want(true, 10010.0f);
    int differing = 0;
    for (int y = 0; y < got.height; ++y)
        for (int x = 0; x < got.width; ++x) differing += !(got.at(x, y) == want.win.image.at(x, y));
    EXPECT_EQ(differing, 0);
    DeleteFileA(png.c_str());
}

TEST(CliWin32, ResponsePlotIsAPictureOrAnError) {
    SetEnvironmentVariableA("ZELO_VST_TRACE", "0");
    const std::string png = testing::TempDir() + "zelo_plot_win32.png";
    DeleteFileA(png.c_str());
    ASSERT_EQ(zelo("response --plot \"" + png + "\""), 0);
    QZ_Picture got;
    ASSERT_TRUE(QZ_png_read(png.c_str(), got)) << png;
    EXPECT_EQ(got.width, 800);
    EXPECT_EQ(got.height, 500);
    DeleteFileA(png.c_str());
    // A folder that does not exist: a failure status, and no file.
    const std::string nowhere = testing::TempDir() + "zelo_no_such_dir\\x.png";
    EXPECT_EQ(zelo("response --plot \"" + nowhere + "\""), 1);
    EXPECT_FALSE(exists(nowhere));
    // Not a PNG: the reader refuses it.
    const std::string text = testing::TempDir() + "zelo_not_a.png";
    if (FILE* f = std::fopen(text.c_str(), "wb")) {
        std::fputs("not a picture", f);
        std::fclose(f);
    }
    EXPECT_FALSE(QZ_png_read(text.c_str(), got));
    EXPECT_EQ(got.width, 800);  // unchanged
    DeleteFileA(text.c_str());
}
