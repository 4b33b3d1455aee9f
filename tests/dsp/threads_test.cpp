// Control changes from another thread while passes run (the plug-in's editor
// and host threads do this). Run under the tsan preset to check for races.
#include <atomic>
#include <thread>

#include "dsp/filters.h"
#include "tests/dsp/dsp_test_util.h"

TEST(Threads, SwitchFrequencyAndClockDuringPasses) {
    Owned own;
    const int n = 256;
    QZ_handle p = own.pipe(n);
    QZ_handle in = own.buffer("in"), mid = own.buffer("mid"), out = own.buffer("out");
    own.effect("QZ_Effect_Copy -i %o -o %o", in, mid);
    QZ_handle lp = own.effect("QZ_Effect_Lopass -i %o -o %o", mid, mid);
    own.effect("QZ_Effect_Copy -i %o -o %o", mid, out);
    end_construction(p);
    spcpp("QZ_Effect %o -clock %i", lp, 44100);
    spcpp("%o -f %i", lp, 1000);
    std::vector<std::int32_t> x(n);
    for (int i = 0; i < n; ++i) x[i] = (i % 50 - 25) << 22;
    fill(in, x);

    std::atomic<bool> done{false};
    std::thread control([&] {
        for (int round = 0; round < 300; ++round) {
            spcpp("QZ_Effect %o -on %i", lp, round % 2);
            spcpp("%o -f %f", lp, 20.0 + 19980.0 * (round % 7) / 6.0);
            spcpp("QZ_Effect %o -clock %i", lp, round % 3 ? 44100 : 48000);
            std::this_thread::yield();
        }
        spcpp("%o -f %i", lp, 1000);
        spcpp("QZ_Effect %o -clock %i", lp, 44100);
        spcpp("QZ_Effect %o -on %i", lp, 1);
        done = true;
    });
    int passes = 0;
    while (!done.load() || passes < 100) {
        pipe_of(p)->process();
        ++passes;
    }
    control.join();

    // Once the changes stop, the chain is the plain low-pass again.
    pipe_of(p)->process();  // completes any switch that was pending
    auto* e = fx<QZ_Effect_Lopass>(lp);
    ASSERT_EQ(e->coefficient(), 535616699u);
    ASSERT_TRUE(e->current_on());
    std::int32_t y = e->y;
    std::vector<std::int32_t> want(n);
    QZ_lopass_loop<QZ_MODE_SET>(x.data(), want.data(), n, 535616699u, y);
    pipe_of(p)->process();
    EXPECT_EQ(main_of(out), want);
}
