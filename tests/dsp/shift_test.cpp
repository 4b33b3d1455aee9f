// Oversampler and pitch shifters: the interpolation of a constant, the
// shifters' period, their fixed mix at speed 0 and the measured pitch change.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/command.h"
#include "dsp/shift.h"
#include "tests/dsp/dsp_test_util.h"
#include "tests/dsp/library_test_util.h"

namespace {

// Upward zero crossings per sample over a signal, from the first to the last
// crossing, with linear interpolation between samples.
double crossing_rate(const std::vector<std::int32_t>& x) {
    double first = -1, last = -1;
    int count = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double t =
                (i - 1) + static_cast<double>(-x[i - 1]) / (static_cast<double>(x[i]) - x[i - 1]);
            if (first < 0) first = t;
            last = t;
            ++count;
        }
    }
    return count > 1 ? (count - 1) / (last - first) : 0.0;
}

std::vector<std::int32_t> run_shifter(const char* cls, int speed, double cycles_per_sample, int blocks) {
    Owned own;
    QZ_handle pipe = own.pipe(512);
    QZ_handle in = own.buffer("in"), out = own.buffer("out");
    std::string cmd = std::string(cls) + " -i %o -o %o -s %o";
    QZ_handle fx = own.keep(build(cmd.c_str(), in, out, static_cast<QZ_handle>(speed)));
    spcpp("QZ_Effect %o -clock %i", fx, 48000);
    end_construction(pipe);
    std::vector<std::int32_t> all;
    long t = 0;
    for (int b = 0; b < blocks; ++b) {
        std::vector<std::int32_t> x(512);
        for (auto& v : x)
            v = static_cast<std::int32_t>(2e8 * std::sin(2 * 3.141592653589793 * cycles_per_sample * t++));
        fill(in, x);
        pipe_of(pipe)->process();
        std::vector<std::int32_t> o = main_of(out);
        all.insert(all.end(), o.begin(), o.end());
    }
    return all;
}

}  // namespace

TEST(Oversam, ConstantSettlesToItsLowBitsCleared) {
    Owned own;
    QZ_handle in = own.buffer("in"), out = own.buffer("out");
    spcpp("%o -l 4", in);
    spcpp("%o -l 32", out);
    QZ_handle os = 0;
    ASSERT_EQ(spcpp("QZ_Effect_Oversam -i %o -o %o", &os, in, out), QZ_OK);
    own.keep(os);
    auto* e = fx<QZ_Effect_Oversam>(os);
    fill(in, {1001, 1001, 1001, 1001});
    e->process();
    e->process();
    for (std::int32_t v : main_of(out)) EXPECT_EQ(v, 1000);  // 8 * (1001 / 8)
    fill(in, {-1001, -1001, -1001, -1001});
    e->process();
    e->process();
    for (std::int32_t v : main_of(out)) EXPECT_EQ(v, -1000);  // truncation toward zero
    EXPECT_EQ(opt_int("%o -k", os), 1);
}

TEST(Oversam, InterpolatesARampBetweenInputSamples) {
    Owned own;
    QZ_handle in = own.buffer("in"), out = own.buffer("out");
    spcpp("%o -l 4", in);
    spcpp("%o -l 32", out);
    QZ_handle os = 0;
    ASSERT_EQ(spcpp("QZ_Effect_Oversam -i %o -o %o", &os, in, out), QZ_OK);
    own.keep(os);
    auto* e = fx<QZ_Effect_Oversam>(os);
    fill(in, {0, 800, 1600, 2400});
    e->process();
    fill(in, {3200, 4000, 4800, 5600});
    e->process();
    // a ramp of 100 per output sample, two input samples late
    std::vector<std::int32_t> o = main_of(out);
    for (int i = 1; i < 32; ++i) EXPECT_EQ(o[i] - o[i - 1], 100) << i;
}

// An output that follows the pipe's block length (-1) is resolved to it.
TEST(Oversam, OutputFollowingThePipeIsProcessed) {
    Owned own;
    QZ_handle pipe = own.pipe(32);
    QZ_handle in = own.buffer("in"), out = own.buffer("out");
    spcpp("%o -l 4", in);
    QZ_handle os = 0;
    ASSERT_EQ(spcpp("QZ_Effect_Oversam -i %o -o %o", &os, in, out), QZ_OK);
    own.keep(os);
    end_construction(pipe);
    EXPECT_EQ(opt_int("%o -l", out), 32);
    fill(in, {800, 800, 800, 800});
    pipe_of(pipe)->process();
    pipe_of(pipe)->process();
    EXPECT_EQ(main_of(out), std::vector<std::int32_t>(32, 800));
}

