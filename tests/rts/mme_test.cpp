// The wave-device driver on the simulated device: probing, the first blocks, the
// free-header rule, stopping, and failures.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "rts/mme.h"
#include "wave_sim.h"

namespace {

std::atomic<int> g_blocks{0};
std::atomic<bool> g_copy{true};

// The block callback: the left input, converted, into every output channel.
void copy_left() {
    g_blocks.fetch_add(1);
    QZ_Rts* d = QZ_Rts::instanceAt(0);
    if (!d || !g_copy.load()) return;
    QZ_Rts::Chan* left = QZ_Rts::chanAt(d->inputs, 0);
    for (QZ_Chain_Item* it = d->outputs.first(); it != d->outputs.end(); it = it->next)
        QZ_Rts::copyBuffer(QZ_Rts::Chan::of(it), left);
}

struct Driver : ::testing::Test {
    Sim_Wave sim;
    QZ_Rts_Win32* d = nullptr;
    void SetUp() override {
        g_blocks = 0;
        g_copy = true;
        ASSERT_EQ(QZ_Rts_Win32::classInit(&copy_left, &sim, "Sim"), QZ_OK);
        d = static_cast<QZ_Rts_Win32*>(QZ_Rts::instanceAt(0));
        ASSERT_NE(d, nullptr);
    }
    void TearDown() override { QZ_Rts_Win32::classExit(); }

    QZ_Rts::Mode* find(int rate, int bits, int channels) {
        for (QZ_Chain_Item* it = d->modes.first(); it != d->modes.end(); it = it->next) {
            QZ_Rts::Mode* m = QZ_Rts::Mode::of(it);
            if (m->rate == rate && m->bits == bits && m->channels == channels) return m;
        }
        return nullptr;
    }
    QZ_Rts::Mode* start(int rate, int bits, int channels) {
        EXPECT_EQ(d->init(), QZ_OK);
        QZ_Rts::Mode* m = find(rate, bits, channels);
        EXPECT_NE(m, nullptr);
        if (!m) return nullptr;
        EXPECT_EQ(d->mode(m), QZ_OK);
        return m;
    }
    // Output header i is held by the device (not done).
    void hold(int i) { d->outHeaders[i].flags.store(QZ_WHDR_PREPARED | QZ_WHDR_INQUEUE); }
    std::int16_t writtenSample(std::size_t buffer, std::size_t frame, std::size_t channel, int channels) {
        std::int16_t v;
        const std::size_t bytes = d->outHeaders[0].bufferLength;
        std::memcpy(&v, sim.written.data() + buffer * bytes + (frame * channels + channel) * 2, 2);
        return v;
    }
};

}  // namespace

TEST_F(Driver, ProbesWidthsThenRatesAndOffersOnlyWhatInputAndOutputAccept) {
    EXPECT_STREQ(d->name, "Sim");
    // Input refuses 96 kHz whatever the output takes; output takes four channels
    // only at 48 kHz, and nothing 24-bit at 192 kHz.
    sim.acceptIn = [](const QZ_Wave_Format& f) { return f.samplesPerSec != 96000; };
    sim.acceptOut = [](const QZ_Wave_Format& f) {
        if (f.channels == 4 && f.samplesPerSec != 48000) return false;
        return !(f.bitsPerSample == 24 && f.samplesPerSec == 192000);
    };
    ASSERT_EQ(d->init(), QZ_OK);
    std::vector<std::string> names;
    for (QZ_Chain_Item* it = d->modes.first(); it != d->modes.end(); it = it->next) {
        QZ_Rts::Mode* m = QZ_Rts::Mode::of(it);
        EXPECT_EQ(m->block, m->rate / 100);
        names.push_back(m->name);
    }
    const std::vector<std::string> want = {
        " 48.0 kHz, 32 bit, quadro", " 48.0 kHz, 32 bit, stereo", "192.0 kHz, 32 bit, stereo",
        " 44.1 kHz, 32 bit, stereo", " 48.0 kHz, 24 bit, quadro", " 48.0 kHz, 24 bit, stereo",
        " 44.1 kHz, 24 bit, stereo", " 48.0 kHz, 16 bit, quadro", " 48.0 kHz, 16 bit, stereo",
        "192.0 kHz, 16 bit, stereo", " 44.1 kHz, 16 bit, stereo"};
    EXPECT_EQ(names, want);
    ASSERT_EQ(d->inputs.count, 2);
    EXPECT_STREQ(QZ_Rts::chanAt(d->inputs, 0)->name, "Left");
    EXPECT_STREQ(QZ_Rts::chanAt(d->inputs, 1)->name, "Right");
    EXPECT_EQ(sim.openIn, 0);  // probes close what they open
    EXPECT_EQ(sim.openOut, 0);
}

