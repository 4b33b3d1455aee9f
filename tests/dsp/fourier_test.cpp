// Fourier transform and noise gate: the integer butterflies against the
// extended-precision definition, transform behaviour and the gate's gains.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "core/command.h"
#include "dsp/buffer.h"
#include "dsp/deline.h"
#include "dsp/fourier.h"
#include "dsp/fourier_math.h"
#include "tests/dsp/dsp_test_util.h"

namespace {

// Random data of several kinds: full 32-bit range, extremes only (to reach the
// saturating corners), small values (many exact ties), half range, and
// magnitudes around 2^31 / sqrt(2) and 2^31 / (1 + sqrt(2)), where a
// butterfly's exact sums come closest to 64 bits without saturating.
std::vector<std::int32_t> fourier_data(std::mt19937_64& rng, std::size_t n, int kind) {
    std::vector<std::int32_t> v(n);
    for (auto& x : v) {
        const std::uint64_t r = rng();
        switch (kind) {
            case 0: x = static_cast<std::int32_t>(r); break;
            case 1:
                x = (r & 1) ? INT32_MIN + static_cast<std::int32_t>((r >> 1) % 3)
                            : INT32_MAX - static_cast<std::int32_t>((r >> 1) % 3);
                break;
            case 2: x = static_cast<std::int32_t>(r % 9) - 4; break;
            case 3: x = static_cast<std::int32_t>(r) >> (1 + (r >> 40) % 24); break;
            default: {
                const std::int32_t edge = (r >> 8) & 1 ? 1518500250 : 889516852;
                const std::int32_t m = edge + static_cast<std::int32_t>((r >> 16) % 2097153) - 1048576;
                x = (r & 1) ? m : -m;
                break;
            }
        }
    }
    return v;
}

// "%o -<opt> %i -<opt>": applies an integer and reads the option back.
std::int32_t set_int(QZ_handle h, const char* opt, std::int32_t v) {
    std::string cmd = std::string("%o -") + opt + " %i -" + opt;
    std::uint32_t r = 0xDEADBEEF;
    EXPECT_EQ(spcpp(cmd.c_str(), h, v, &r), QZ_OK);
    return static_cast<std::int32_t>(r);
}

}  // namespace

TEST(FourierMath, TwiddleTableEntries) {
    const std::int32_t* tw = QZ_fourier_twiddles();
    EXPECT_EQ(tw[0], 2147483647);
    EXPECT_EQ(tw[1], 0);
    EXPECT_EQ(tw[2 * 1024], 0);  // cos(pi/2) truncates to 0
    EXPECT_EQ(tw[2 * 1024 + 1], 2147483647);
    EXPECT_EQ(tw[2 * 512], static_cast<std::int32_t>(std::cos(3.141592653589793 / 4) * 2147483647.0));
    EXPECT_LT(tw[2 * 2047], -2147000000);  // close to cos(pi), still above -1
}

TEST(FourierMath, BitReversal) {
    EXPECT_EQ(QZ_fourier_reverse(1, 3), 4u);
    EXPECT_EQ(QZ_fourier_reverse(6, 3), 3u);
    EXPECT_EQ(QZ_fourier_reverse(1, 12), 2048u);
    EXPECT_EQ(QZ_fourier_reverse(0, 1), 0u);
}

// The integer butterflies (vector and portable paths) and the long-double
// evaluation agree bit for bit, in both directions, for every size and kind
// of data.
TEST(FourierMath, IntegerStagesMatchExtendedPrecision) {
    std::mt19937_64 rng(20261208);
    for (int s = 0; s <= 11; ++s) {
        const std::size_t words = std::size_t{4} << s;
        for (int kind = 0; kind < 5; ++kind) {
            for (int dir = 0; dir < 2; ++dir) {
                std::vector<std::int32_t> fast = fourier_data(rng, words, kind);
                std::vector<std::int32_t> ref = fast, scalar = fast;
                QZ_fourier_butterflies(fast.data(), s, dir == 0);
                QZ_fourier_butterflies_scalar(scalar.data(), s, dir == 0);
                QZ_fourier_butterflies_reference(ref.data(), s, dir == 0);
                ASSERT_EQ(fast, ref) << "s=" << s << " kind=" << kind
                                     << (dir == 0 ? " forward" : " backward");
                ASSERT_EQ(scalar, ref)
                    << "s=" << s << " kind=" << kind << (dir == 0 ? " forward" : " backward");
            }
        }
    }
}

