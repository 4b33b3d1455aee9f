// Generators: the fixed noise sequence and its range, the envelope's hold and
// decay numbers, and restart against switching.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/command.h"
#include "dsp/gener.h"
#include "tests/dsp/dsp_test_util.h"

TEST(Noise, FirstBlockIsFixedAndEndsWithTheFirstDraw) {
    Owned own;
    QZ_handle pipe = own.pipe(64);
    QZ_handle out = own.buffer("noise");
    QZ_handle g = 0;
    ASSERT_EQ(spcpp("QZ_Gener_White -o %o", &g, out), QZ_OK);
    own.keep(g);
    end_construction(pipe);
    QZ_noise_reseed();
    pipe_of(pipe)->process();
    std::vector<std::int32_t> first = main_of(out);
    // seed 1 -> state 22695478; the first draw is 119927, whose low 15 bits
    // are 21623: (21623 - 16384) * 65536
    EXPECT_EQ(first[63], 343343104);
    QZ_noise_reseed();
    pipe_of(pipe)->process();
    EXPECT_EQ(main_of(out), first);
    pipe_of(pipe)->process();
    EXPECT_NE(main_of(out), first);
}

TEST(Noise, DrawsCoverTheHalfScaleRangeInSteps) {
    QZ_noise_reseed();
    std::vector<std::int32_t> x(1 << 20);
    QZ_noise_fill(x.data(), static_cast<std::int32_t>(x.size()));
    // every sample is a multiple of 65536 within -2^30 .. 2^30 - 65536, and
    // all 32768 steps occur: low bits 0 -> -2^30, 16383 -> -65536, 16384 -> 0
    std::vector<bool> seen(32768, false);
    for (std::int32_t v : x) {
        ASSERT_EQ(v % 65536, 0);
        ASSERT_GE(v, -1073741824);
        ASSERT_LE(v, 1073741824 - 65536);
        seen[static_cast<std::size_t>(v / 65536 + 16384)] = true;
    }
    EXPECT_TRUE(seen[0]);      // -1073741824
    EXPECT_TRUE(seen[16383]);  // -65536
    EXPECT_TRUE(seen[16384]);  // 0
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 32768);
    // a fill equals single draws taken from the same state, filled from the end
    QZ_noise_reseed();
    std::vector<std::int32_t> y(8);
    for (int i = 7; i >= 0; --i) y[i] = (QZ_noise_draw() % 32768 - 16384) * 65536;
    EXPECT_TRUE(std::equal(y.begin(), y.end(), x.end() - 8));
}

namespace {

struct Envelope {
    Owned own;
    QZ_handle pipe, out, g;
    Envelope(double beg, double time) {
        pipe = own.pipe(1000);
        out = own.buffer("env");
        EXPECT_EQ(spcpp("QZ_Gener_Exp -o %o -beg %f -time %f", &g, out, beg, time), QZ_OK);
        own.keep(g);
        end_construction(pipe);
        spcpp("QZ_Effect %o -clock %i", g, 48000);
    }
    std::vector<std::int32_t> run(int blocks) {
        std::vector<std::int32_t> all;
        for (int b = 0; b < blocks; ++b) {
            pipe_of(pipe)->process();
            std::vector<std::int32_t> o = main_of(out);
            all.insert(all.end(), o.begin(), o.end());
        }
        return all;
    }
};

}  // namespace

TEST(Envelope, HoldsThenDecays) {
    Envelope e(0.5, 1.0);
    std::vector<std::int32_t> v = e.run(73);
    for (int i = 0; i <= 24000; ++i) ASSERT_EQ(v[i], 33554432) << i;
    EXPECT_LT(v[24001], 33554432);
    EXPECT_EQ(v[72000], 12343985);  // t = 1.5 s: 2^25 * exp(-1)
}

TEST(Envelope, BegZeroStillStartsAtFullLevel) {
    Envelope e(0.0, 0.25);
    std::vector<std::int32_t> v = e.run(1);
    EXPECT_EQ(v[0], 33554432);
    EXPECT_LT(v[1], 33554432);
}

TEST(Envelope, SwitchingContinuesRestartStartsOver) {
    Envelope e(0.0, 0.1);
    std::vector<std::int32_t> a = e.run(2);
    spcpp("QZ_Effect %o -on 0", e.g);
    e.run(1);  // runs once more on side blocks, then is reset
    spcpp("QZ_Effect %o -on 1", e.g);
    auto* g = fx<QZ_Gener_Exp>(e.g);
    EXPECT_EQ(g->counter, 3000);  // reset kept the count
    e.run(1);
    EXPECT_EQ(g->counter, 4000);
    g->restart();
    std::vector<std::int32_t> b = e.run(1);
    EXPECT_EQ(std::vector<std::int32_t>(b.begin(), b.begin() + 1000),
              std::vector<std::int32_t>(a.begin(), a.begin() + 1000));
}

TEST(Envelope, ZeroTimeAndZeroClockAreHarmless) {
    Envelope e(0.0, 0.0);
    std::vector<std::int32_t> v = e.run(1);
    EXPECT_EQ(v[0], 33554432);
    EXPECT_EQ(v[1], 0);                 // exp(-inf)
    spcpp("%o -time %f", e.g, -0.001);  // growth saturates instead of overflowing
    EXPECT_EQ(e.run(1)[999], INT32_MAX);
    spcpp("QZ_Effect %o -clock %i", e.g, 0);
    for (std::int32_t x : e.run(1)) ASSERT_EQ(x, 33554432);  // no time passes
}
