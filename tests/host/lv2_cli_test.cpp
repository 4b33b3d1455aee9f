// The LV2 plug-in from the command line, by the LV2 tools and by zelo itself:
// lv2apply with frequency 5015 and `zelo render --plugin` of the bundle give
// the very samples `zelo render --set Frequency=0.5` gives through zelo.so.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef ZELO_TOOL_ENV
#define ZELO_TOOL_ENV ""
#endif

namespace {

std::string temp_dir() {
    static std::string dir = [] {
        char t[] = "/tmp/zelo-lv2-cli-XXXXXX";
        return std::string(mkdtemp(t) ? t : "/tmp");
    }();
    return dir;
}

struct Outcome {
    int status = -1;
    std::string out;
};

Outcome run(const std::string& command) {
    Outcome o;
    const std::string full = command + " 2>&1";
    FILE* p = popen(full.c_str(), "r");
    if (!p) return o;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) o.out.append(buf, n);
    const int st = pclose(p);
    o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return o;
}

bool on_path(const char* tool) { return run(std::string("command -v ") + tool).status == 0; }

// A mono float file: a sweep, noise and steps beyond full scale.
std::string write_input() {
    const std::string path = temp_dir() + "/in.wav";
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return {};
    std::vector<float> x(30000);
    std::uint32_t seed = 99;
    for (std::size_t i = 0; i < x.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double t = static_cast<double>(i) / 44100.0;
        double v = 0.5 * std::sin(2 * 3.14159265358979 * (30 + 9000 * t) * t) +
                   0.2 * (static_cast<double>(seed >> 8) / 16777216.0 - 0.5);
        if ((i / 900) % 7 == 6) v = (i / 450) % 2 ? 1.25 : -1.1;
        x[i] = static_cast<float>(v);
    }
    sf_write_float(f, x.data(), static_cast<sf_count_t>(x.size()));
    sf_close(f);
    return path;
}

// Every sample of every channel, as written.
std::vector<float> read_all(const std::string& path, int* channels) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<float> s(static_cast<std::size_t>(info.frames * info.channels));
    sf_read_float(f, s.data(), static_cast<sf_count_t>(s.size()));
    sf_close(f);
    *channels = info.channels;
    return s;
}

// Compares bit patterns: the same float, not merely a close one.
::testing::AssertionResult bit_identical(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return ::testing::AssertionFailure() << a.size() << " vs " << b.size() << " samples";
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
            return ::testing::AssertionFailure() << "sample " << i << ": " << a[i] << " vs " << b[i];
    return ::testing::AssertionSuccess();
}

std::string lv2_path() {
    std::string dir = ZELO_LV2_BUNDLE;
    return dir.substr(0, dir.rfind('/'));
}

}  // namespace

TEST(Lv2Cli, Lv2applyAt5015HzEqualsZeloRenderOfTheVstPluginAtOneHalf) {
    if (!on_path("lv2apply")) GTEST_SKIP() << "no lv2apply (Debian lilv-utils)";
    const std::string in = write_input();
    ASSERT_FALSE(in.empty());
    const std::string vst = temp_dir() + "/vst.wav", lv2 = temp_dir() + "/lv2.wav";
    Outcome r = run(std::string("ZELO_VST_TRACE=0 ") + ZELO_EXE + " render " + in + " -o " + vst +
                    " --plugin " + ZELO_SO_PATH + " --set Frequen=0.5");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Frequen    5015"), std::string::npos) << r.out;
    r = run(ZELO_TOOL_ENV "LV2_PATH=" + lv2_path() + " lv2apply -i " + in + " -o " + lv2 + " -c frequency 5015 " ZELO_LV2_URI);
    ASSERT_EQ(r.status, 0) << r.out;

    int vc = 0, lc = 0;
    const std::vector<float> v = read_all(vst, &vc), l = read_all(lv2, &lc);
    ASSERT_EQ(vc, 2);
    ASSERT_EQ(lc, 2);
    ASSERT_EQ(v.size(), 60000u);
    EXPECT_TRUE(bit_identical(v, l));
    // And the filter did filter: the output is not the input.
    int ic = 0;
    const std::vector<float> x = read_all(in, &ic);
    double diff = 0;
    for (std::size_t i = 0; i < x.size(); ++i) diff += std::fabs(x[i] - v[2 * i]);
    EXPECT_GT(diff, 10.0);
}