// Single butterflies that land exactly on halves: ties go to the even neighbour.
TEST(FourierMath, RoundsTiesToEven) {
    // s = 0: one butterfly with w = 2147483647 / 2^31 (angle 0).
    // forward: (a + u) / 2 with u = b * (1 - 2^-31)
    std::int32_t d[4] = {1, 0, 0, 0};  // (1 + 0) / 2 = 0.5 -> 0, (1 - 0) / 2 -> 0
    QZ_fourier_butterflies(d, 0, true);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(d[2], 0);
    std::int32_t e[4] = {3, 0, 0, 0};  // 1.5 -> 2
    QZ_fourier_butterflies(e, 0, true);
    EXPECT_EQ(e[0], 2);
    EXPECT_EQ(e[2], 2);
    std::int32_t f[4] = {-3, 0, 0, 0};  // -1.5 -> -2
    QZ_fourier_butterflies(f, 0, true);
    EXPECT_EQ(f[0], -2);
    // backward, no halving: a + b (1 - 2^-31) for b = 2^30: a + 2^30 - 0.5
    std::int32_t g[4] = {0, 0, 1 << 30, 0};
    QZ_fourier_butterflies(g, 0, false);
    EXPECT_EQ(g[0], (1 << 30));   // 2^30 - 0.5 -> 2^30 (even)
    EXPECT_EQ(g[2], -(1 << 30));  // -(2^30 - 0.5) -> -2^30
}

TEST(FourierMath, BackwardSaturatesInsteadOfWrapping) {
    std::int32_t d[4] = {INT32_MAX, 0, INT32_MAX, 0};
    QZ_fourier_butterflies(d, 0, false);
    EXPECT_EQ(d[0], INT32_MAX);
    EXPECT_EQ(d[2], 1);  // (2^31 - 1) * 2^-31 rounds to 1
}

// ------------------------------------------------------------- transform

namespace {

struct Transform {
    Owned own;
    QZ_handle pipe, in, eff, bins;
    QZ_Fourier_Transform* t;
    Transform(int block, int s, const char* extra = "") {
        pipe = own.pipe(block);
        in = own.buffer("in");
        std::string cmd = std::string("QZ_Fourier_Transform -i %o -s %i") + extra;
        EXPECT_EQ(spcpp(cmd.c_str(), &eff, in, s), QZ_OK);
        own.keep(eff);
        end_construction(pipe);
        t = fx<QZ_Fourier_Transform>(eff);
        bins = QZ_handle_of(t->spectrum());
    }
    void run() { pipe_of(pipe)->process(); }
};

}  // namespace

TEST(FourierTransform, ForwardOfConstantIsBinZero) {
    Transform x(64, 5);  // N = 64
    fill(x.in, std::vector<std::int32_t>(64, 1000000));
    x.run();
    std::vector<std::int32_t> out = main_of(x.bins);
    ASSERT_EQ(out.size(), 128u);
    EXPECT_NEAR(out[0], 1000000, 2);
    EXPECT_NEAR(out[1], 0, 2);
    for (int k = 1; k < 64; ++k) {
        EXPECT_NEAR(out[2 * k], 0, 4) << k;
        EXPECT_NEAR(out[2 * k + 1], 0, 4) << k;
    }
}

