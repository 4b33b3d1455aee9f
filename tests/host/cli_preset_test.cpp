// Presets and the editor's picture on the command line, run as separate processes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

std::vector<unsigned char> bytes_of(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(PresetCli, SavedSettingsComeBackOnLoad) {
    const std::string f = testing::TempDir() + "zelo_cli.zelo";
    std::remove(f.c_str());
    Outcome r = zelo("response --set State=0 --set Frequency=0.5 --save-preset " + f);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<unsigned char> b = bytes_of(f);
    ASSERT_EQ(b.size(), 31u + 8u);
    // State off, Frequency 10010.0 knob units.
    EXPECT_EQ(std::vector<unsigned char>(b.end() - 8, b.end()),
              (std::vector<unsigned char>{0, 0, 0, 0, 0x00, 0x68, 0x1C, 0x46}));
    // Loaded, the effect is switched off again: flat at every frequency.
    r = zelo("response --preset " + f);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Frequen    5015"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("State      Off"), std::string::npos) << r.out;
    // Settings given after a preset win over it.
    r = zelo("response --preset " + f + " --set State=1");
    EXPECT_NE(r.out.find("State      On"), std::string::npos) << r.out;
    std::remove(f.c_str());
}

TEST(PresetCli, ABadPresetPrintsTheEditorsMessageAndFails) {
    const std::string f = testing::TempDir() + "zelo_cli_bad.zelo";
    {
        std::ofstream o(f, std::ios::binary);
        o << std::string(31 + 8, 'x');  // the right length, not the header
    }
    Outcome r = zelo("render --preset " + f + " -o " + testing::TempDir() + "zelo_never.wav");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("Error"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Wrong header in preset file."), std::string::npos) << r.out;
    r = zelo("response --preset /nonexistent/zelo.zelo");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("Cannot open this file."), std::string::npos) << r.out;
    r = zelo("response --save-preset /nonexistent/dir/zelo.zelo");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("Cannot open preset file."), std::string::npos) << r.out;
    std::remove(f.c_str());
}

TEST(SnapshotCli, WritesTheEditorAsAPng) {
    const std::string f = testing::TempDir() + "zelo_snap.png";
    std::remove(f.c_str());
    Outcome r = zelo("snapshot " + f + " --set Frequency=0.5");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<unsigned char> b = bytes_of(f);
    ASSERT_GT(b.size(), 24u);
    EXPECT_EQ(std::string(b.begin() + 1, b.begin() + 4), "PNG");
    // IHDR: width 200, height 236, big-endian.
    EXPECT_EQ(b[16] << 24 | b[17] << 16 | b[18] << 8 | b[19], 200);
    EXPECT_EQ(b[20] << 24 | b[21] << 16 | b[22] << 8 | b[23], 236);
    EXPECT_EQ(zelo("snapshot").status, 2);
    EXPECT_EQ(zelo("snapshot " + f + " --set Nope=1").status, 1);
    std::remove(f.c_str());
}
