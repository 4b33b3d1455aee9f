// Low-pass, high-pass, band-pass and level glide: exact numbers and refusals.
#include <cmath>
#include <cstring>

#include "dsp/filters.h"
#include "tests/dsp/dsp_test_util.h"

namespace {
// A pipe of block length n with buffers in, out and an effect "<cls> -i in -o out".
struct Rig {
    Owned own;
    QZ_handle pipe, in, out, fx;
    Rig(const char* cls_command, int n) {
        pipe = own.pipe(n);
        in = own.buffer("in");
        out = own.buffer("out");
        fx = own.effect(cls_command, in, out);
        end_construction(pipe);
    }
    std::vector<std::int32_t> run(const std::vector<std::int32_t>& x) {
        fill(in, x);
        pipe_of(pipe)->process();
        return main_of(out);
    }
};
}  // namespace

TEST(Lopass, CoefficientsAtCommonClocks) {
    EXPECT_EQ(QZ_lopass_coefficient(1000, 44100, 0), 535616699u);
    EXPECT_EQ(QZ_lopass_coefficient(20, 44100, 0), 12203807u);
    EXPECT_EQ(QZ_lopass_coefficient(20000, 44100, 0), 3179251445u);
    EXPECT_EQ(QZ_lopass_coefficient(1000, 48000, 0), 497135075u);
    // Zero (and, as a guard, negative) frequency or clock keep the previous one.
    EXPECT_EQ(QZ_lopass_coefficient(0, 44100, 77), 77u);
    EXPECT_EQ(QZ_lopass_coefficient(1000, 0, 77), 77u);
    EXPECT_EQ(QZ_lopass_coefficient(-1000, 44100, 77), 77u);
    EXPECT_EQ(QZ_lopass_coefficient(1000, -44100, 77), 77u);
}

TEST(Lopass, CoefficientFollowsFrequencyAndClockOptions) {
    Rig r("QZ_Effect_Lopass -i %o -o %o", 8);
    auto* lp = fx<QZ_Effect_Lopass>(r.fx);
    spcpp("%o -f %i", r.fx, 1000);
    EXPECT_EQ(lp->coefficient(), 0u);  // no clock yet
    spcpp("QZ_Effect %o -clock %i", r.fx, 44100);
    EXPECT_EQ(lp->coefficient(), 535616699u);
    spcpp("QZ_Effect %o -clock %i", r.fx, 48000);
    EXPECT_EQ(lp->coefficient(), 497135075u);
    spcpp("%o -f %f", r.fx, 440.7);
    EXPECT_EQ(opt_int("%o -f", r.fx), 440);
    EXPECT_EQ(lp->coefficient(), QZ_lopass_coefficient(440, 48000, 0));
    spcpp("%o -f %i", r.fx, 0);  // kept
    EXPECT_EQ(lp->coefficient(), QZ_lopass_coefficient(440, 48000, 0));
    // Processing never recomputes: a coefficient set by hand survives passes.
    lp->k = 12345u;
    r.run(std::vector<std::int32_t>(8, 1 << 20));
    EXPECT_EQ(lp->coefficient(), 12345u);
}

TEST(Lopass, HeldInputRisesAndSettlesFourBelow) {
    const int n = 512;
    Rig r("QZ_Effect_Lopass -i %o -o %o", n);
    spcpp("QZ_Effect %o -clock %i", r.fx, 44100);
    spcpp("%o -f %i", r.fx, 1000);
    std::vector<std::int32_t> y = r.run(std::vector<std::int32_t>(n, 1 << 30));
    const std::int32_t first[] = {133904175, 251109430, 353698255, 443493435, 522090439, 590885769};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(y[i], first[i]) << i;
    std::int32_t prev = 0;
    for (int pass = 0; pass < 4; ++pass) {
        for (int i = 0; i < n; ++i) {
            ASSERT_GE(y[i], prev) << pass << " " << i;
            ASSERT_LE(y[i], 1073741820) << pass << " " << i;
            prev = y[i];
        }
        y = r.run(std::vector<std::int32_t>(n, 1 << 30));
    }
    EXPECT_EQ(y.back(), 1073741820);
    EXPECT_EQ(y.front(), 1073741820);

    // The negated input gives exactly the negated outputs.
    Rig neg("QZ_Effect_Lopass -i %o -o %o", n);
    spcpp("QZ_Effect %o -clock %i", neg.fx, 44100);
    spcpp("%o -f %i", neg.fx, 1000);
    std::vector<std::int32_t> ny = neg.run(std::vector<std::int32_t>(n, -(1 << 30)));
    Rig pos("QZ_Effect_Lopass -i %o -o %o", n);
    spcpp("QZ_Effect %o -clock %i", pos.fx, 44100);
    spcpp("%o -f %i", pos.fx, 1000);
    std::vector<std::int32_t> py = pos.run(std::vector<std::int32_t>(n, 1 << 30));
    for (int i = 0; i < n; ++i) ASSERT_EQ(ny[i], -py[i]) << i;
}