// X[k] = (1/N) sum x[n] e^(+2 pi i k n / N): a sine at bin 1 lands in the
// imaginary parts, +A/2 at bin 1 and -A/2 at bin N - 1; a cosine at bin 3 in
// the real parts of bins 3 and N - 3.
TEST(FourierTransform, SignConventionAndScale) {
    Transform x(64, 5);
    const double a = 1 << 28;
    std::vector<std::int32_t> v(64);
    for (int i = 0; i < 64; ++i)
        v[i] = static_cast<std::int32_t>(a * std::sin(2 * 3.141592653589793 * i / 64));
    fill(x.in, v);
    x.run();
    std::vector<std::int32_t> out = main_of(x.bins);
    EXPECT_NEAR(out[2 * 1 + 1], a / 2, 8);
    EXPECT_NEAR(out[2 * 63 + 1], -a / 2, 8);
    EXPECT_NEAR(out[2 * 1], 0, 8);
    for (int i = 0; i < 64; ++i)
        v[i] = static_cast<std::int32_t>(a * std::cos(2 * 3.141592653589793 * 3 * i / 64));
    fill(x.in, v);
    x.run();
    out = main_of(x.bins);
    EXPECT_NEAR(out[2 * 3], a / 2, 8);
    EXPECT_NEAR(out[2 * 61], a / 2, 8);
    EXPECT_NEAR(out[2 * 3 + 1], 0, 8);
    EXPECT_NEAR(out[2 * 1 + 1], 0, 8);
}

TEST(FourierTransform, ForwardThenBackwardGivesInputBack) {
    Owned own;
    QZ_handle pipe = own.pipe(256);
    QZ_handle in = own.buffer("in");
    QZ_handle f = 0, b = 0;
    ASSERT_EQ(spcpp("QZ_Fourier_Transform -i %o -s %i", &f, in, 7), QZ_OK);  // N = 256
    own.keep(f);
    QZ_handle bins = static_cast<QZ_handle>(opt_int("%o -w", f));
    ASSERT_EQ(spcpp("QZ_Fourier_Transform -s %i -d %s -i %o", &b, 7, "backward", bins), QZ_OK);
    own.keep(b);
    end_construction(pipe);
    std::mt19937 rng(7);
    std::vector<std::int32_t> x(256);
    for (auto& v : x) v = static_cast<std::int32_t>(rng() % 2000001) - 1000000;
    fill(in, x);
    pipe_of(pipe)->process();
    std::vector<std::int32_t> back = main_of(QZ_handle_of(fx<QZ_Fourier_Transform>(b)->spectrum()));
    ASSERT_EQ(back.size(), 512u);
    for (int i = 0; i < 256; ++i) EXPECT_NEAR(back[2 * i], x[i], 40) << i;
}

TEST(FourierTransform, SinWindowWeighsOldestZeroAndMiddleOne) {
    Transform x(16, 3, " -win sin");  // N = 16
    std::vector<std::int32_t> v(16, 0);
    fill(x.in, v);
    x.run();
    // Only the middle sample (i = 8) set: its weight is sin(pi/2)^2 = 1; the
    // transform of a single sample has magnitude value / N in every bin.
    v[8] = 1 << 24;
    fill(x.in, v);
    x.run();
    std::vector<std::int32_t> mid = main_of(x.bins);
    EXPECT_EQ(std::abs(mid[0]), (1 << 24) / 16);
    // Only the oldest sample set: weight 0, the spectrum is all zero.
    v.assign(16, 0);
    v[0] = 1 << 24;
    fill(x.in, v);
    x.run();
    std::vector<std::int32_t> old = main_of(x.bins);
    for (int k = 0; k < 32; ++k) EXPECT_EQ(old[k], 0) << k;
}

