// The zelo program's modes, run as separate processes.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Result {
    int status;
    std::string out;
};

Result run(const std::string& args, const std::string& input = "") {
    std::string cmd = std::string(ZELO_EXE) + " " + args + " 2>&1";
    if (!input.empty()) cmd = "printf '%s' '" + input + "' | " + cmd;
    Result r{-1, ""};
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// "  1000 Hz  -3.01 dB" lines of the response table.
std::map<int, double> gains(const std::string& out) {
    std::map<int, double> g;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        int f;
        double db;
        if (std::sscanf(line.c_str(), " %d Hz %lf dB", &f, &db) == 2) g[f] = db;
    }
    return g;
}

}  // namespace

// Gain in dB of the sampled first-order low-pass y += a (x - y), a = w / (w + fs),
// w = 2 pi fc, at the frequency f.
double model_db(double fc, double f, double fs = 44100.0) {
    const double pi = 3.14159265358979323846;
    double w = 2 * pi * fc, a = w / (w + fs), b = 1 - a, om = 2 * pi * f / fs;
    double re = 1 - b * std::cos(om), im = b * std::sin(om);
    return 20 * std::log10(a / std::sqrt(re * re + im * im));
}

TEST(Response, MatchesTheFilterAtEachKnobSetting) {
    // Default knob 1500.0 of 20..20000 gives a cutoff of 20 + 19980 t^2 with t = 1480/19980.
    const double t = 1480.0 / 19980.0;
    struct Case {
        const char* args;
        double fc;
    } cases[] = {{"response", 20 + 19980 * t * t},
                 {"response --set Frequency=0.5", 5015.0},
                 {"response --set Frequency=1", 20000.0},
                 {"response --set Frequency=0", 20.0}};
    for (const Case& c : cases) {
        Result r = run(c.args);
        ASSERT_EQ(r.status, 0) << r.out;
        auto g = gains(r.out);
        ASSERT_EQ(g.size(), 11u) << r.out;
        for (auto [f, db] : g) EXPECT_NEAR(db, model_db(c.fc, f), 0.05) << c.args << " at " << f << " Hz";
        // The reported -3 dB point is the model's to within a per cent (the
        // ladder's steps are an octave or more apart, so interpolating them is not).
        std::size_t at = r.out.find("-3 dB at about ");
        if (c.fc < 15000 && c.fc > 20) {
            ASSERT_NE(at, std::string::npos) << r.out;
            const double corner = std::atof(r.out.c_str() + at + 15);
            double lo = 20, hi = 20000;
            for (int i = 0; i < 60; ++i) (model_db(c.fc, std::sqrt(lo * hi)) > -3.0 ? lo : hi) = std::sqrt(lo * hi);
            EXPECT_NEAR(corner, lo, 0.01 * lo + 0.5) << r.out;
        }
    }
    // Switched off: flat.
    Result r = run("response --set State=0 --set Frequency=0");
    ASSERT_EQ(r.status, 0) << r.out;
    for (auto [f, db] : gains(r.out)) EXPECT_NEAR(db, 0.0, 0.01) << f;
}

TEST(Response, BadArgumentsAreRefused) {
    EXPECT_EQ(run("response --set Nope=0.5").status, 1);
    EXPECT_EQ(run("response --set Frequency=2").status, 2);
    EXPECT_EQ(run("response --set Frequency=nan").status, 2);
    EXPECT_EQ(run("response --rate").status, 2);
    EXPECT_EQ(run("response --plugin /nonexistent/x.so").status, 1);
    EXPECT_EQ(run("frobnicate").status, 2);
}