TEST(Lopass, ModesAddAndStnKeepThePositiveState) {
    const int n = 6;
    const std::int32_t first[] = {133904175, 251109430, 353698255, 443493435, 522090439, 590885769};
    for (const char* mode : {"add", "stn", "sub", "adn", "sbn"}) {
        Rig r("QZ_Effect_Lopass -i %o -o %o", n);
        spcpp("QZ_Effect %o -clock %i", r.fx, 44100);
        spcpp("%o -f %i -mode %s", r.fx, 1000, mode);
        const std::vector<std::int32_t> held(n, 1 << 30);
        const std::vector<std::int32_t> before = {10, -20, 30, -40, 50, 1 << 30};
        fill(r.out, before);
        std::vector<std::int32_t> got = r.run(held);
        for (int i = 0; i < n; ++i) {
            const std::int64_t o = before[i], y = first[i];
            std::int64_t want = 0;
            if (!std::strcmp(mode, "add")) want = o + y;
            if (!std::strcmp(mode, "stn")) want = -y;
            if (!std::strcmp(mode, "sub")) want = o - y;
            if (!std::strcmp(mode, "adn")) want = -(o + y);
            if (!std::strcmp(mode, "sbn")) want = y - o;
            EXPECT_EQ(got[i], static_cast<std::int32_t>(static_cast<std::uint32_t>(want))) << mode << " " << i;
        }
        EXPECT_EQ(fx<QZ_Effect_Lopass>(r.fx)->y, first[5]) << mode;
    }
}

TEST(Hipass, PlusLopassGivesTheInput) {
    const int n = 1024;
    Rig lo("QZ_Effect_Lopass -i %o -o %o", n);
    Rig hi("QZ_Effect_Hipass -i %o -o %o", n);
    for (QZ_handle e : {lo.fx, hi.fx}) {
        spcpp("QZ_Effect %o -clock %i", e, 48000);
        spcpp("%o -f %i", e, 3000);
    }
    std::vector<std::int32_t> x(n);
    std::uint32_t seed = 12345;
    for (auto& s : x) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<std::int32_t>(seed) >> 2;  // within the buffers' headroom
    }
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<std::int32_t> a = lo.run(x), b = hi.run(x);
        for (int i = 0; i < n; ++i) ASSERT_EQ(a[i] + b[i], x[i]) << pass << " " << i;
    }
    // The high-pass ignores the mode: it always writes.
    spcpp("%o -mode %s", hi.fx, "add");
    fill(hi.out, std::vector<std::int32_t>(n, 999));
    std::vector<std::int32_t> a = lo.run(x), b = hi.run(x);
    for (int i = 0; i < n; ++i) ASSERT_EQ(a[i] + b[i], x[i]) << i;
}

namespace {
// The band-pass in closed form, in long double, for one input sequence.
std::vector<long double> bapass_closed_form(const std::vector<std::int32_t>& x, double f, double q, double clock) {
    const long double pi = 3.141592653589793L;
    const long double wa = 2 * pi * f * q, wb = 2 * pi * f / q;
    const long double G = clock * ((wb - wa) / (wb * wa)) * 0.5L, H = clock * clock / (wb * wa);
    std::vector<long double> y(x.size());
    long double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (std::size_t t = 0; t < x.size(); ++t) {
        y[t] = (G * (x[t] - x2) + (2 * H - 1) * y1 - (H - G) * y2) / (G + H);
        x2 = x1;
        x1 = x[t];
        y2 = y1;
        y1 = y[t];
    }
    return y;
}

std::vector<std::int32_t> sweep(int n, double clock) {
    // A sine sweep from 50 Hz to 10 kHz at amplitude 2^28.
    std::vector<std::int32_t> x(n);
    double phase = 0;
    for (int t = 0; t < n; ++t) {
        const double freq = 50.0 * std::pow(200.0, static_cast<double>(t) / n);
        phase += 2 * 3.141592653589793 * freq / clock;
        x[t] = static_cast<std::int32_t>(std::sin(phase) * (1 << 28));
    }
    return x;
}
}  // namespace

