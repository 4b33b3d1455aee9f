// The Windows program's picture modes run as a user would: the PNG files are
// decoded again (through the system's imaging component) and the editor's
// snapshot is compared with what the toolkit linked into this test composes.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "gui/png.h"
#include "tests/plugin/editor_reference.h"

namespace {

struct Outcome {
    int status;  // -1 when the program did not start or did not end within the limit
    std::string out;  // standard output and error together
};

// A program with the arguments, its standard output and error read through a
// pipe; ended after `seconds` (a program that waits for a click never ends).
Outcome launch(const std::string& program, const std::string& args, DWORD seconds = 60) {
    Outcome r{-1, ""};
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE rd = nullptr, wr = nullptr;
    if (!CreatePipe(&rd, &wr, &sa, 0)) return r;
    SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    std::string line = "\"" + program + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = wr;
    si.hStdError = wr;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(wr);
    CloseHandle(nul);
    if (!started) {
        CloseHandle(rd);
        return r;
    }
    // The output on a thread of its own, so a full pipe cannot stall the program.
    std::thread reader([&] {
        char buf[4096];
        DWORD n = 0;
        while (ReadFile(rd, buf, sizeof buf, &n, nullptr) && n > 0) r.out.append(buf, n);
    });
    DWORD status = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, seconds * 1000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, static_cast<UINT>(-1));
        WaitForSingleObject(pi.hProcess, 5000);
        r.out += "\n[ended after " + std::to_string(seconds) + " s]";
    } else if (!GetExitCodeProcess(pi.hProcess, &status)) {
        status = static_cast<DWORD>(-1);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    reader.join();
    CloseHandle(rd);
    r.status = static_cast<int>(status);
    return r;
}

// zelo.exe with the arguments; its exit status, or -1 when it did not run or end.
int zelo(const std::string& args) { return launch(ZELO_EXE, args).status; }

// What a console runs for `zelo`: the launcher beside the program.
std::string console_launcher() {
    std::string exe = ZELO_EXE;
    return exe.substr(0, exe.size() - 4) + ".com";
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string bytes_of(const std::string& path) {
    std::string b;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.append(buf, n);
        std::fclose(f);
    }
    return b;
}

// The subsystem field of a program's PE header (2 window, 3 console), 0 when unreadable.
int subsystem_of(const std::string& path) {
    const std::string b = bytes_of(path);
    if (b.size() < 0x40) return 0;
    const std::uint32_t pe = static_cast<unsigned char>(b[0x3C]) | static_cast<unsigned char>(b[0x3D]) << 8 |
                             static_cast<unsigned char>(b[0x3E]) << 16;
    // Signature (4), file header (20), then the optional header: Subsystem at offset 68.
    const std::size_t at = pe + 4 + 20 + 68;
    if (b.size() < at + 2 || b.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return 0;
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

// Names in a folder that start with `prefix`.
int count_starting(const std::string& dir, const std::string& prefix) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + prefix + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do ++n;
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return n;
}

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

// The command-line modes report on standard error and end; no box waits for
// a click (the tests run with a display, where a box would open and wait).
TEST(CliWin32, ABadPresetIsReportedOnStandardErrorWithoutABox) {
    SetEnvironmentVariableA("ZELO_VST_TRACE", "0");
    const std::string bad = testing::TempDir() + "zelo_bad_win32.zelo";
    if (FILE* f = std::fopen(bad.c_str(), "wb")) {
        std::fputs(std::string(31 + 8, 'x').c_str(), f);
        std::fclose(f);
    }
    const std::string out = testing::TempDir() + "zelo_never_win32.wav";
    for (const std::string& args :
         {"response --preset \"" + bad + "\"", "render --preset \"" + bad + "\" -o \"" + out + "\""}) {
        const Outcome r = launch(ZELO_EXE, args, 20);
        EXPECT_EQ(r.status, 1) << args << "\n" << r.out;
        EXPECT_NE(r.out.find("Wrong header in preset file."), std::string::npos) << args << "\n" << r.out;
    }
    EXPECT_FALSE(exists(out));
    DeleteFileA(bad.c_str());
}

// Double-clicked, the program opens its window and no console: a Windows
// program. Typed in a console, `zelo` is the console launcher beside it,
// which passes the arguments as typed, the output and the status.
TEST(CliWin32, AWindowsProgramWithAConsoleLauncherBesideIt) {
    EXPECT_EQ(subsystem_of(ZELO_EXE), IMAGE_SUBSYSTEM_WINDOWS_GUI);
    const std::string com = console_launcher();
    ASSERT_TRUE(exists(com)) << com;
    EXPECT_EQ(subsystem_of(com), IMAGE_SUBSYSTEM_WINDOWS_CUI);

    SetEnvironmentVariableA("ZELO_VST_TRACE", "0");
    Outcome r = launch(com, "response --set Frequency=0.5");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Frequen    5015"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("-3 dB at about"), std::string::npos) << r.out;
    // A name with blanks, quoted, arrives whole; an error's status comes back.
    const std::string spaced = testing::TempDir() + "zelo two words.png";
    DeleteFileA(spaced.c_str());
    r = launch(com, "snapshot \"" + spaced + "\" --set Frequency=0.25");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(exists(spaced)) << r.out;
    DeleteFileA(spaced.c_str());
    r = launch(com, "response --set Nope=1");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("no parameter 'Nope'"), std::string::npos) << r.out;
}

// Every output goes through a temporary beside it: the same file can be
// input and output, and nothing is left behind.
TEST(CliWin32, RenderOverItsOwnInputAndWithAPluginFilesNames) {
    SetEnvironmentVariableA("ZELO_VST_TRACE", "0");
    const std::string dir = testing::TempDir();
    const std::string x = dir + "zelo_same_win32.wav";
    DeleteFileA(x.c_str());
    ASSERT_EQ(zelo("render -o \"" + x + "\""), 0);  // the built-in sweep: 4 s at 44.1 kHz
    const std::size_t sweep = bytes_of(x).size();
    Outcome r = launch(ZELO_EXE, "render \"" + x + "\" -o \"" + x + "\" --set Frequency=0.1");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("176400 frames, 2 channels"), std::string::npos) << r.out;
    const std::string b = bytes_of(x);
    EXPECT_EQ(b.size(), sweep);
    // Float data with the fmt chunk's empty extension and a fact chunk.
    ASSERT_GT(b.size(), 58u);
    EXPECT_EQ(b.substr(12, 4), "fmt ");
    EXPECT_EQ(b[16], 18);
    EXPECT_EQ(b.substr(38, 4), "fact");
    EXPECT_EQ(b.substr(50, 4), "data");
    EXPECT_EQ(count_starting(dir, "zelo_same_win32.wav.part"), 0);
    DeleteFileA(x.c_str());

    // The plug-in loaded from its file tells only short names; a full name
    // that one of them starts still sets it.
    r = launch(ZELO_EXE, std::string("response --plugin \"") + ZELO_DLL + "\" --set Frequency=0.5");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Frequen    5015"), std::string::npos) << r.out;
}