TEST(Render, FileRoundTrip) {
    std::string in = testing::TempDir() + "zelo_in.wav", out = testing::TempDir() + "zelo_out.wav";
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(in.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<short> frames(2 * 4800);
    for (std::size_t i = 0; i < 4800; ++i) frames[2 * i] = frames[2 * i + 1] = (i / 100) % 2 ? 16000 : -16000;
    sf_writef_short(f, frames.data(), 4800);
    sf_close(f);

    Result r = run("render " + in + " -o " + out + " --set Frequency=0.2 --block 333");
    ASSERT_EQ(r.status, 0) << r.out;
    SF_INFO oi{};
    f = sf_open(out.c_str(), SFM_READ, &oi);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(oi.samplerate, 48000);
    EXPECT_EQ(oi.channels, 2);
    ASSERT_EQ(oi.frames, 4800);
    std::vector<float> o(2 * 4800);
    sf_readf_float(f, o.data(), 4800);
    sf_close(f);
    double peak = 0;
    for (std::size_t i = 0; i < 4800; ++i) {
        ASSERT_EQ(o[2 * i], o[2 * i + 1]);  // both outputs identical
        peak = std::max(peak, std::fabs(double(o[2 * i])));
    }
    // A square wave through a low-pass stays below the input's level and is not silent.
    EXPECT_GT(peak, 0.05);
    EXPECT_LE(peak, 16000.0 / 32768.0 + 1e-3);

    EXPECT_EQ(run("render /nonexistent.wav -o " + out).status, 1);
    std::remove(in.c_str());
    std::remove(out.c_str());
}

TEST(Render, NamesErrorsAndSummary) {
    const std::string out = testing::TempDir() + "zelo_names.wav";
    // The full name and the short one a host shows, in any case, reach the same parameter.
    Result full = run("render -o " + out + " --set Frequency=0.25");
    Result shown = run("render -o " + out + " --set frequen=0.25");
    ASSERT_EQ(full.status, 0) << full.out;
    ASSERT_EQ(shown.status, 0) << shown.out;
    for (const Result* r : {&full, &shown}) {
        // The host display shows the cutoff in whole hertz: knob 5015 gives 1268.75 Hz.
        EXPECT_NE(r->out.find("Frequen    1269"), std::string::npos) << r->out;
        EXPECT_NE(r->out.find("rendered 4.00 s of sound at 44100 Hz"), std::string::npos) << r->out;
    }
    // A name that merely starts like one is not taken for it.
    Result partial = run("render -o " + out + " --set Freq=0.25");
    EXPECT_EQ(partial.status, 1);
    EXPECT_NE(partial.out.find("no parameter 'Freq'"), std::string::npos) << partial.out;
    // Unsupported formats and unreadable files fail with a reason, not a crash.
    Result mp3 = run("render -o " + testing::TempDir() + "x.mp3");
    EXPECT_EQ(mp3.status, 2);
    EXPECT_NE(mp3.out.find("unsupported format"), std::string::npos) << mp3.out;
    Result text = run("render /etc/hostname -o " + out);
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find("cannot read /etc/hostname"), std::string::npos) << text.out;
    Result dir = run("render / -o " + out);
    EXPECT_EQ(dir.status, 1);
    EXPECT_EQ(run("render --plugin /etc/hostname -o " + out).status, 1);
    std::remove(out.c_str());
}

// A third-party VST 2.4 plug-in from Debian's packages, when one is installed.
TEST(Render, ThirdPartyPlugin) {
    const char* candidates[] = {"/usr/lib/vst/dpf-plugins/3BandEQ-vst.so", "/usr/lib/vst/3BandEQ-vst.so",
                                "/usr/lib/vst/dpf-plugins/AmplitudeImposer-vst.so"};
    std::string path;
    for (const char* c : candidates)
        if (FILE* f = std::fopen(c, "rb")) {
            std::fclose(f);
            path = c;
            break;
        }
    if (path.empty()) GTEST_SKIP() << "no third-party VST 2.4 plug-in installed (dpf-plugins-vst)";
    const std::string out = testing::TempDir() + "zelo_third.wav";
    Result r = run("render --plugin " + path + " -o " + out);
    ASSERT_EQ(r.status, 0) << r.out;
    SF_INFO oi{};
    SNDFILE* f = sf_open(out.c_str(), SFM_READ, &oi);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(oi.frames, 4 * 44100);
    std::vector<float> o(2 * static_cast<std::size_t>(oi.frames));
    sf_readf_float(f, o.data(), oi.frames);
    sf_close(f);
    double energy = 0;
    for (float v : o) energy += double(v) * v;
    EXPECT_GT(energy, 1.0);  // the sweep came through
    std::remove(out.c_str());
}

