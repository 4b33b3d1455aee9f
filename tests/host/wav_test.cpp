// The WAVE reader and writer the Windows program uses for sound files.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/sound_file.h"
#include "host/sound_wav.h"

namespace {

std::string temp_path(const char* name) {
    return (::testing::TempDir() + name);
}

void put16(std::vector<unsigned char>& b, unsigned v) {
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}
void put32(std::vector<unsigned char>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A PCM file of `bits` with the given raw sample bytes, with a chunk to skip before the data.
std::vector<unsigned char> pcm_file(unsigned channels, unsigned bits, const std::vector<unsigned char>& data) {
    std::vector<unsigned char> b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    put32(b, 16);
    put16(b, 1);
    put16(b, channels);
    put32(b, 8000);
    put32(b, 8000 * channels * bits / 8);
    put16(b, channels * bits / 8);
    put16(b, bits);
    for (char c : std::string("LIST")) b.push_back(static_cast<unsigned char>(c));
    put32(b, 3);
    b.insert(b.end(), {'a', 'b', 'c', 0});  // odd size: a pad byte follows
    for (char c : std::string("data")) b.push_back(static_cast<unsigned char>(c));
    put32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

std::unique_ptr<QZ_Sound_File> open_bytes(const std::vector<unsigned char>& bytes, const char* name) {
    const std::string path = temp_path(name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (!f) return nullptr;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::string error;
    auto s = QZ_sound_open_read(path, &error);
    EXPECT_TRUE(s) << error;
    return s;
}

}  // namespace

TEST(Wav, FloatFileWrittenAndReadBackBitForBit) {
    const std::string path = temp_path("zelo_wav_roundtrip.wav");
    std::string error;
    auto w = QZ_sound_open_write(path, path, 44100, 2, &error);
    ASSERT_TRUE(w) << error;
    const std::vector<float> x = {0.0f, -0.0f, 0.5f, -1.0f, 1.5f, 1e-30f, -0.333333f, 0.25f};
    EXPECT_EQ(w->write(x.data(), 4), 4);
    EXPECT_TRUE(w->close());
    auto r = QZ_sound_open_read(path, &error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->rate, 44100);
    EXPECT_EQ(r->channels, 2);
    EXPECT_EQ(r->frames, 4);
    std::vector<float> y(16, 7.0f);
    EXPECT_EQ(r->read(y.data(), 8), 4);  // no more than there is
    EXPECT_EQ(std::memcmp(x.data(), y.data(), x.size() * sizeof(float)), 0);
    EXPECT_EQ(r->read(y.data(), 8), 0);
    std::remove(path.c_str());
}

// Float samples are no PCM: the fmt chunk says its extension is empty (18
// bytes) and a fact chunk gives the frame count, as readers expect of such files.
TEST(Wav, FloatFilesCarryWhatNonPcmDataNeeds) {
    const std::string path = temp_path("zelo_wav_float_layout.wav");
    // Written under another name than the one that picks the format, as a
    // temporary beside the final file is.
    std::string error;
    auto w = QZ_sound_open_write(path, "final.WAV", 48000, 2, &error);
    ASSERT_TRUE(w) << error;
    const std::vector<float> x = {0.5f, -0.5f, 0.25f, -0.25f, 0.75f, -0.75f};
    ASSERT_EQ(w->write(x.data(), 3), 3);
    ASSERT_TRUE(w->close());
    EXPECT_FALSE(QZ_sound_open_write(path, "final.mp3", 48000, 2, &error));

    std::vector<unsigned char> b;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        unsigned char buf[256];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
        std::fclose(f);
    }
    auto u32 = [&](std::size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24; };
    auto tag = [&](std::size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); };
    ASSERT_EQ(b.size(), 58u + 24u);
    EXPECT_EQ(tag(0), "RIFF");
    EXPECT_EQ(u32(4), b.size() - 8);
    EXPECT_EQ(tag(12), "fmt ");
    EXPECT_EQ(u32(16), 18u);
    EXPECT_EQ(b[20] | b[21] << 8, 3);   // IEEE float
    EXPECT_EQ(b[36] | b[37] << 8, 0);   // no extension
    EXPECT_EQ(tag(38), "fact");
    EXPECT_EQ(u32(42), 4u);
    EXPECT_EQ(u32(46), 3u);  // frames
    EXPECT_EQ(tag(50), "data");
    EXPECT_EQ(u32(54), 24u);

#ifndef _WIN32
    // Another reader takes it without a warning and reads the same samples.
    if (std::system("command -v sox > /dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
    const std::string raw = temp_path("zelo_wav_float_layout.raw");
    const std::string cmd = "sox -V2 '" + path + "' -t raw -e floating-point -b 32 -L '" + raw + "' 2>&1";
    std::string said;
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[512];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) said.append(buf, n);
    EXPECT_EQ(pclose(p), 0) << said;
    EXPECT_EQ(said, "");
    std::vector<float> y(x.size() + 1, 7.0f);
    if (std::FILE* f = std::fopen(raw.c_str(), "rb")) {
        EXPECT_EQ(std::fread(y.data(), sizeof(float), y.size(), f), x.size());
        std::fclose(f);
    }
    EXPECT_EQ(std::memcmp(x.data(), y.data(), x.size() * sizeof(float)), 0);
    std::remove(raw.c_str());
#endif
    std::remove(path.c_str());
}

TEST(Wav, PcmSamplesScaledWithTheirSign) {
    // 24-bit: the most negative, -1 and the largest value, after a chunk to skip.
    auto s24 = open_bytes(pcm_file(1, 24, {0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), "zelo_wav_24.wav");
    ASSERT_TRUE(s24);
    float v[3] = {};
    ASSERT_EQ(s24->read(v, 3), 3);
    EXPECT_EQ(v[0], -1.0f);
    EXPECT_EQ(v[1], static_cast<float>(-1.0 / 8388608.0));
    EXPECT_EQ(v[2], static_cast<float>(8388607.0 / 8388608.0));
    // 16-bit stereo and 8-bit (unsigned, 128 is silence).
    auto s16 = open_bytes(pcm_file(2, 16, {0x00, 0x80, 0x00, 0x40}), "zelo_wav_16.wav");
    ASSERT_TRUE(s16);
    EXPECT_EQ(s16->channels, 2);
    ASSERT_EQ(s16->read(v, 1), 1);
    EXPECT_EQ(v[0], -1.0f);
    EXPECT_EQ(v[1], 0.5f);
    auto s8 = open_bytes(pcm_file(1, 8, {128, 0, 192}), "zelo_wav_8.wav");
    ASSERT_TRUE(s8);
    ASSERT_EQ(s8->read(v, 3), 3);
    EXPECT_EQ(v[0], 0.0f);
    EXPECT_EQ(v[1], -1.0f);
    EXPECT_EQ(v[2], 0.5f);
}

TEST(Wav, DamagedFilesAreRefusedWithAReason) {
    std::string error;
    EXPECT_FALSE(QZ_sound_open_read(temp_path("zelo_wav_missing.wav"), &error));
    EXPECT_FALSE(error.empty());
    // A data size beyond the file: only what is there is read.
    auto cut = pcm_file(1, 16, {1, 0, 2, 0});
    cut[cut.size() - 8] = 0xFF;  // the data chunk claims 255 bytes
    auto s = open_bytes(cut, "zelo_wav_cut.wav");
    ASSERT_TRUE(s);
    float v[200];
    EXPECT_EQ(s->read(v, 200), 2);
    // A chunk whose size no seek can reach ends the walk instead of looping.
    auto huge = pcm_file(1, 16, {1, 0});
    huge[40] = huge[41] = huge[42] = 0xF0;
    huge[43] = 0xFF;  // the LIST chunk's size: 0xFFF0F0F0
    const std::string path = temp_path("zelo_wav_huge.wav");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(huge.data(), 1, huge.size(), f);
    std::fclose(f);
    error.clear();
    EXPECT_FALSE(QZ_sound_open_read(path, &error));
    EXPECT_EQ(error, "damaged chunk");
}
