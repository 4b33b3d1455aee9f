// Frequency multipliers: the k = 1 delay, doubling a sine, the factor limits,
// and the shaped copies of Nefreqmul.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/command.h"
#include "dsp/freqmul.h"
#include "tests/dsp/dsp_test_util.h"
#include "tests/dsp/library_test_util.h"

namespace {

struct Mul {
    Owned own;
    QZ_handle pipe, in, out, fx;
    Mul(const char* cls, int k, int block = 64) {
        pipe = own.pipe(block);
        in = own.buffer("in");
        out = own.buffer("out");
        std::string cmd = std::string(cls) + " -i %o -o %o -k %o";
        fx = own.keep(build(cmd.c_str(), in, out, static_cast<QZ_handle>(k)));
        end_construction(pipe);
        spcpp("QZ_Effect %o -clock %i", fx, 48000);
    }
    std::vector<std::int32_t> run(const std::vector<std::int32_t>& x) {
        fill(in, x);
        pipe_of(pipe)->process();
        return main_of(out);
    }
};

int upward_crossings(const std::vector<std::int32_t>& x, std::size_t from) {
    int n = 0;
    for (std::size_t i = from + 1; i < x.size(); ++i) n += x[i - 1] < 0 && x[i] >= 0;
    return n;
}

}  // namespace

TEST(Freqmul, FactorOneDelaysByClockTimesDelayPlusBlock) {
    Mul m("QZ_Effect_Freqmul", 1);
    EXPECT_EQ(fx<QZ_Effect_Freqmul>(m.fx)->delay(64), 960 + 64);  // 48000 * 0.02 + 64
    spcpp("QZ_Effect %o -clock %i", m.fx, 44100);
    EXPECT_EQ(fx<QZ_Effect_Freqmul>(m.fx)->delay(64), 882 + 64);
    spcpp("QZ_Effect %o -clock %i", m.fx, 48000);
    // Input sample t is stored one index after the write index advanced, so
    // output sample t reads input t - (D + 1). Any signal, crossings or not.
    std::vector<std::int32_t> in, out;
    for (int b = 0; b < 40; ++b) {
        std::vector<std::int32_t> x(64);
        for (int i = 0; i < 64; ++i) x[i] = ((b * 64 + i) * 7919 % 2001) - 1000;
        in.insert(in.end(), x.begin(), x.end());
        std::vector<std::int32_t> o = m.run(x);
        out.insert(out.end(), o.begin(), o.end());
    }
    for (std::size_t t = 1100; t < out.size(); ++t) ASSERT_EQ(out[t], in[t - 1025]) << t;
}

TEST(Freqmul, FactorTwoDoublesASine) {
    Mul m("QZ_Effect_Freqmul", 2);
    std::vector<std::int32_t> out;
    long t = 0;
    for (int b = 0; b < 100; ++b) {
        std::vector<std::int32_t> x(64);
        for (auto& v : x)
            v = static_cast<std::int32_t>(1e8 * std::sin(2 * 3.141592653589793 * t++ / 64.0 + 0.1));
        std::vector<std::int32_t> o = m.run(x);
        out.insert(out.end(), o.begin(), o.end());
    }
    // 3200 samples after settling: 50 input periods, 100 output periods
    EXPECT_NEAR(upward_crossings(out, 3200), 100, 1);
    // and the shape is the sine at twice the frequency: each output period of
    // 32 samples repeats the input's every other sample
    std::vector<std::int32_t> tail(out.end() - 64, out.end());
    for (int i = 0; i < 32; ++i) EXPECT_EQ(tail[i], tail[i + 32]);
}

TEST(Freqmul, FactorsOutsideTheRangeAreRefused) {
    Mul m("QZ_Effect_Freqmul", 3);
    EXPECT_EQ(opt_int("%o -k", m.fx), 3);
    for (int bad : {0, -1, QZ_FREQMUL_MAX_K + 1, INT32_MIN}) {
        spcpp("%o -k %i", m.fx, bad);
        EXPECT_EQ(opt_int("%o -k", m.fx), 3) << bad;
    }
    spcpp("%o -k %f", m.fx, 4.9);
    EXPECT_EQ(opt_int("%o -k", m.fx), 4);
    Mul n("QZ_Effect_Nefreqmul", 0);  // refused at once: the default stays
    EXPECT_EQ(opt_int("%o -k", n.fx), 2);
}

