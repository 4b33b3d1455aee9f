// The driver callback paths allocate nothing: this program replaces the global
// allocation functions (operator new/delete, and malloc/calloc/realloc/free where
// no sanitizer owns them) with counting versions and runs blocks between counts.
// It is its own executable so the replacement touches no other test.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "rts/mme.h"
#include "wave_sim.h"
#ifndef _WIN32
#include <alsa/asoundlib.h>

#include <string>
#endif
#include "tests/alloc_counting.h"

namespace {

std::atomic<int> g_blocks{0};

// What a host does per block: every input converted to floats, and floats
// converted into every output.
float g_left[2048], g_right[2048];
void block() {
    g_blocks.fetch_add(1, std::memory_order_relaxed);
    QZ_Rts* d = QZ_Rts::instanceAt(0);
    QZ_Rts::Chan* in0 = QZ_Rts::chanAt(d->inputs, 0);
    QZ_Rts::Chan* in1 = QZ_Rts::chanAt(d->inputs, 1);
    QZ_Rts::Chan fl, fr;  // records on the stack, as the host keeps its own
    fl.format = fr.format = QZ_RTS_FLOAT32;
    fl.count = fr.count = in0->count;
    fl.data = g_left;
    fr.data = g_right;
    QZ_Rts::copyBuffer(&fl, in0);
    QZ_Rts::copyBuffer(&fr, in1);
    int j = 0;
    for (QZ_Chain_Item* it = d->outputs.first(); it != d->outputs.end(); it = it->next, ++j)
        QZ_Rts::copyBuffer(QZ_Rts::Chan::of(it), j % 2 ? &fr : &fl);
}

}  // namespace

TEST(Allocation, CountingIsLive) {
    const long before = g_allocations.load();
    int* volatile p = new int(3);
    EXPECT_GT(g_allocations.load(), before);
    delete p;
#ifdef QZ_TEST_COUNTS_MALLOC
    const long mid = g_allocations.load();
    void* volatile m = std::malloc(24);
    EXPECT_GT(g_allocations.load(), mid);
    std::free(m);
#endif
}

TEST(Allocation, DriverBlocksAllocateNothing) {
    Sim_Wave sim;
    ASSERT_EQ(QZ_Rts_Win32::classInit(&block, &sim, "Sim"), QZ_OK);
    QZ_Rts* d = QZ_Rts::instanceAt(0);
    ASSERT_EQ(d->init(), QZ_OK);
    for (int n = 0; n < d->modes.count; ++n) {
        ASSERT_EQ(d->mode(QZ_Rts::modeAt(d->modes, n)), QZ_OK);
        sim.advance(10);  // first block
        const long before = g_allocations.load();
        const int blocks = g_blocks.load();
        sim.advance(300);
        EXPECT_EQ(g_allocations.load() - before, 0) << QZ_Rts::modeAt(d->modes, n)->name;
        EXPECT_EQ(g_blocks.load() - blocks, 30);
        ASSERT_EQ(d->free(), QZ_OK);
    }
    QZ_Rts_Win32::classExit();
}

TEST(Allocation, ConversionsAllocateNothing) {
    const QZ_Rts_format words[] = {QZ_RTS_INT16, QZ_RTS_INT24,    QZ_RTS_INT32,   QZ_RTS_INT32_16, QZ_RTS_INT32_18,
                                   QZ_RTS_INT32_20, QZ_RTS_INT32_24, QZ_RTS_FLOAT32, QZ_RTS_FLOAT64, 0x1806,
                                   0x100C, 0x2008, 0x0801, 0x2804};
    std::vector<unsigned char> a(64 * 256, 0x5A), b(64 * 256);
    QZ_Rts::Chan s, t;
    s.data = a.data();
    t.data = b.data();
    s.count = t.count = 256;
    const long before = g_allocations.load();
    for (QZ_Rts_format x : words)
        for (QZ_Rts_format y : words) {
            s.format = x;
            t.format = y;
            QZ_Rts::copyBuffer(&t, &s);
        }
    t.count = 255;
    QZ_Rts::copyBuffer(&t, &s);
    EXPECT_EQ(g_allocations.load() - before, 0);
}

// The platform's wave device, once running on its own thread, allocates
// nothing per block: 500 blocks are counted after the first 20.
static void platform_blocks_allocate_nothing() {
    ASSERT_EQ(QZ_Rts_Win32::classInit(&block), QZ_OK);
    QZ_Rts* d = QZ_Rts::instanceAt(0);
    ASSERT_EQ(d->init(), QZ_OK);
    ASSERT_GT(d->modes.count, 0);
    ASSERT_EQ(d->mode(QZ_Rts::modeAt(d->modes, 1)), QZ_OK);
    auto wait_for = [](int n) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (g_blocks.load() < n && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    const int start = g_blocks.load();
    wait_for(start + 20);
    const long before = g_allocations.load();
    wait_for(start + 500);
    const long allocations = g_allocations.load() - before;
    ASSERT_EQ(d->free(), QZ_OK);
    EXPECT_GE(g_blocks.load(), start + 500);
    EXPECT_EQ(allocations, 0);
    d->exit();
    QZ_Rts_Win32::classExit();
}

#ifndef _WIN32
// ALSA's null PCM as the device.
TEST(Allocation, AlsaBlocksAllocateNothing) {
    const std::string conf = ::testing::TempDir() + "zelo-null-asound-alloc.conf";
    if (FILE* f = std::fopen(conf.c_str(), "w")) {
        std::fputs("pcm.!default { type null }\n", f);
        std::fclose(f);
    }
    setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + conf).c_str(), 1);
    snd_config_update_free_global();
    platform_blocks_allocate_nothing();
    snd_config_update_free_global();
}
#else
// The system's wave functions: under wine, ALSA's null PCM through wine's own
// driver (the test's environment makes it the default device).
TEST(Allocation, WinmmBlocksAllocateNothing) { platform_blocks_allocate_nothing(); }
#endif
