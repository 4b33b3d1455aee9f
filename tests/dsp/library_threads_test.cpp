// Number options of the library's effects changed from another thread while
// passes run, as an editor or host thread would. Run under the tsan preset to
// check that such changes race with nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dsp/deline.h"
#include "dsp/filters.h"
#include "dsp/oper.h"
#include "dsp/shift.h"
#include "tests/dsp/dsp_test_util.h"
#include "tests/dsp/library_test_util.h"

TEST(LibraryThreads, NumberOptionsDuringPasses) {
    Owned own;
    const int n = 128;
    QZ_handle p = own.pipe(n);
    QZ_handle in = own.buffer("in"), out = own.buffer("out"), aux = own.buffer("aux");
    QZ_handle koef = own.keep(build("QZ_Effect_Koef -i %o -o %o -oper mul -k 1.0", in, out));
    QZ_handle line = own.keep(build("QZ_Effect_Deline -i %o -g -go %o -d -dt 10 -da 0.5", in, aux));
    QZ_handle shift = own.keep(build("QZ_Effect_Shift -i %o -o %o", in, aux));
    QZ_handle env = own.keep(build("QZ_Gener_Exp -o %o", aux));
    QZ_handle amp = own.keep(build("QZ_Effect_Ampdet -i %o -o %o", in, aux));
    QZ_handle mul = own.keep(build("QZ_Effect_Nefreqmul -i %o -o %o", in, aux));
    QZ_handle dist = own.keep(build("QZ_Effect_Dist -i %o -o %o", in, aux));
    QZ_handle ft = own.keep(build("QZ_Fourier_Transform -i %o -s 6", in));
    end_construction(p);
    std::vector<std::int32_t> x(n);
    for (int i = 0; i < n; ++i) x[i] = (i % 40 - 20) << 22;
    fill(in, x);

    std::atomic<bool> done{false};
    std::thread control([&] {
        for (int round = 0; round < 200; ++round) {
            spcpp("%o -k %f -oper %s", koef, 0.5 + round % 3, round % 2 ? "add" : "mul");
            spcpp("%o -ga %f -gf %f -dt %i -da %f", line, 0.5, 0.25, 5 + round % 9, 0.75);
            spcpp("%o -s %i -p %i", shift, round * 37 - 4000, round);
            spcpp("%o -beg %f -time %f", env, 0.01 * (round % 5), 0.1);
            spcpp("%o -f1 %f -f2 %f", amp, 100.0 + round, 10.0);
            spcpp("%o -rand %f -stab %f -k %i", mul, 0.5, 0.6, 1 + round % 3);
            spcpp("%o -d %f -s %f -k %f -l %i", dist, 0.5, 0.3, 0.01, round & 1);
            spcpp("%o -win %s -d %s", ft, round % 2 ? "sin" : "none", "forward");
            for (QZ_handle e : {koef, line, shift, env, amp, mul, dist, ft}) {
                spcpp("QZ_Effect %o -clock %i", e, round % 2 ? 44100 : 48000);
                spcpp("QZ_Effect %o -on %i", e, (round + static_cast<int>(e)) % 3 != 0);
            }
            std::this_thread::yield();
        }
        for (QZ_handle e : {koef, line, shift, env, amp, mul, dist, ft}) spcpp("QZ_Effect %o -on 1", e);
        spcpp("%o -k %f -oper mul -mode set", koef, 1.0);
        done = true;
    });
    int passes = 0;
    while (!done.load() || passes < 50) {
        pipe_of(p)->process();
        ++passes;
    }
    control.join();

    // Once the changes stop, the last values hold: Koef multiplies by 1/127 in Q31
    // as a Q24 product.
    pipe_of(p)->process();
    pipe_of(p)->process();
    EXPECT_EQ(fx<QZ_Effect_Koef>(koef)->k.load(), 16909320);
    std::vector<std::int32_t> o = main_of(out);
    for (int i = 0; i < n; ++i) ASSERT_EQ(o[i], QZ_q24_product(x[i], 16909320)) << i;
    EXPECT_EQ(fx<QZ_Effect_Deline>(line)->current->gain.load(), 4194303);
}