TEST(FourierTransform, SizeOptionAndLimits) {
    Owned own;
    QZ_handle f = own.keep(0);
    ASSERT_EQ(spcpp("QZ_Fourier_Transform", &f), QZ_OK);
    own.keep(f);
    EXPECT_EQ(opt_int("%o -s", f), -1);  // unset until given
    EXPECT_EQ(opt_int("%o -w", f), 0);
    EXPECT_EQ(set_int(f, "s", 11), 11);
    QZ_handle bins = static_cast<QZ_handle>(opt_int("%o -w", f));
    EXPECT_EQ(opt_int("%o -l", bins), 8192);
    EXPECT_EQ(fx<QZ_Fourier_Transform>(f)->history()->reported_length(), 4096);
    EXPECT_EQ(set_int(f, "s", 12), 11);  // outside the twiddle table: refused
    EXPECT_EQ(set_int(f, "s", -1), 11);
    EXPECT_EQ(set_int(f, "s", 2), 2);
    EXPECT_EQ(opt_int("%o -w", f), static_cast<std::int32_t>(bins));  // same buffer, re-sized
    EXPECT_EQ(opt_int("%o -l", bins), 16);
    const char* word = nullptr;
    ASSERT_EQ(spcpp("%o -d %s -d", f, "sideways", &word), QZ_OK);
    EXPECT_STREQ(word, "forward");
    ASSERT_EQ(spcpp("%o -win %s -win", f, "sin", &word), QZ_OK);
    EXPECT_STREQ(word, "sin");
}

TEST(FourierTransform, WithoutSizeOrWithShortInputDoesNothing) {
    Owned own;
    QZ_handle pipe = own.pipe(8);
    QZ_handle in = own.buffer("in");
    QZ_handle unsized = 0, back = 0;
    ASSERT_EQ(spcpp("QZ_Fourier_Transform -i %o", &unsized, in), QZ_OK);
    own.keep(unsized);
    // backward over N = 8 needs 16 input samples; the buffer has 8
    ASSERT_EQ(spcpp("QZ_Fourier_Transform -i %o -s 2 -d backward", &back, in), QZ_OK);
    own.keep(back);
    end_construction(pipe);
    fill(in, std::vector<std::int32_t>(8, 12345));
    pipe_of(pipe)->process();
    std::vector<std::int32_t> bins = main_of(QZ_handle_of(fx<QZ_Fourier_Transform>(back)->spectrum()));
    for (std::int32_t v : bins) EXPECT_EQ(v, 0);
}

TEST(FourierTransform, DeletedSpectrumBufferIsNotTouched) {
    Transform x(32, 4);
    ASSERT_EQ(spcpp("%o -delete", x.bins), QZ_OK);
    fill(x.in, std::vector<std::int32_t>(32, 5));
    x.run();  // must not write freed memory (checked under ASan)
    EXPECT_EQ(opt_int("%o -w", x.eff), 0);
    EXPECT_EQ(set_int(x.eff, "s", 4), 4);  // -s makes a new one
    EXPECT_NE(opt_int("%o -w", x.eff), 0);
}

TEST(FourierTransform, DebugLinePrintsAverageEveryHundredPasses) {
    Transform x(8, 2);
    ASSERT_EQ(spcpp("QZ_Effect %o -debug 1", x.eff), QZ_OK);
    testing::internal::CaptureStdout();
    for (int i = 0; i < 250; ++i) x.run();
    const std::string out = testing::internal::GetCapturedStdout();
    int lines = 0;
    for (char c : out) lines += c == '\n';
    EXPECT_EQ(lines, 2);
    EXPECT_GT(x.t->average, 0.0);
}

// ------------------------------------------------------------ noise gate

namespace {

struct Gate {
    Owned own;
    QZ_handle pipe, spectrum_in, sig, gate, o1, o2;
    QZ_Fourier_Noisegate* g;
    explicit Gate(int n_bins) {
        pipe = own.pipe(n_bins);
        spectrum_in = own.buffer("spectrum");
        sig = own.buffer("signal");
        EXPECT_EQ(spcpp("%o -l %i", spectrum_in, 2 * n_bins), QZ_OK);
        EXPECT_EQ(spcpp("QZ_Fourier_Noisegate -i %o -s %o -o1 -o2", &gate, spectrum_in, sig, &o1, &o2),
                  QZ_OK);
        own.keep(gate);
        end_construction(pipe);
        g = fx<QZ_Fourier_Noisegate>(gate);
    }
};

}  // namespace

