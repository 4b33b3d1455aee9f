// zelo render and response with --plugin zelo.clap, against the same runs
// through the VST 2.4 plug-in zelo.so: the same bytes in the output files, the
// same response table, and presets that pass between the two formats.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

struct Outcome {
    int status;
    std::string out;
};

Outcome zelo(const std::string& args) {
    const std::string cmd = std::string(ZELO_EXE) + " " + args + " 2>&1";
    Outcome r{-1, ""};
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// The samples of a sound file, bit for bit (the files' own bytes differ: a
// float WAVE file carries the time it was written).
std::string samples_of(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return "";
    std::string bytes(static_cast<std::size_t>(info.frames * info.channels) * sizeof(float), '\0');
    const sf_count_t got = sf_readf_float(f, reinterpret_cast<float*>(bytes.data()), info.frames);
    sf_close(f);
    return got == info.frames ? bytes : "";
}

// The lines from the response table on (the parameter lines above it are each
// format's own).
std::string table_of(const std::string& out) {
    const std::size_t at = out.find("frequency");
    return at == std::string::npos ? "" : out.substr(at);
}

}  // namespace

TEST(RenderClap, BitIdenticalToTheVstPluginAtThreeSettings) {
    const std::string dir = testing::TempDir();
    // zelo.so shows the VST's 8-character names ("Frequen"); the CLAP plug-in
    // gives the whole ones.
    struct Setting {
        const char *clap, *vst;
    };
    const Setting settings[] = {
        {"--set Frequency=0.5", "--set Frequen=0.5"},
        {"--set Frequency=0.05 --rate 48000 --block 100", "--set Frequen=0.05 --rate 48000 --block 100"},
        {"--set State=0 --set Frequency=0.9 --block 1000", "--set State=0 --set Frequen=0.9 --block 1000"},
    };
    for (const Setting& s : settings) {
        const std::string a = dir + "zelo_clap_out.wav", b = dir + "zelo_vst_out.wav";
        std::remove(a.c_str());
        std::remove(b.c_str());
        const Outcome rc = zelo("render --plugin " ZELO_CLAP_PATH " -o " + a + " " + s.clap);
        const Outcome rv = zelo("render --plugin " ZELO_SO_PATH " -o " + b + " " + s.vst);
        ASSERT_EQ(rc.status, 0) << rc.out;
        ASSERT_EQ(rv.status, 0) << rv.out;
        const std::string ca = samples_of(a), vb = samples_of(b);
        EXPECT_GT(ca.size(), 100000u) << s.clap;
        EXPECT_TRUE(ca == vb) << s.clap;
        std::remove(a.c_str());
        std::remove(b.c_str());
    }
}

TEST(RenderClap, ParametersPresetsAndErrors) {
    const std::string dir = testing::TempDir();
    const std::string out = dir + "zelo_clap_p.wav", preset = dir + "zelo_clap.zelo";
    // The summary lists the plug-in's parameters with their texts.
    Outcome r = zelo("render --plugin " ZELO_CLAP_PATH " -o " + out + " --set frequency=0.5");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Frequency  5015 Hz"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("State      On"), std::string::npos) << r.out;
    r = zelo("render --plugin " ZELO_CLAP_PATH " -o " + out + " --set Loudness=0.5");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("Loudness"), std::string::npos) << r.out;

    // A preset saved through the CLAP plug-in is a preset file the effect built
    // into the program reads (the program reads presets of no VST module), and
    // the two then sound the same.
    r = zelo("render --plugin " ZELO_CLAP_PATH " -o " + out + " --set State=0 --set Frequency=0.3 --save-preset " +
             preset);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string a = dir + "zelo_clap_pa.wav", b = dir + "zelo_clap_pb.wav";
    ASSERT_EQ(zelo("render -o " + a + " --preset " + preset).status, 0);
    r = zelo("render --plugin " ZELO_CLAP_PATH " -o " + b + " --preset " + preset);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("State      Off"), std::string::npos) << r.out;
    EXPECT_FALSE(samples_of(a).empty());
    EXPECT_TRUE(samples_of(a) == samples_of(b));

    // A file that is no state of the plug-in's is refused.
    r = zelo("render --plugin " ZELO_CLAP_PATH " -o " + out + " --preset " + std::string(ZELO_EXE));
    EXPECT_NE(r.status, 0) << r.out;
    // A .clap that is not a CLAP module.
    const std::string fake = dir + "zelo_fake.clap";
    std::ofstream(fake) << "not a module";
    r = zelo("render --plugin " + fake + " -o " + out);
    EXPECT_EQ(r.status, 1) << r.out;
    for (const std::string& f : {out, preset, a, b, fake}) std::remove(f.c_str());
}

TEST(ResponseClap, SameTableAsTheVstPlugin) {
    const Outcome rc = zelo("response --plugin " ZELO_CLAP_PATH " --set Frequency=0.2");
    const Outcome rv = zelo("response --plugin " ZELO_SO_PATH " --set Frequen=0.2");
    ASSERT_EQ(rc.status, 0) << rc.out;
    ASSERT_EQ(rv.status, 0) << rv.out;
    ASSERT_FALSE(table_of(rc.out).empty()) << rc.out;
    EXPECT_EQ(table_of(rc.out), table_of(rv.out));
}