// One thread changes number options while another changes the clock, which
// recomputes coefficients from those same numbers, and passes run meanwhile.
TEST(LibraryThreads, NumberOptionsAgainstClockChangesDuringPasses) {
    Owned own;
    const int n = 64;
    QZ_handle p = own.pipe(n);
    QZ_handle in = own.buffer("in"), out = own.buffer("out");
    QZ_handle dist = own.keep(build("QZ_Effect_Dist -i %o -o %o", in, out));
    QZ_handle amp = own.keep(build("QZ_Effect_Ampdet -i %o -o %o", in, out));
    QZ_handle band = own.keep(build("QZ_Effect_Bapass -i %o -o %o", in, out));
    QZ_handle low = own.keep(build("QZ_Effect_Lopass -i %o -o %o", in, out));
    QZ_handle over = own.keep(build("QZ_Effect_Oversam -i %o -o %o", in, out));
    QZ_handle shift = own.keep(build("QZ_Effect_Nshift -i %o -o %o", in, out));
    QZ_handle lgd = own.keep(build("QZ_Effect_Lgd -i %o -o %o", in, out));
    QZ_handle copy = own.keep(build("QZ_Effect_Copy -i %o -o %o", in, out));
    const QZ_handle all[] = {dist, amp, band, low, over, shift, lgd, copy};
    end_construction(p);
    std::vector<std::int32_t> x(n);
    for (int i = 0; i < n; ++i) x[i] = (i % 16 - 8) << 24;
    fill(in, x);

    const int rounds = 300;
    std::atomic<int> running{2};
    std::thread options([&] {
        for (int r = 0; r < rounds; ++r) {
            spcpp("%o -k %f -s %f -d %f -l %i", dist, 0.001 * (r % 7 + 1), 0.25 + 0.1 * (r % 3), 0.5, r & 1);
            spcpp("%o -f1 %f -f2 %f", amp, 100.0 + r, 5.0 + r % 11);
            spcpp("%o -f %f -q %f", band, 200.0 + r, 0.5 + 0.01 * r);
            spcpp("%o -f %i", low, 500 + r);
            spcpp("%o -k %i", over, r % 9);
            spcpp("%o -s %i -p %i", shift, r * 31 - 3000, r);
            spcpp("%o -c %f", lgd, 0.01 * (r % 10 + 1));
            spcpp("%o -is %i -os %i", copy, 1 + r % 2, 1 + r % 3);
        }
        --running;
    });
    std::thread clocks([&] {
        for (int r = 0; r < rounds; ++r) {
            for (QZ_handle e : all) spcpp("QZ_Effect %o -clock %i", e, r % 2 ? 44100 : 48000);
            spcpp("%o -d %f", dist, 0.5 + 0.125 * (r % 2));  // bounds from the softness -s writes
        }
        --running;
    });
    int passes = 0;
    while (running.load() > 0 || passes < 20) {
        pipe_of(p)->process();
        ++passes;
    }
    options.join();
    clocks.join();

    // With both threads done, a clock change recomputes from the last numbers.
    for (QZ_handle e : all) ASSERT_EQ(spcpp("QZ_Effect %o -clock %i", e, 48000), QZ_OK);
    const double last_rate = static_cast<float>(0.001 * ((rounds - 1) % 7 + 1));
    EXPECT_NEAR(fx<QZ_Effect_Dist>(dist)->r.load(), last_rate * 2147483647.0, 2.0);
    EXPECT_EQ(fx<QZ_Effect_Ampdet>(amp)->k1.load(),
              QZ_Effect_Ampdet::coefficient(100.0f + (rounds - 1), 48000));
    EXPECT_EQ(fx<QZ_Effect_Ampdet>(amp)->k2.load(),
              QZ_Effect_Ampdet::coefficient(5.0f + (rounds - 1) % 11, 48000));
}