TEST_F(Driver, DeviceRefusingEverythingOffersNoMode) {
    sim.acceptIn = [](const QZ_Wave_Format&) { return false; };
    EXPECT_EQ(d->init(), QZ_OK);
    EXPECT_EQ(d->modes.count, 0);
    EXPECT_EQ(d->inputs.count, 2);
}

TEST_F(Driver, ModeLaysOutChannelsAndQueuesEightInputBuffers) {
    QZ_Rts::Mode* m = start(44100, 24, 4);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(d->current.load(), m);
    EXPECT_EQ(sim.queuedInputs(), 8);
    EXPECT_EQ(sim.count(Sim_Wave::InStart), 1);
    for (QZ_Chain_Item* it = d->inputs.first(); it != d->inputs.end(); it = it->next) {
        EXPECT_EQ(QZ_Rts::Chan::of(it)->format, 0x1806u);
        EXPECT_EQ(QZ_Rts::Chan::of(it)->count, 441);
    }
    const char* names[] = {"Left front", "Right front", "Left back", "Right back"};
    ASSERT_EQ(d->outputs.count, 4);
    for (int j = 0; j < 4; ++j) {
        EXPECT_STREQ(QZ_Rts::chanAt(d->outputs, j)->name, names[j]);
        EXPECT_EQ(QZ_Rts::chanAt(d->outputs, j)->format, 0x180Cu);
        EXPECT_EQ(QZ_Rts::chanAt(d->outputs, j)->count, 441);
    }
    // One allocation: eight output buffers of 441 x 3 x 4 bytes, then eight inputs.
    EXPECT_EQ(d->outBuffers[1] - d->outBuffers[0], 441 * 3 * 4);
    EXPECT_EQ(d->inBuffers[0] - d->outBuffers[0], 8 * 441 * 3 * 4);
    EXPECT_EQ(d->inBuffers[7] - d->inBuffers[6], 2 * 441 * 3);
    EXPECT_EQ(d->outHeaders[2].bufferLength, 441u * 3 * 4);
}

TEST_F(Driver, FirstBlockSendsTheProcessedBufferAndOneOfSilence) {
    sim.autoOutput = false;
    ASSERT_NE(start(48000, 16, 2), nullptr);
    sim.advance(9);
    EXPECT_EQ(g_blocks.load(), 0);
    sim.advance(1);
    ASSERT_EQ(g_blocks.load(), 1);
    EXPECT_EQ(sim.queuedInputs(), 8);  // queued again at once
    ASSERT_EQ(sim.writes.size(), 2u);
    EXPECT_EQ(sim.writes[0], &d->outHeaders[0]);
    EXPECT_EQ(sim.writes[1], &d->outHeaders[1]);
    EXPECT_EQ(d->outHeaders[0].flags.load() & (QZ_WHDR_BEGINLOOP | QZ_WHDR_ENDLOOP), 0x0Cu);
    EXPECT_EQ(d->outHeaders[0].loops, 1u);
    for (std::size_t k = 0; k < 480; ++k) {
        ASSERT_EQ(writtenSample(0, k, 0, 2), Sim_Wave::pattern(static_cast<long long>(k))) << k;
        ASSERT_EQ(writtenSample(0, k, 1, 2), Sim_Wave::pattern(static_cast<long long>(k))) << k;
        ASSERT_EQ(writtenSample(1, k, 0, 2), 0) << k;
        ASSERT_EQ(writtenSample(1, k, 1, 2), 0) << k;
    }
    // Six free now: the next block sends one buffer only... unless six or more are
    // free, which with two out of eight held they are, so two go again.
    sim.advance(10);
    EXPECT_EQ(sim.writes.size(), 4u);
    // With five free, one.
    hold(4);
    sim.advance(10);
    EXPECT_EQ(sim.writes.size(), 5u);
}