TEST(Nefreqmul, DoublesASineWithShapedCopies) {
    Mul m("QZ_Effect_Nefreqmul", 2);
    EXPECT_FLOAT_EQ(read_float(m.fx, "rand"), 0.6f);
    EXPECT_FLOAT_EQ(read_float(m.fx, "stab"), 0.7f);
    std::vector<std::int32_t> out;
    long t = 0;
    for (int b = 0; b < 100; ++b) {
        std::vector<std::int32_t> x(64);
        for (auto& v : x)
            v = static_cast<std::int32_t>(1e8 * std::sin(2 * 3.141592653589793 * t++ / 64.0 + 0.1));
        std::vector<std::int32_t> o = m.run(x);
        out.insert(out.end(), o.begin(), o.end());
    }
    EXPECT_NEAR(upward_crossings(out, 3200), 100, 2);
    auto* e = fx<QZ_Effect_Nefreqmul>(m.fx);
    EXPECT_GT(e->slope, 0.1);  // the mean slope follows the accepted crossings
    // switching off clears the ring and the slope
    spcpp("QZ_Effect %o -on 0", m.fx);
    pipe_of(m.pipe)->process();
    EXPECT_EQ(e->slope, 0.0);
    for (std::int32_t i = 0; i < QZ_Effect_Nefreqmul::RING; ++i) ASSERT_EQ(e->ring[i], 0) << i;
}

TEST(Nefreqmul, ModesCombineIntoTheOutput) {
    Mul m("QZ_Effect_Nefreqmul", 1);
    std::vector<std::int32_t> x(64);
    for (int i = 0; i < 64; ++i) x[i] = 1000 + i;
    for (int b = 0; b < 40; ++b) m.run(x);  // fill the ring past the delay
    std::vector<std::int32_t> set = m.run(x);
    spcpp("%o -mode add", m.fx);
    fill(m.out, std::vector<std::int32_t>(64, 5));
    std::vector<std::int32_t> add = m.run(x);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(add[i], set[i] + 5) << i;
}

TEST(Freqmul, ExtremeClocksReadTheRingAtTheWrappedDelay) {
    // A clock at either end of the integer range saturates the delay; the first
    // index read is still the read index less the delay in 32-bit wrap, mod the ring.
    for (const char* cls : {"QZ_Effect_Freqmul", "QZ_Effect_Nefreqmul"})
        for (std::int32_t clock : {INT32_MIN, -48000, INT32_MAX}) {
            const std::int32_t k = QZ_FREQMUL_MAX_K;  // with the lowest clock, a delay below -2^31
            Mul m(cls, k);
            spcpp("QZ_Effect %o -clock %i", m.fx, clock);
            const bool ne = std::string(cls) == "QZ_Effect_Nefreqmul";
            auto* f = fx<QZ_Effect_Freqmul>(m.fx);
            auto* n = fx<QZ_Effect_Nefreqmul>(m.fx);
            const std::int32_t read = ne ? n->read : f->read;
            const std::int32_t delay =
                ne ? QZ_trunc_to_int(static_cast<float>(clock) * n->g * static_cast<float>(k)) : f->delay(64);
            const std::int32_t ring_size = ne ? QZ_Effect_Nefreqmul::RING : QZ_Effect_Freqmul::RING;
            std::vector<std::int32_t> x(64);
            for (int i = 0; i < 64; ++i) x[i] = 1000 + i;
            const std::vector<std::int32_t> out = m.run(x);
            // The block reads after all its writes: the ring as it is afterwards.
            const std::int32_t* ring = ne ? n->ring.get() : f->ring.get();
            std::uint32_t j = static_cast<std::uint32_t>(read) - static_cast<std::uint32_t>(delay);
            for (int i = 0; i < 64; ++i, j += k)
                ASSERT_EQ(out[i], ring[j & static_cast<std::uint32_t>(ring_size - 1)])
                    << cls << " " << clock << " " << i;
        }
}