TEST(FourierNoisegate, SizesDeriveFromTheInput) {
    Gate x(256);
    EXPECT_EQ(x.g->points(), 256);
    EXPECT_EQ(x.g->t1->size_exponent(), 7);
    EXPECT_EQ(x.g->t4->window.load(), 1);
    EXPECT_TRUE(x.g->t1->backward.load());
    EXPECT_EQ(opt_int("%o -l", x.o1), 512);
    EXPECT_EQ(opt_int("%o -l", x.o2), 512);
    QZ_handle floor = static_cast<QZ_handle>(opt_int("%o -w", x.gate));
    EXPECT_EQ(opt_int("%o -l", floor), 129);
    EXPECT_EQ(x.g->delayed.get()->reported_length(), 256);
    // the internal delay line: one group, one delay of 512 samples
    EXPECT_EQ(x.g->line->groups.count, 1);
    EXPECT_EQ(x.g->line->program_length, 6);
}

TEST(FourierNoisegate, ZeroFloorPassesEveryBin) {
    Gate x(64);
    std::mt19937 rng(3);
    std::vector<std::int32_t> s(64);
    for (auto& v : s) v = static_cast<std::int32_t>(rng() % 200001) - 100000;
    fill(x.sig, s);
    pipe_of(x.pipe)->process();
    std::vector<std::int32_t> gains(x.g->gain.get()->main_block(), x.g->gain.get()->main_block() + 128);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(gains[2 * i], 2097151) << i;
        EXPECT_EQ(gains[2 * i + 1], 0) << i;
    }
}

// With every gain 1.0 the filter is a unit impulse: its first half's spectrum
// is 2097151 in every bin and the second half's is 0, so both outputs give the
// input spectrum back, scaled by 2097151 * 1024 / (2^31 - 1) (just below 1).
// The first output uses the previous pass's filter: zero on the first pass.
TEST(FourierNoisegate, ZeroFloorPassesTheSpectrumThrough) {
    Gate x(64);
    std::mt19937 rng(11);
    std::vector<std::int32_t> bins(128);
    for (auto& v : bins) v = static_cast<std::int32_t>(rng() % 2000001) - 1000000;
    fill(x.spectrum_in, bins);
    fill(x.sig, std::vector<std::int32_t>(64, 0));
    pipe_of(x.pipe)->process();
    std::vector<std::int32_t> first = main_of(x.o1), second = main_of(x.o2);
    for (int i = 0; i < 128; ++i) {
        EXPECT_EQ(first[i], 0) << i;
        EXPECT_NEAR(second[i], bins[i], 2) << i;
    }
    pipe_of(x.pipe)->process();
    first = main_of(x.o1);
    for (int i = 0; i < 128; ++i) EXPECT_NEAR(first[i], bins[i], 2) << i;
}

TEST(FourierNoisegate, AdaptedFloorFollowsTheSignal) {
    Gate x(64);
    ASSERT_EQ(spcpp("%o -a 1", x.gate), QZ_OK);
    std::vector<std::int32_t> s(64);
    for (int i = 0; i < 64; ++i)
        s[i] = static_cast<std::int32_t>(1e7 * std::sin(2 * 3.141592653589793 * 4 * i / 64));
    fill(x.sig, s);
    for (int pass = 0; pass < 5; ++pass) pipe_of(x.pipe)->process();
    const std::int32_t* floor = x.g->floor.get()->main_block();
    // bin 4 carries the tone, so its floor rose; gains there are now below 1.0
    EXPECT_GT(floor[4], 100000);
    EXPECT_LT(x.g->gain.get()->main_block()[8], 2097151);
    EXPECT_GE(x.g->gain.get()->main_block()[8], 0);
}