TEST_F(Driver, OneFreeHeaderIsFilledButNotSent) {
    sim.autoOutput = false;
    ASSERT_NE(start(48000, 16, 2), nullptr);
    for (int i = 0; i < 8; ++i)
        if (i != 5) hold(i);
    sim.advance(10);
    ASSERT_EQ(g_blocks.load(), 1);
    EXPECT_TRUE(sim.writes.empty());
    // The block went into the one free buffer.
    std::int16_t v;
    std::memcpy(&v, d->outBuffers[5] + 2 * 2 * 7, 2);
    EXPECT_EQ(v, Sim_Wave::pattern(7));
    EXPECT_EQ(QZ_Rts::chanAt(d->outputs, 1)->data, d->outBuffers[5] + 2);
    // A second free header: the next block goes into the first free one, and is sent.
    d->outHeaders[6].flags.store(QZ_WHDR_DONE | QZ_WHDR_PREPARED);
    sim.advance(10);
    ASSERT_EQ(sim.writes.size(), 1u);
    EXPECT_EQ(sim.writes[0], &d->outHeaders[5]);
    std::memcpy(&v, sim.written.data() + 2 * 2 * 7, 2);
    EXPECT_EQ(v, Sim_Wave::pattern(480 + 7));
}

TEST_F(Driver, CleanStopReturnsAllInputBuffersAndNoBlockFollows) {
    ASSERT_NE(start(96000, 32, 2), nullptr);
    sim.advance(55);
    ASSERT_EQ(g_blocks.load(), 5);
    const int before = sim.inputBlocks;
    const long long t0 = sim.now;
    sim.logged = 0;
    ASSERT_EQ(d->free(), QZ_OK);
    EXPECT_EQ(g_blocks.load(), 5);
    EXPECT_EQ(sim.inputBlocks - before, 8);  // the drain waited for all eight
    EXPECT_EQ(sim.now - t0, 5 + 70 + 100);  // next block in 5 ms, seven more, then the settle
    EXPECT_EQ(d->current.load(), nullptr);
    EXPECT_EQ(d->outputs.count, 0);
    EXPECT_EQ(sim.queuedInputs(), 0);
    EXPECT_EQ(sim.openIn, 0);
    EXPECT_EQ(sim.openOut, 0);
    EXPECT_EQ(d->outBuffers[0], nullptr);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(d->inHeaders[i].flags.load() & (QZ_WHDR_PREPARED | QZ_WHDR_INQUEUE), 0u) << i;
        EXPECT_EQ(d->outHeaders[i].flags.load() & QZ_WHDR_PREPARED, 0u) << i;
    }
    // Stop, reset, unprepare, then close, in that order.
    std::vector<Sim_Wave::Call> order(sim.log, sim.log + sim.logged);
    std::vector<Sim_Wave::Call> want = {Sim_Wave::InStop, Sim_Wave::OutReset};
    for (int i = 0; i < 8; ++i) {
        want.push_back(Sim_Wave::InUnprepare);
        want.push_back(Sim_Wave::OutUnprepare);
    }
    want.push_back(Sim_Wave::InClose);
    want.push_back(Sim_Wave::OutClose);
    EXPECT_EQ(order, want);
    sim.advance(100);
    EXPECT_EQ(g_blocks.load(), 5);
    // And it starts again.
    EXPECT_EQ(d->mode(QZ_Rts::modeAt(d->modes, 0)), QZ_OK);
    sim.advance(10);
    EXPECT_EQ(g_blocks.load(), 6);
    // A second mode while one runs: the first is stopped and closed before.
    EXPECT_EQ(d->mode(QZ_Rts::modeAt(d->modes, 1)), QZ_OK);
    EXPECT_EQ(sim.openIn, 1);
    EXPECT_EQ(sim.openOut, 1);
    EXPECT_EQ(d->outputs.count, QZ_Rts::modeAt(d->modes, 1)->channels);
    EXPECT_EQ(d->free(), QZ_OK);
    EXPECT_EQ(d->exit(), QZ_OK);
    EXPECT_EQ(d->modes.count + d->inputs.count, 0);
}

