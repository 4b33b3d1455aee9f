// What the program's modes do to the files they write, and the holes a
// command line can hit: every output replaces its file in one step, so a
// failure, an interrupt or a kill never leaves a damaged or half file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status;
    std::string out;
};

// Through the shell (for ulimit and quoting); `timeout` ends a program that hangs.
Result sh(const std::string& line) {
    const std::string cmd = "timeout 60 sh -c '" + line + "' 2>&1";
    Result r{-1, ""};
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}
Result zelo(const std::string& args) { return sh(std::string(ZELO_EXE) + " " + args); }

fs::path fresh_dir(const char* name) {
    const fs::path d = fs::path(testing::TempDir()) / name;
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

std::vector<std::string> names_in(const fs::path& d) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(d)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string contents(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A mono 16-bit file of `frames` frames: a square wave of 480 frames' period.
void write_input(const fs::path& p, long frames, int rate = 48000) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(p.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<short> block(48000);
    for (long done = 0; done < frames;) {
        const long n = std::min<long>(frames - done, static_cast<long>(block.size()));
        for (long i = 0; i < n; ++i) block[static_cast<std::size_t>(i)] = ((done + i) / 240) % 2 ? 12000 : -12000;
        sf_writef_short(f, block.data(), n);
        done += n;
    }
    sf_close(f);
}

}  // namespace

TEST(RenderFiles, TheSameFileAsInputAndOutputIsFilteredInPlace) {
    const fs::path d = fresh_dir("render_same");
    const fs::path x = d / "x.wav";
    write_input(x, 48000);
    const Result r = zelo("render " + x.string() + " -o " + x.string() + " --set Frequency=0.2");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("48000 frames, 2 channels"), std::string::npos) << r.out;
    EXPECT_EQ(names_in(d), std::vector<std::string>{"x.wav"});
    SF_INFO info{};
    SNDFILE* f = sf_open(x.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(info.frames, 48000);
    EXPECT_EQ(info.channels, 2);
    std::vector<float> y(2 * 48000);
    sf_readf_float(f, y.data(), 48000);
    sf_close(f);
    // The square wave through a 1.3 kHz low-pass: below its input's level,
    // well above silence (not the empty file the input would be if the output
    // had been opened over it first).
    double peak = 0, sum = 0;
    for (float v : y) {
        peak = std::max(peak, double(std::fabs(v)));
        sum += double(v) * v;
    }
    EXPECT_LT(peak, 12000.0 / 32768.0 + 1e-3);
    EXPECT_GT(std::sqrt(sum / y.size()), 0.1);
}

TEST(RenderFiles, AnInterruptedOrKilledRenderLeavesTheOldFileWhole) {
    const fs::path d = fresh_dir("render_killed");
    const fs::path in = d / "long.wav", out = d / "out.wav";
    write_input(in, 48000L * 180);  // three minutes: far longer than the wait below
    for (int sig : {SIGTERM, SIGINT, SIGKILL}) {
        std::ofstream(out, std::ios::binary) << "the old output";
        const pid_t pid = ::fork();
        if (pid == 0) {
            // As from an interactive shell: a job started in the background by
            // one without job control would have SIGINT ignored.
            for (int s : {SIGTERM, SIGINT}) ::signal(s, SIG_DFL);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl(ZELO_EXE, ZELO_EXE, "render", in.c_str(), "-o", out.c_str(), "--block", "32",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ASSERT_GT(pid, 0);
        // Until the output's temporary has sound in it.
        bool writing = false;
        for (int i = 0; i < 3000 && !writing; ++i) {
            for (const auto& e : fs::directory_iterator(d))
                if (e.path().filename().string().rfind("out.wav.part", 0) == 0 && fs::file_size(e.path()) > 65536)
                    writing = true;
            if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(writing);
        ::kill(pid, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig << ", status " << status;
        EXPECT_EQ(contents(out), "the old output") << sig;
        if (sig != SIGKILL) {
            EXPECT_EQ(names_in(d), (std::vector<std::string>{"long.wav", "out.wav"})) << sig;
        }
    }
}

TEST(RenderFiles, AFileSizeLimitIsAnErrorWithAMessageAndNoLeftovers) {
    const fs::path d = fresh_dir("render_fsize");
    const fs::path out = d / "out.wav", png = d / "plot.png", shot = d / "editor.png";
    for (const fs::path& p : {out, png, shot}) std::ofstream(p, std::ios::binary) << "old";
    // 4 KiB: less than any of these files needs.
    const std::string limit = "ulimit -f 8; ";
    Result r = sh(limit + ZELO_EXE + " render -o " + out.string());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("writing " + out.string() + " failed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("too large"), std::string::npos) << r.out;
    r = sh(limit + ZELO_EXE + " response --plot " + png.string());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("cannot write " + png.string()), std::string::npos) << r.out;
    r = sh(limit + ZELO_EXE + " snapshot " + shot.string());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("cannot write " + shot.string()), std::string::npos) << r.out;
    EXPECT_EQ(names_in(d), (std::vector<std::string>{"editor.png", "out.wav", "plot.png"}));
    for (const fs::path& p : {out, png, shot}) EXPECT_EQ(contents(p), "old") << p;
}

TEST(RenderFiles, WhatIsNoFileOrNoNameIsRefusedAtOnce) {
    const fs::path d = fresh_dir("render_holes");
    const fs::path fifo = d / "fifo.wav", out = d / "out.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Nobody writes to the pipe: refused, not waited on.
    Result r = zelo("render " + fifo.string() + " -o " + out.string());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("not a regular file"), std::string::npos) << r.out;
    r = zelo("render --plugin " + fifo.string() + " -o " + out.string());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("not a regular file"), std::string::npos) << r.out;
    // Nor is a pipe replaced by an output.
    ASSERT_EQ(::mkfifo((d / "o.wav").c_str(), 0600), 0);
    r = zelo("render -o " + (d / "o.wav").string());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("not a regular file"), std::string::npos) << r.out;
    struct stat st{};
    ASSERT_EQ(::stat((d / "o.wav").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    // Empty names are errors, not skipped options.
    for (const char* args : {"response --save-preset \"\"", "response --preset \"\"", "render -o \"\"",
                             "response --plot \"\"", "response --plugin \"\"", "snapshot x.png --preset \"\""}) {
        r = zelo(args);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.out;
        EXPECT_NE(r.out.find("needs a value"), std::string::npos) << args << "\n" << r.out;
    }
}

TEST(RenderFiles, APluginFilesShortNamesTakeTheFullNames) {
    // The module loaded from its file tells no full names; the short name a
    // host shows ("Frequen") starts the full one, and only that parameter's.
    const Result full = zelo(std::string("response --plugin ") + ZELO_PLUGIN + " --set Frequency=0.5");
    ASSERT_EQ(full.status, 0) << full.out;
    EXPECT_NE(full.out.find("Frequen    5015"), std::string::npos) << full.out;
    const Result mixed = zelo(std::string("response --plugin ") + ZELO_PLUGIN + " --set FREQUENCY=0.5 --set state=0");
    ASSERT_EQ(mixed.status, 0) << mixed.out;
    EXPECT_NE(mixed.out.find("State      Off"), std::string::npos) << mixed.out;
    const Result snap = zelo("snapshot " + testing::TempDir() + "zelo_full_name.png --set FREQUENCY=0.5");
    EXPECT_EQ(snap.status, 0) << snap.out;
    // Shorter than the short name, or longer than one that is whole: no parameter.
    for (const char* name : {"Freq", "Statement"}) {
        const Result r = zelo(std::string("response --plugin ") + ZELO_PLUGIN + " --set " + name + "=0.5");
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_NE(r.out.find(std::string("no parameter '") + name + "'"), std::string::npos) << r.out;
    }
}

TEST(RenderFiles, CommandLineModesReportABadPresetOnStandardErrorOnly) {
    const fs::path d = fresh_dir("render_bad_preset");
    const fs::path bad = d / "bad.zelo";
    std::ofstream(bad, std::ios::binary) << std::string(31 + 8, 'x');
    // With a display the window modes would show a box; these modes must not
    // wait for one. (No box opens here: the run ends by itself within the limit.)
    const Result r = sh("DISPLAY=${DISPLAY:-:0} " + std::string(ZELO_EXE) + " response --preset " + bad.string() +
                        " 2>&1 >/dev/null");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("zelo: Error: Wrong header in preset file."), std::string::npos) << r.out;
}