TEST(Bapass, BothImplementationsFollowTheClosedForm) {
    const int n = 4096, block = 512;
    const double clock = 44100, f = 1000, q = 0.5;
    const std::vector<std::int32_t> x = sweep(n, clock);
    const std::vector<long double> want = bapass_closed_form(x, f, q, clock);
    long double peak = 0;
    for (long double v : want) peak = std::max(peak, std::fabs(v));
    ASSERT_GT(peak, (1 << 27));  // the sweep passes the band

    for (const char* impl : {"integer", "floating"}) {
        Rig r("QZ_Effect_Bapass -i %o -o %o", block);
        spcpp("QZ_Effect %o -clock %i", r.fx, static_cast<int>(clock));
        spcpp("%o -a %s -f %f -q %f", r.fx, impl, f, q);
        long double worst = 0;
        for (int b = 0; b < n / block; ++b) {
            std::vector<std::int32_t> chunk(x.begin() + b * block, x.begin() + (b + 1) * block);
            std::vector<std::int32_t> got = r.run(chunk);
            for (int i = 0; i < block; ++i) worst = std::max(worst, std::fabs(got[i] - want[b * block + i]));
        }
        // Floating point: only the truncation of each output (below 1). Integer:
        // coefficients rounded to 31 (30) fractional bits and three truncated
        // products a sample, accumulated through the recursion: a few units in
        // 2^28 at most.
        const long double bound = std::strcmp(impl, "floating") == 0 ? 1.0L : 64.0L;
        EXPECT_LT(worst, bound) << impl;
        RecordProperty(impl, std::to_string(static_cast<double>(worst)));
    }
}

TEST(Bapass, CoefficientsAndTheirGuards) {
    Rig r("QZ_Effect_Bapass -i %o -o %o", 8);
    auto* bp = fx<QZ_Effect_Bapass>(r.fx);
    spcpp("QZ_Effect %o -clock %i", r.fx, 44100);
    spcpp("%o -f %i -q %f", r.fx, 1000, 2.0);  // integer -f is converted to float
    const double pi = 3.141592653589793, f = 1000, q = 2, clock = 44100;
    const double wa = 2 * pi * f * q, wb = 2 * pi * f / q;
    const double G = clock * ((wb - wa) / (wb * wa)) * 0.5, H = clock * clock * (1 / (wb * wa)), D = G + H;
    EXPECT_DOUBLE_EQ(bp->c0.load(), (2 * G + 1) / D);
    EXPECT_DOUBLE_EQ(bp->c2.load(), G / D);
    EXPECT_EQ(bp->k1.load(), static_cast<std::int32_t>(2 * G / D * 2147483648.0));
    EXPECT_EQ(bp->k0.load(), static_cast<std::int32_t>((2 * G + 1) / D * 1073741824.0));
    const std::int32_t k0 = bp->k0, k1 = bp->k1, k2 = bp->k2;

    // q of 1 or 0, a non-finite q or f, and the q where G + H = 0 keep them.
    for (float bad : {1.0f, 0.0f, NAN, INFINITY}) {
        spcpp("%o -q %f", r.fx, static_cast<double>(bad));
        EXPECT_EQ(bp->k0.load(), k0) << bad;
        EXPECT_EQ(bp->k1.load(), k1) << bad;
        EXPECT_EQ(bp->k2.load(), k2) << bad;
    }
    spcpp("%o -q %f -f %f", r.fx, 2.0, static_cast<double>(NAN));
    EXPECT_EQ(bp->k2.load(), k2);
    spcpp("%o -f %f", r.fx, 0.0);
    EXPECT_EQ(bp->k2.load(), k2);
    // Large q near the pole of the formula: saturated, never undefined.
    spcpp("%o -f %f -q %f", r.fx, 1000.0, 14.06);
    std::vector<std::int32_t> out = r.run(std::vector<std::int32_t>(8, 1 << 28));
    (void)out;  // whatever the values, UBSan and ASan stay quiet

    const char* word = nullptr;
    spcpp("%o -a", r.fx, &word);
    EXPECT_STREQ(word, "integer");
    spcpp("%o -a %s", r.fx, "floating");
    spcpp("%o -a", r.fx, &word);
    EXPECT_STREQ(word, "floating");
    spcpp("%o -a %i", r.fx, 0);  // not text: unchanged
    spcpp("%o -a", r.fx, &word);
    EXPECT_STREQ(word, "floating");
    spcpp("%o -a %s", r.fx, "xyz");
    spcpp("%o -a", r.fx, &word);
    EXPECT_STREQ(word, "integer");
}

