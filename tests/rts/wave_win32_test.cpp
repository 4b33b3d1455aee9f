// The wave-device driver on the system's own wave functions (winmm), device 0.
// Under wine the test's environment makes ALSA's null PCM the default device
// (ALSA_CONFIG_PATH), and wine's ALSA driver offers it as one wave-in and one
// wave-out device that take every PCM format and run on wine's own clock.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include "rts/mme.h"

namespace {

std::atomic<int> g_blocks{0};
std::atomic<int> g_on_client_thread{0};
std::atomic<int> g_sent{0};        // blocks whose output the driver sends (two or more headers free)
std::atomic<unsigned> g_inputs{0}; // one bit per input buffer a block was recorded into
std::atomic<bool> g_bad_pointer{false};
DWORD g_client_thread = 0;

// The block callback: notes which buffers the driver handed over and how many
// output headers the device has given back, then copies the left input into
// every output as a host would.
void block() {
    g_blocks.fetch_add(1);
    if (GetCurrentThreadId() == g_client_thread) g_on_client_thread.fetch_add(1);
    auto* d = static_cast<QZ_Rts_Win32*>(QZ_Rts::instanceAt(0));
    QZ_Rts::Chan* left = QZ_Rts::chanAt(d->inputs, 0);
    int in = -1;
    for (int i = 0; i < QZ_Rts_Win32::BUFFERS; ++i)
        if (left->data == d->inBuffers[i]) in = i;
    if (in < 0) g_bad_pointer = true;
    else g_inputs.fetch_or(1u << in);
    int idle = 0;
    for (const QZ_Wave_Header& h : d->outHeaders)
        if (h.flags.load() & QZ_WHDR_DONE) ++idle;
    if (idle >= 2) g_sent.fetch_add(1);
    for (QZ_Chain_Item* it = d->outputs.first(); it != d->outputs.end(); it = it->next)
        QZ_Rts::copyBuffer(QZ_Rts::Chan::of(it), left);
}

// At least `blocks` blocks and 150 ms: wine's null devices keep clocks of their
// own, recording faster than playing, so output headers come back at their pace.
bool wait_for(int blocks) {
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::seconds(10);
    while ((g_blocks.load() < blocks || std::chrono::steady_clock::now() < start + std::chrono::milliseconds(150)) &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return g_blocks.load() >= blocks;
}

// The format the driver's probe asks for, as a format query the device answers
// without opening.
bool device_takes(bool input, int rate, int bits, int channels) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<WORD>(channels);
    f.nSamplesPerSec = static_cast<DWORD>(rate);
    f.wBitsPerSample = static_cast<WORD>(bits);
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    const DWORD flags = WAVE_FORMAT_QUERY | WAVE_MAPPED | WAVE_FORMAT_DIRECT;
    return input ? waveInOpen(nullptr, 0, &f, 0, 0, flags) == MMSYSERR_NOERROR
                 : waveOutOpen(nullptr, 0, &f, 0, 0, flags) == MMSYSERR_NOERROR;
}

}  // namespace

