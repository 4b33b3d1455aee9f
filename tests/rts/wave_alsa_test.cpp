// The ALSA wave device against ALSA's null PCM, made the "default" device by a
// configuration of the test's own. The null PCM keeps no time (reads and writes
// return at once), so this checks the data path, the thread and the stop, not
// timing.
#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "rts/mme.h"
#include "rts/wave_alsa.h"

namespace {

std::atomic<int> g_blocks{0};
std::atomic<int> g_foreign{0};
std::thread::id g_main;

void block() {
    g_blocks.fetch_add(1);
    if (std::this_thread::get_id() != g_main) g_foreign.fetch_add(1);
    QZ_Rts* d = QZ_Rts::instanceAt(0);
    QZ_Rts::Chan* left = QZ_Rts::chanAt(d->inputs, 0);
    for (QZ_Chain_Item* it = d->outputs.first(); it != d->outputs.end(); it = it->next)
        QZ_Rts::copyBuffer(QZ_Rts::Chan::of(it), left);
}

// "default" becomes the null PCM for this process.
void use_null_default() {
    static bool done = false;
    if (done) return;
    done = true;
    const std::string conf = ::testing::TempDir() + "zelo-null-asound.conf";
    if (FILE* f = std::fopen(conf.c_str(), "w")) {
        std::fputs("pcm.!default { type null }\nctl.!default { type hw card 0 }\n", f);
        std::fclose(f);
    }
    const std::string path = "/usr/share/alsa/alsa.conf:" + conf;
    setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    snd_config_update_free_global();
}

bool wait_for(int blocks) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (g_blocks.load() < blocks && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return g_blocks.load() >= blocks;
}

}  // namespace

TEST(RtsAlsaThreads, DefaultDeviceRunsBlocksOnItsOwnThreadAndStops) {
    use_null_default();
    g_main = std::this_thread::get_id();
    ASSERT_EQ(QZ_Rts_Win32::classInit(&block), QZ_OK);
    QZ_Rts* d = QZ_Rts::instanceAt(0);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->name, "ALSA");
    ASSERT_EQ(d->init(), QZ_OK);
    // The null PCM takes every format: three widths, four rates, two channel counts.
    ASSERT_EQ(d->modes.count, 24);
    EXPECT_STREQ(QZ_Rts::modeAt(d->modes, 0)->name, " 48.0 kHz, 32 bit, quadro");
    for (int n : {1, 9, 16, 23}) {  // each width, stereo and quadro, 48 and 44.1 kHz
        QZ_Rts::Mode* m = QZ_Rts::modeAt(d->modes, n);
        ASSERT_NE(m, nullptr);
        g_blocks = 0;
        g_foreign = 0;
        ASSERT_EQ(d->mode(m), QZ_OK) << m->name;
        ASSERT_TRUE(wait_for(50)) << m->name;
        ASSERT_EQ(d->free(), QZ_OK) << m->name;
        const int blocks = g_blocks.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(g_blocks.load(), blocks) << m->name;
        EXPECT_EQ(g_foreign.load(), blocks) << m->name;  // every block on the device's thread
        EXPECT_EQ(d->current.load(), nullptr);
        EXPECT_EQ(d->outputs.count, 0);
    }
    EXPECT_EQ(d->exit(), QZ_OK);
    QZ_Rts_Win32::classExit();
    EXPECT_EQ(QZ_Rts_instances.count, 0);
}

TEST(RtsAlsaThreads, NamedDeviceAndRefusedFormats) {
    QZ_Wave_Device* dev = QZ_wave_alsa_device("null");
    ASSERT_NE(dev, nullptr);
    QZ_Wave_Format f;
    f.channels = 2;
    f.samplesPerSec = 48000;
    f.bitsPerSample = 12;  // no such sample width
    f.blockAlign = 3;
    QZ_Wave_Handle h = 0;
    EXPECT_NE(dev->inOpen(&h, 0, &f, nullptr, 0, 0), QZ_WAVE_OK);
    EXPECT_EQ(h, 0u);
    f.bitsPerSample = 24;
    f.blockAlign = 6;
    ASSERT_EQ(dev->inOpen(&h, 0, &f, nullptr, 0, 0), QZ_WAVE_OK);
    // An unprepared header is not queued; a queued one keeps the device from closing.
    char data[6 * 480];
    QZ_Wave_Header hdr;
    hdr.data = data;
    hdr.bufferLength = sizeof data;
    EXPECT_NE(dev->inAddBuffer(h, &hdr), QZ_WAVE_OK);
    ASSERT_EQ(dev->inPrepareHeader(h, &hdr), QZ_WAVE_OK);
    ASSERT_EQ(dev->inAddBuffer(h, &hdr), QZ_WAVE_OK);
    EXPECT_EQ(dev->inUnprepareHeader(h, &hdr), QZ_WAVE_STILLPLAYING);
    EXPECT_EQ(dev->inClose(h), QZ_WAVE_STILLPLAYING);
    EXPECT_EQ(dev->inReset(h), QZ_WAVE_OK);
    EXPECT_TRUE(hdr.flags.load() & QZ_WHDR_DONE);
    EXPECT_EQ(dev->inUnprepareHeader(h, &hdr), QZ_WAVE_OK);
    EXPECT_EQ(dev->inClose(h), QZ_WAVE_OK);
    delete dev;
    QZ_Wave_Device* missing = QZ_wave_alsa_device("zelo_no_such_pcm");
    f.bitsPerSample = 16;
    f.blockAlign = 4;
    EXPECT_NE(missing->inOpen(&h, 0, &f, nullptr, 0, 0), QZ_WAVE_OK);
    delete missing;
}