TEST(Response, PlotIsWritten) {
    const std::string png = testing::TempDir() + "zelo_plot.png";
    std::remove(png.c_str());
    Result r = run("response --set Frequency=0.5 --plot " + png);
    ASSERT_EQ(r.status, 0) << r.out;
    FILE* f = std::fopen(png.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    unsigned char head[24] = {};
    ASSERT_EQ(std::fread(head, 1, sizeof head, f), sizeof head);
    std::fclose(f);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(head) + 1, 3), "PNG");
    EXPECT_EQ(head[16] << 24 | head[17] << 16 | head[18] << 8 | head[19], 800);  // width
    EXPECT_EQ(run("response --plot /nonexistent/dir/x.png").status, 1);
    std::remove(png.c_str());
}

TEST(Run, DriverErrorsAreReported) {
    Result none = run("run --driver no-such-driver --seconds 1");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.out.find("no driver 'no-such-driver'"), std::string::npos) << none.out;
    EXPECT_EQ(run("run").status, 2);
    EXPECT_EQ(run("run --driver x --instances 33").status, 2);
    Result list = run("run --list");
    EXPECT_TRUE(list.status == 0 || list.out.find("No audio drivers found") != std::string::npos) << list.out;
}

TEST(Console, RunsCommandsAndReportsErrors) {
    Result r = run("cmd", "QZ_Soundpipe -bl 64 -b\nQZ_Buffer -t x -l\nQZ_Foo\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(" 64\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("spcpp: command 'QZ_Foo' not found"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("error: Command not found"), std::string::npos) << r.out;
    r = run("cmd \"QZ_Effect_Lopass -f 440.7 -f\"");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(" 440\n"), std::string::npos) << r.out;
    r = run("cmd \"QZ_Effect_Lopass -f %f\"");  // a placeholder has no argument here
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("placeholders"), std::string::npos) << r.out;
}

// The modes the overview lists, in its order.
std::vector<std::string> listed_modes(const std::string& overview) {
    std::vector<std::string> modes;
    std::istringstream in(overview);
    std::string line;
    while (std::getline(in, line)) {
        // "  NAME ..." at two blanks; the summaries sit further in.
        if (line.size() > 2 && line.compare(0, 2, "  ") == 0 && line[2] != ' ' && line[2] != '-') {
            std::string name = line.substr(2, line.find(' ', 2) - 2);
            if (name != "help") modes.push_back(name);
        }
    }
    return modes;
}

TEST(Help, VersionIsTheProjectVersion) {
    for (const char* flag : {"--version", "-V"}) {
        Result r = run(flag);
        EXPECT_EQ(r.status, 0) << flag;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), std::string("zelo ") + ZELO_PROJECT_VERSION) << flag;
        EXPECT_NE(r.out.find("ISC licence"), std::string::npos) << r.out;
    }
}

TEST(Help, EveryListedModeExistsAndHasItsOwnPage) {
    Result overview = run("--help");
    ASSERT_EQ(overview.status, 0);
    EXPECT_EQ(run("help").out, overview.out);
    const std::vector<std::string> modes = listed_modes(overview.out);
    // This program has every mode: the sound-file ones, the editor's and the live ones.
    EXPECT_EQ(modes, (std::vector<std::string>{"response", "render", "snapshot", "host", "run", "drivers", "cmd"}));
    for (const std::string& m : modes) {
        Result page = run("help " + m);
        EXPECT_EQ(page.status, 0) << m;
        EXPECT_EQ(page.out.rfind("usage: zelo " + m, 0), 0u) << page.out;
        EXPECT_GT(std::count(page.out.begin(), page.out.end(), '\n'), 2) << page.out;
        EXPECT_EQ(run(m + " --help").out, page.out) << m;
        // The mode is dispatched: a wrong argument is its own complaint, not an unknown mode.
        Result wrong = run(m + " --no-such-option");
        EXPECT_EQ(wrong.out.find("unknown mode"), std::string::npos) << m << ": " << wrong.out;
    }
}

TEST(Help, UnknownModesAreErrors) {
    Result r = run("help no-such-mode");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("no mode 'no-such-mode'"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("usage: zelo [MODE]"), std::string::npos) << r.out;
    r = run("no-such-mode --help");
    EXPECT_EQ(r.status, 2);
    r = run("no-such-mode");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("unknown mode 'no-such-mode'"), std::string::npos) << r.out;
}