TEST_F(Driver, StopStepsRetryTenTimesHalfASecondApart) {
    struct Case {
        Sim_Wave::Call call;
        const char* text;
    } cases[] = {{Sim_Wave::InStop, "Cannot stop input audio device"},
                 {Sim_Wave::OutReset, "Cannot reset output audio device"},
                 {Sim_Wave::InClose, "Cannot close input audio device"},
                 {Sim_Wave::OutClose, "Cannot close output audio device"}};
    for (const Case& c : cases) {
        ASSERT_NE(start(48000, 16, 2), nullptr);
        sim.advance(30);
        sim.failures[c.call] = 10;
        const int calls = sim.count(c.call);
        const long long slept = sim.slept;
        const auto real = std::chrono::steady_clock::now();
        QZ_error r = d->free();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(std::string(r), c.text);
        EXPECT_EQ(sim.count(c.call) - calls, 10);
        EXPECT_EQ(sim.slept - slept, 100 + 9 * 500);  // settle, then nine waits between ten tries
        EXPECT_LT(std::chrono::steady_clock::now() - real, std::chrono::seconds(2));
        EXPECT_EQ(d->current.load(), nullptr);
        // The failure left the rest open; the next stop finishes the job.
        EXPECT_GE(sim.openIn + sim.openOut, 1);
        EXPECT_EQ(d->free(), QZ_OK);
        EXPECT_EQ(sim.openIn + sim.openOut, 0);
        EXPECT_EQ(d->exit(), QZ_OK);
    }
    // Nine failures and then success is a stop.
    ASSERT_NE(start(48000, 16, 2), nullptr);
    sim.failures[Sim_Wave::InStop] = 9;
    EXPECT_EQ(d->free(), QZ_OK);
}

TEST_F(Driver, FailedModeLeavesTheDriverStopped) {
    ASSERT_EQ(d->init(), QZ_OK);
    QZ_Rts::Mode* m = QZ_Rts::modeAt(d->modes, 0);
    sim.failures[Sim_Wave::OutOpen] = 1;
    EXPECT_EQ(d->mode(m), QZ_ERROR_AUDIO_CANNOT_OPEN);
    EXPECT_EQ(d->current.load(), nullptr);
    EXPECT_EQ(sim.openIn + sim.openOut, 0);
    EXPECT_EQ(d->outputs.count, 0);
    const int stops = sim.count(Sim_Wave::InStop);
    EXPECT_EQ(d->free(), QZ_OK);  // nothing to stop, nothing retried
    EXPECT_EQ(sim.count(Sim_Wave::InStop), stops);

    // Queuing fails at the fourth buffer: the three queued come back before the
    // input closes, and their headers are unprepared.
    sim.failAt[Sim_Wave::InAddBuffer] = sim.count(Sim_Wave::InAddBuffer) + 4;
    EXPECT_EQ(d->mode(m), QZ_ERROR_AUDIO);
    EXPECT_EQ(d->current.load(), nullptr);
    EXPECT_EQ(sim.queuedInputs(), 0);
    EXPECT_EQ(sim.openIn + sim.openOut, 0);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(d->inHeaders[i].flags.load() & QZ_WHDR_PREPARED, 0u) << i;
    sim.failures[Sim_Wave::InStart] = 1;
    EXPECT_EQ(d->mode(m), QZ_ERROR_AUDIO);
    EXPECT_EQ(d->current.load(), nullptr);
    EXPECT_EQ(sim.queuedInputs(), 0);
    EXPECT_EQ(sim.openIn + sim.openOut, 0);
    EXPECT_EQ(d->outBuffers[0], nullptr);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(d->inHeaders[i].flags.load() & QZ_WHDR_PREPARED, 0u) << i;
    sim.advance(50);
    EXPECT_EQ(g_blocks.load(), 0);
    EXPECT_EQ(d->mode(m), QZ_OK);
    sim.advance(10);
    EXPECT_EQ(g_blocks.load(), 1);
    EXPECT_EQ(d->free(), QZ_OK);
}