TEST(Lv2Cli, ZeloRendersTheBundleAndFindsItByUri) {
    const std::string in = write_input();
    ASSERT_FALSE(in.empty());
    const std::string vst = temp_dir() + "/vst2.wav", by_bundle = temp_dir() + "/b.wav",
                      by_uri = temp_dir() + "/u.wav";
    Outcome r = run(std::string("ZELO_VST_TRACE=0 ") + ZELO_EXE + " render " + in + " -o " + vst +
                    " --set State=1 --set Frequency=0.5");
    ASSERT_EQ(r.status, 0) << r.out;
    r = run(std::string(ZELO_EXE) + " render " + in + " -o " + by_bundle + " --plugin " ZELO_LV2_BUNDLE +
            " --set frequency=5015 --set State=1");
    ASSERT_EQ(r.status, 0) << r.out;
    // The ports as they are shown: symbol, value, unit.
    EXPECT_NE(r.out.find("frequency  5015       Hz"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("state      on"), std::string::npos) << r.out;
    r = run("LV2_PATH=" + lv2_path() + " " + ZELO_EXE + " render " + in + " -o " + by_uri +
            " --plugin " ZELO_LV2_URI " --set Frequency=5015");
    ASSERT_EQ(r.status, 0) << r.out;
    int c = 0;
    const std::vector<float> v = read_all(vst, &c), b = read_all(by_bundle, &c), u = read_all(by_uri, &c);
    EXPECT_TRUE(bit_identical(v, b));
    EXPECT_TRUE(bit_identical(v, u));
}

TEST(Lv2Cli, PresetsByNameAndValuesInTheirUnits) {
    const std::string in = write_input();
    const std::string a = temp_dir() + "/a.wav", b = temp_dir() + "/b2.wav";
    Outcome r = run(std::string(ZELO_EXE) + " render " + in + " -o " + a + " --plugin " ZELO_LV2_BUNDLE +
                    " --preset 'Warm (800 Hz)'");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("frequency  800"), std::string::npos) << r.out;
    r = run(std::string(ZELO_EXE) + " render " + in + " -o " + b + " --plugin " ZELO_LV2_BUNDLE +
            " --set frequency=800");
    ASSERT_EQ(r.status, 0) << r.out;
    int c = 0;
    EXPECT_TRUE(bit_identical(read_all(a, &c), read_all(b, &c)));

    // Out of the port's range, an unknown preset, an unknown plug-in.
    r = run(std::string(ZELO_EXE) + " render " + in + " -o " + b + " --plugin " ZELO_LV2_BUNDLE +
            " --set frequency=5");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("frequency wants 20..20000 Hz, not 5"), std::string::npos) << r.out;
    r = run(std::string(ZELO_EXE) + " render " + in + " -o " + b + " --plugin " ZELO_LV2_BUNDLE +
            " --preset Nope");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Gentle (5 kHz)"), std::string::npos) << r.out;
    r = run("LV2_PATH=" + lv2_path() + " " + ZELO_EXE + " render " + in + " -o " + b +
            " --plugin https://zelo.audio/plugins/none");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("no LV2 plug-in https://zelo.audio/plugins/none"), std::string::npos) << r.out;
    // A VST plug-in's values stay 0..1.
    r = run(std::string(ZELO_EXE) + " render " + in + " -o " + b + " --set Frequency=800");
    EXPECT_EQ(r.status, 2);
}