TEST(Oversam, WithoutBothBuffersNothingHappens) {
    Owned own;
    QZ_handle out = own.buffer("out");
    spcpp("%o -l 8", out);
    fill(out, std::vector<std::int32_t>(8, 77));
    QZ_handle os = 0;
    ASSERT_EQ(spcpp("QZ_Effect_Oversam -o %o", &os, out), QZ_OK);
    own.keep(os);
    fx<QZ_Effect_Oversam>(os)->process();
    EXPECT_EQ(main_of(out), std::vector<std::int32_t>(8, 77));
}

TEST(Shifter, PeriodFollowsTheClock) {
    Owned own;
    QZ_handle s = 0, n = 0;
    ASSERT_EQ(spcpp("QZ_Effect_Shift", &s), QZ_OK);
    own.keep(s);
    ASSERT_EQ(spcpp("QZ_Effect_Nshift", &n), QZ_OK);
    own.keep(n);
    EXPECT_EQ(fx<QZ_Effect_Shift>(s)->period.load(), 512 * 16384);
    spcpp("QZ_Effect %o -clock %i", s, 96000);
    spcpp("QZ_Effect %o -clock %i", n, 44100);
    EXPECT_EQ(fx<QZ_Effect_Shift>(s)->period.load(), 1024 * 16384);
    EXPECT_EQ(fx<QZ_Effect_Nshift>(n)->period.load(), 7707033);  // 44100 * 8388608 / 48000
}

TEST(Shifter, NshiftAtSpeedZeroDelaysByOnePeriod) {
    // phase 0: the first head has weight sin^2(0) = 0, the second sin^2(pi/2) = 1
    // and reads P = 512 samples back, with the low 14 bits cut.
    std::vector<std::int32_t> out = run_shifter("QZ_Effect_Nshift", 0, 0.01, 4);
    std::vector<std::int32_t> in(out.size());
    for (std::size_t t = 0; t < in.size(); ++t)
        in[t] = static_cast<std::int32_t>(2e8 * std::sin(2 * 3.141592653589793 * 0.01 * t));
    for (std::size_t t = 600; t < out.size(); ++t) ASSERT_EQ(out[t], (in[t - 512] >> 14) * 16384) << t;
}

TEST(Shifter, PitchChangesByOneMinusSpeedOver16384) {
    const double f = 0.01;  // 480 Hz at 48 kHz
    for (const char* cls : {"QZ_Effect_Nshift", "QZ_Effect_Shift"}) {
        for (int speed : {-4096, 4096, 0}) {
            std::vector<std::int32_t> out = run_shifter(cls, speed, f, 200);
            std::vector<std::int32_t> tail(out.begin() + 4096, out.end());
            const double expected = f * (1.0 - speed / 16384.0);
            EXPECT_NEAR(crossing_rate(tail) / expected, 1.0, 0.02) << cls << " s=" << speed;
        }
    }
}

TEST(Shifter, OptionsAndMissingBuffers) {
    Owned own;
    QZ_handle in = own.buffer("in");
    spcpp("%o -l 16", in);
    QZ_handle s = own.keep(build("QZ_Effect_Shift -i %o -s 1.9 -p -7", in));
    EXPECT_EQ(opt_int("%o -s", s), 1);
    EXPECT_EQ(opt_int("%o -p", s), -7);
    fx<QZ_Effect_Shift>(s)->process();  // no output: nothing happens
    EXPECT_EQ(fx<QZ_Effect_Shift>(s)->w, 0);
}

TEST(Shifter, HostileSpeedPhaseAndClockStayInsideTheHistories) {
    for (const char* cls : {"QZ_Effect_Shift", "QZ_Effect_Nshift"}) {
        Owned own;
        QZ_handle in = own.buffer("in"), out = own.buffer("out");
        spcpp("%o -l 64", in);
        spcpp("%o -l 64", out);
        std::string cmd = std::string(cls) + " -i %o -o %o";
        QZ_handle s = own.keep(build(cmd.c_str(), in, out));
        auto* e = fx<QZ_Effect>(s);
        fill(in, std::vector<std::int32_t>(64, INT32_MIN));
        for (std::int32_t speed : {INT32_MAX, INT32_MIN, 16384, 16385, -1}) {
            for (std::int32_t clk : {0, 1, 48000, INT32_MAX}) {
                spcpp("%o -s %i -p %i", s, speed, speed);
                spcpp("QZ_Effect %o -clock %i", s, clk);
                e->process();  // under ASan/UBSan: no out-of-bounds, no overflow
            }
        }
    }
}