TEST(FourierNoisegate, RefusesBadInputAndDoesNothingBeforeIt) {
    Owned own;
    QZ_handle pipe = own.pipe(64);
    QZ_handle odd = own.buffer("odd"), sig = own.buffer("signal");
    ASSERT_EQ(spcpp("%o -l %i", odd, 100), QZ_OK);
    QZ_handle gate = 0, o1 = 7;
    ASSERT_EQ(spcpp("QZ_Fourier_Noisegate -s %o -o1", &gate, sig, &o1), QZ_OK);
    own.keep(gate);
    EXPECT_EQ(o1, 0u);  // no size yet: no output made
    end_construction(pipe);
    pipe_of(pipe)->process();  // used before -i: nothing happens
    EXPECT_EQ(opt_int("%o -i", gate), 0);
    ASSERT_EQ(spcpp("%o -i %o", gate, odd), QZ_OK);  // 100 is not a power of two
    EXPECT_EQ(opt_int("%o -i", gate), 0);
    EXPECT_EQ(fx<QZ_Fourier_Noisegate>(gate)->points(), 0);
    pipe_of(pipe)->process();
}

// Every buffer the gate works on is an ordinary buffer that any command can
// re-size by handle. A pass whose buffers no longer fit the gate's size leaves
// the outputs alone instead of reading or writing past them.
TEST(FourierNoisegate, InternalBuffersResizedByHandleStopThePass) {
    for (int which = 0;; ++which) {
        Gate x(64);
        std::vector<QZ_handle> inner;
        for (QZ_Fourier_Transform* t : {x.g->t1, x.g->t2, x.g->t3, x.g->t4, x.g->t5}) {
            // the transform's own option reports its spectrum
            inner.push_back(static_cast<QZ_handle>(
                QZ_Fourier_Transform::m_w(t, QZ_EMPTY).as_word()));
            inner.push_back(QZ_handle_of(t->history()));
        }
        for (QZ_Buffer_ref* r : {&x.g->half1, &x.g->half2, &x.g->gain})
            inner.push_back(r->handle);
        inner.push_back(static_cast<QZ_handle>(opt_int("%o -w", x.gate)));
        if (which == static_cast<int>(inner.size())) break;
        fill(x.sig, std::vector<std::int32_t>(64, 1 << 20));
        fill(x.spectrum_in, std::vector<std::int32_t>(128, 1000));
        pipe_of(x.pipe)->process();
        for (std::int32_t length : {4, 0}) {
            ASSERT_EQ(spcpp("%o -l %i", inner[which], length), QZ_OK);
            fill(x.o1, std::vector<std::int32_t>(128, 77));
            fill(x.o2, std::vector<std::int32_t>(128, 77));
            pipe_of(x.pipe)->process();
            EXPECT_EQ(main_of(x.o1), std::vector<std::int32_t>(128, 77)) << which << " " << length;
            EXPECT_EQ(main_of(x.o2), std::vector<std::int32_t>(128, 77)) << which << " " << length;
        }
    }
}

// With a zero floor every gain is 1.0, so at every size the gate accepts
// both outputs give the input spectrum back (the first from the second pass on).
TEST(FourierNoisegate, UnityGainAtEveryAcceptedSize) {
    for (int length = 4; length <= 8192; length *= 2) {
        const int n = length / 2;
        Gate x(n);
        ASSERT_EQ(x.g->points(), n);
        std::vector<std::int32_t> bins(length);
        for (int i = 0; i < length; ++i) bins[i] = (i % 3 == 0 ? 1000000 : -777777) + 13 * i;
        fill(x.spectrum_in, bins);
        fill(x.sig, std::vector<std::int32_t>(n, 0));
        pipe_of(x.pipe)->process();
        pipe_of(x.pipe)->process();
        const std::vector<std::int32_t> first = main_of(x.o1), second = main_of(x.o2);
        for (int i = 0; i < length; ++i) {
            ASSERT_NEAR(first[i], bins[i], 4) << "L " << length << " sample " << i;
            ASSERT_NEAR(second[i], bins[i], 4) << "L " << length << " sample " << i;
        }
    }
}