TEST_F(Driver, ClassListsItsInstanceAndExitUnlinksIt) {
    const int n = QZ_Rts_instances.count;
    EXPECT_EQ(QZ_Rts_Win32::classInstances.count, 1);
    ASSERT_NE(start(48000, 16, 2), nullptr);
    sim.advance(20);
    QZ_Rts_Win32::classExit();  // a running instance is stopped before it goes
    EXPECT_EQ(QZ_Rts_instances.count, n - 1);
    EXPECT_EQ(sim.openIn + sim.openOut, 0);
    const int blocks = g_blocks.load();
    sim.advance(50);
    EXPECT_EQ(g_blocks.load(), blocks);
}

// The device's thread delivers blocks while the client's thread stops the driver.
TEST(RtsWaveThreads, StopWhileTheDeviceThreadRuns) {
    for (int round = 0; round < 3; ++round) {
        Sim_Wave sim;
        g_blocks = 0;
        ASSERT_EQ(QZ_Rts_Win32::classInit(&copy_left, &sim, "Sim"), QZ_OK);
        auto* d = static_cast<QZ_Rts_Win32*>(QZ_Rts::instanceAt(0));
        ASSERT_EQ(d->init(), QZ_OK);
        sim.startThread(std::chrono::microseconds(200));
        ASSERT_EQ(d->mode(QZ_Rts::modeAt(d->modes, round)), QZ_OK);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (g_blocks.load() < 20 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GE(g_blocks.load(), 20);
        ASSERT_EQ(d->free(), QZ_OK);
        const int blocks = g_blocks.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(g_blocks.load(), blocks);
        EXPECT_EQ(sim.queuedInputs(), 0);
        sim.stopThread();
        QZ_Rts_Win32::classExit();
    }
}

// A device that goes away (unplugged) says so once: the driver counts as lost
// with the device's reason, no block follows, its stop still tidies up, and a
// fresh start clears the mark.
TEST_F(Driver, ADeviceThatGoesAwayMarksTheDriverLost) {
    ASSERT_NE(start(48000, 16, 2), nullptr);
    sim.advance(30);
    ASSERT_EQ(g_blocks.load(), 3);
    EXPECT_FALSE(d->lost());
    EXPECT_STREQ(d->lostReason(), "");
    sim.lose("The sim device went away: No such device");
    EXPECT_TRUE(d->lost());
    EXPECT_STREQ(d->lostReason(), "The sim device went away: No such device");
    sim.advance(50);
    EXPECT_EQ(g_blocks.load(), 3);
    sim.lose("again");  // the first reason stays
    EXPECT_STREQ(d->lostReason(), "The sim device went away: No such device");
    EXPECT_EQ(d->free(), QZ_OK);
    EXPECT_EQ(sim.openIn + sim.openOut, 0);
    EXPECT_EQ(d->exit(), QZ_OK);
    EXPECT_EQ(d->init(), QZ_OK);
    EXPECT_FALSE(d->lost());
    EXPECT_EQ(d->exit(), QZ_OK);
}