// Output headers go out as the driver sends them: marked as a loop played once.
// Every one of them must come back, the last included, or the driver runs out
// of free headers.
TEST(RtsWinmm, OutputHeadersMarkedAsOnePassLoopsAllComeBack) {
    QZ_Wave_Device* dev = QZ_wave_platform_device();
    QZ_Wave_Format f;
    f.channels = 2;
    f.samplesPerSec = 48000;
    f.bitsPerSample = 16;
    f.blockAlign = 4;
    f.avgBytesPerSec = 48000 * 4;
    QZ_Wave_Handle h = 0;
    ASSERT_EQ(dev->outOpen(&h, 0, &f, nullptr, 0, QZ_WAVE_MAPPED | QZ_WAVE_FORMAT_DIRECT), QZ_WAVE_OK);
    static char data[4][480 * 4];
    QZ_Wave_Header hdrs[4];
    for (int i = 0; i < 4; ++i) {
        hdrs[i].data = data[i];
        hdrs[i].bufferLength = sizeof data[i];
        hdrs[i].flags.store(QZ_WHDR_BEGINLOOP | QZ_WHDR_ENDLOOP);
        hdrs[i].loops = 1;
        ASSERT_EQ(dev->outPrepareHeader(h, &hdrs[i]), QZ_WAVE_OK);
        ASSERT_EQ(dev->outWrite(h, &hdrs[i]), QZ_WAVE_OK);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int done = 0;
    while (std::chrono::steady_clock::now() < until) {
        done = 0;
        for (const QZ_Wave_Header& x : hdrs) done += (x.flags.load() & QZ_WHDR_DONE) ? 1 : 0;
        if (done == 4) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(done, 4) << "40 ms of sound still held after 2 s";
    EXPECT_EQ(dev->outReset(h), QZ_WAVE_OK);
    for (QZ_Wave_Header& x : hdrs) EXPECT_EQ(dev->outUnprepareHeader(h, &x), QZ_WAVE_OK);
    EXPECT_EQ(dev->outClose(h), QZ_WAVE_OK);
}

TEST(RtsWinmm, DeviceZeroOffersModesRunsBlocksAndStops) {
    // Without a default sound device wine lists no wave device at all.
    ASSERT_GE(waveInGetNumDevs(), 1u) << "no wave-in device (under wine: ALSA_CONFIG_PATH, and "
                                         "HKCU\\Software\\Wine\\Drivers Audio=alsa)";
    ASSERT_GE(waveOutGetNumDevs(), 1u);
    WAVEINCAPSA ic{};
    WAVEOUTCAPSA oc{};
    ASSERT_EQ(waveInGetDevCapsA(0, &ic, sizeof ic), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutGetDevCapsA(0, &oc, sizeof oc), MMSYSERR_NOERROR);
    std::printf("wave-in 0: \"%s\", %u channels; wave-out 0: \"%s\", %u channels\n", ic.szPname,
                unsigned{ic.wChannels}, oc.szPname, unsigned{oc.wChannels});

    g_client_thread = GetCurrentThreadId();
    ASSERT_EQ(QZ_Rts_Win32::classInit(&block), QZ_OK);
    auto* d = static_cast<QZ_Rts_Win32*>(QZ_Rts::instanceAt(0));
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->name, "Windows");
    ASSERT_EQ(d->init(), QZ_OK);
    ASSERT_GT(d->modes.count, 0) << "device 0 took no format";
    // Every mode offered is one the device says it takes, input stereo and output
    // with the mode's channels; and nothing stays open after the probe.
    for (QZ_Chain_Item* it = d->modes.first(); it != d->modes.end(); it = it->next) {
        const QZ_Rts::Mode* m = QZ_Rts::Mode::of(it);
        EXPECT_TRUE(device_takes(true, m->rate, m->bits, 2)) << m->name;
        EXPECT_TRUE(device_takes(false, m->rate, m->bits, m->channels)) << m->name;
    }
    EXPECT_EQ(d->waveIn, 0u);
    EXPECT_EQ(d->waveOut, 0u);
    std::printf("%d modes, the first \"%s\"\n", d->modes.count, QZ_Rts::modeAt(d->modes, 0)->name);

    // The first mode, the last, and one between: widest, narrowest and a middle one.
    const int count = d->modes.count;
    std::set<int> picks{0, count / 2, count - 1};
    for (int n : picks) {
        QZ_Rts::Mode* m = QZ_Rts::modeAt(d->modes, n);
        g_blocks = g_on_client_thread = g_sent = 0;
        g_inputs = 0;
        g_bad_pointer = false;
        const auto t_start = std::chrono::steady_clock::now();
        ASSERT_EQ(d->mode(m), QZ_OK) << m->name;
        EXPECT_NE(d->waveIn, 0u);
        EXPECT_NE(d->waveOut, 0u);
        // Eight buffers each way: more than eight blocks, and more than eight sent
        // outputs, happen only when the device hands buffers back and the driver
        // queues them again.
        ASSERT_TRUE(wait_for(30)) << m->name << ": " << g_blocks.load() << " blocks in 10 s";
        // On a busy machine the device hands the output buffers back late, so
        // the sends can trail the blocks: wait for them too (they never come
        // only when buffers are not queued again).
        for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
             g_sent.load() <= QZ_Rts_Win32::BUFFERS && std::chrono::steady_clock::now() < until;)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const auto t0 = std::chrono::steady_clock::now();
        const auto run_ms = std::chrono::duration_cast<std::chrono::milliseconds>(t0 - t_start).count();
        ASSERT_EQ(d->free(), QZ_OK) << m->name;
        const auto stop_ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        const int blocks = g_blocks.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(g_blocks.load(), blocks) << m->name << ": a block after the stop";
        std::printf("%s: %d blocks in %lld ms, %d sent, stop in %lld ms\n", m->name, blocks,
                    static_cast<long long>(run_ms), g_sent.load(), static_cast<long long>(stop_ms));

        EXPECT_EQ(g_on_client_thread.load(), 0) << m->name;
        EXPECT_FALSE(g_bad_pointer.load()) << m->name;
        EXPECT_EQ(g_inputs.load(), 0xFFu) << m->name << ": every input buffer records in turn";
        EXPECT_GT(g_sent.load(), QZ_Rts_Win32::BUFFERS) << m->name;
        // The drain saw all eight input buffers come back (a stop that waited out
        // its ten seconds would mean it did not).
        EXPECT_LT(stop_ms, 2000) << m->name;
        EXPECT_EQ(d->waveIn, 0u);
        EXPECT_EQ(d->waveOut, 0u);
        EXPECT_EQ(d->current.load(), nullptr);
        EXPECT_EQ(d->outputs.count, 0);
        EXPECT_EQ(d->outBuffers[0], nullptr);
        for (const QZ_Wave_Header& h : d->inHeaders)
            EXPECT_EQ(h.flags.load() & (QZ_WHDR_INQUEUE | QZ_WHDR_PREPARED), 0u) << m->name;
    }
    EXPECT_EQ(d->exit(), QZ_OK);
    QZ_Rts_Win32::classExit();
    EXPECT_EQ(QZ_Rts_instances.count, 0);
}