TEST(Bapass, IntegerModesCombineAndStateKeepsTheResult) {
    const int n = 64;
    const std::vector<std::int32_t> x = sweep(n, 8000);
    Rig ref("QZ_Effect_Bapass -i %o -o %o", n);
    spcpp("QZ_Effect %o -clock %i", ref.fx, 8000);
    spcpp("%o -f %f -q %f", ref.fx, 700.0, 0.3);
    const std::vector<std::int32_t> r1 = ref.run(x), r2 = ref.run(x);

    Rig sub("QZ_Effect_Bapass -i %o -o %o", n);
    spcpp("QZ_Effect %o -clock %i", sub.fx, 8000);
    spcpp("%o -f %f -q %f -mode %s", sub.fx, 700.0, 0.3, "sbn");
    fill(sub.out, std::vector<std::int32_t>(n, 5));
    std::vector<std::int32_t> s1 = sub.run(x);
    fill(sub.out, std::vector<std::int32_t>(n, 5));
    std::vector<std::int32_t> s2 = sub.run(x);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(s1[i], r1[i] - 5) << i;
        EXPECT_EQ(s2[i], r2[i] - 5) << i;
    }
    // Reset (switch off) clears the history: a fresh run repeats the first block.
    spcpp("QZ_Effect %o -on %i", ref.fx, 0);
    ref.run(x);
    spcpp("QZ_Effect %o -on %i", ref.fx, 1);
    ref.run(x);  // crossfade pass
    Rig fresh("QZ_Effect_Bapass -i %o -o %o", n);
    spcpp("QZ_Effect %o -clock %i", fresh.fx, 8000);
    spcpp("%o -f %f -q %f", fresh.fx, 700.0, 0.3);
    fresh.run(x);
    EXPECT_EQ(ref.run(x), fresh.run(x));
}

// The floating-point implementation combines in double and truncates toward
// zero; the negating modes are extended the same way.
TEST(Bapass, FloatingModesCombineBeforeTruncating) {
    const int n = 128;
    const std::vector<std::int32_t> x = sweep(n, 8000);
    std::vector<std::int32_t> prior(n);
    for (int i = 0; i < n; ++i) prior[i] = (i * 7 - 300) * 3;
    auto run = [&](const char* mode) {
        Rig r("QZ_Effect_Bapass -i %o -o %o", n);
        spcpp("QZ_Effect %o -clock %i", r.fx, 8000);
        // 700 and 0.25 are exact in single precision, as the closed form needs.
        spcpp("%o -a %s -f %f -q %f -mode %s", r.fx, "floating", 700.0, 0.25, mode);
        fill(r.out, prior);
        return r.run(x);
    };
    // The unrounded results, from the closed form (agreeing to far below 1e-6).
    const std::vector<long double> y = bapass_closed_form(x, 700.0, 0.25, 8000);
    const std::vector<std::int32_t> set = run("set"), add = run("add"), sub = run("sub");
    const std::vector<std::int32_t> stn = run("stn"), adn = run("adn"), sbn = run("sbn");
    for (int i = 0; i < n; ++i) {
        const long double r = y[i], o = prior[i];
        auto near = [&](std::int32_t got, long double want) {
            // Truncation toward zero of a value within 1e-6 of want.
            EXPECT_LE(std::fabs(got - std::trunc(want)), (std::fabs(want - std::round(want)) < 1e-6L) ? 1 : 0)
                << i << " " << static_cast<double>(want);
        };
        near(set[i], r);
        near(add[i], o + r);
        near(sub[i], o - r);
        near(stn[i], -r);
        near(adn[i], -(o + r));
        near(sbn[i], r - o);
        EXPECT_EQ(stn[i], -set[i]) << i;
    }
}

TEST(Lgd, InputAtOrBelowTargetPassesThrough) {
    const int n = 256;
    Rig r("QZ_Effect_Lgd -i %o -o %o", n);
    EXPECT_EQ(r.run(std::vector<std::int32_t>(n, 0)), std::vector<std::int32_t>(n, 0));
    EXPECT_EQ(fx<QZ_Effect_Lgd>(r.fx)->v, 0.0);
    std::vector<std::int32_t> low(n);
    for (int i = 0; i < n; ++i) low[i] = (i - 128) * 1000000;  // all below 0.1 x 2^31
    EXPECT_EQ(r.run(low), low);
}

TEST(Lgd, InputAboveTargetGlidesTowardIt) {
    const int n = 512;
    Rig r("QZ_Effect_Lgd -i %o -o %o", n);
    spcpp("%o -c %f", r.fx, 0.25);
    float c = 0;
    spcpp("%o -c", r.fx, &c);
    EXPECT_EQ(c, 0.25f);
    const std::int32_t high = 0x60000000;  // 0.75
    std::vector<std::int32_t> out = r.run(std::vector<std::int32_t>(n, high));
    EXPECT_EQ(out[0], high);  // v is still 0 at the first sample
    const std::int32_t target = 0x20000000;
    for (int i = 1; i < n; ++i) {
        ASSERT_LE(out[i], out[i - 1]) << i;
        ASSERT_GT(out[i], target) << i;
    }
    EXPECT_LT(out.back() - target, (high - target) / 20);

    // A target that is not finite is refused.
    spcpp("%o -c %f", r.fx, static_cast<double>(NAN));
    spcpp("%o -c", r.fx, &c);
    EXPECT_EQ(c, 0.25f);
    // Reset clears the level: the first output is the input again.
    fx<QZ_Effect_Lgd>(r.fx)->reset();
    EXPECT_EQ(r.run(std::vector<std::int32_t>(n, high))[0], high);
}
