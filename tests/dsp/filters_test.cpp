// Low-pass, high-pass, band-pass and level glide: exact numbers and refusals.
#include <cmath>
#include <cstring>

#include "dsp/filters.h"
#include "tests/dsp/dsp_test_util.h"

namespace {
// A pipe of block length n with buffers in, out and "<cls> -i in -o out"; a
// clock and frequency are set when given.
struct Rig {
    Owned own;
    QZ_handle pipe, in, out, fx;
    Rig(const char* cls_command, int n, int clock = 0, int f = 0) {
        pipe = own.pipe(n);
        in = own.buffer("in");
        out = own.buffer("out");
        fx = own.effect(cls_command, in, out);
        end_construction(pipe);
        if (clock) spcpp("QZ_Effect %o -clock %i", fx, clock);
        if (f) spcpp("%o -f %i", fx, f);
    }
    std::vector<std::int32_t> run(const std::vector<std::int32_t>& x) {
        fill(in, x);
        pipe_of(pipe)->process();
        return main_of(out);
    }
};

const char* const kLopass = "QZ_Effect_Lopass -i %o -o %o";
const std::int32_t kFirst[] = {133904175, 251109430, 353698255, 443493435, 522090439, 590885769};
}  // namespace

TEST(Lopass, CoefficientsAndWhenTheyChange) {
    EXPECT_EQ(QZ_lopass_coefficient(1000, 44100, 0), 535616699u);
    EXPECT_EQ(QZ_lopass_coefficient(20, 44100, 0), 12203807u);
    EXPECT_EQ(QZ_lopass_coefficient(20000, 44100, 0), 3179251445u);
    EXPECT_EQ(QZ_lopass_coefficient(1000, 48000, 0), 497135075u);
    EXPECT_EQ(QZ_lopass_coefficient(INT32_MAX, 1, 0), 4294967295u);  // just below 2^32
    // Zero (and, as a guard, negative) frequency or clock keep the previous one.
    for (auto [f, clock] : {std::pair{0, 44100}, {1000, 0}, {-1000, 44100}, {1000, -44100}})
        EXPECT_EQ(QZ_lopass_coefficient(f, clock, 77), 77u) << f << " " << clock;

    Rig r(kLopass, 8, 0, 1000);
    auto* lp = fx<QZ_Effect_Lopass>(r.fx);
    EXPECT_EQ(lp->coefficient(), 0u);  // no clock yet
    spcpp("QZ_Effect %o -clock %i", r.fx, 48000);
    EXPECT_EQ(lp->coefficient(), 497135075u);
    spcpp("%o -f %f", r.fx, 440.7);
    EXPECT_EQ(opt_int("%o -f", r.fx), 440);
    EXPECT_EQ(lp->coefficient(), QZ_lopass_coefficient(440, 48000, 0));
    lp->k = 12345u;  // passes never recompute
    r.run(std::vector<std::int32_t>(8, 1 << 20));
    EXPECT_EQ(lp->coefficient(), 12345u);
}

TEST(Lopass, HeldInputRisesAndSettlesFourBelow) {
    const int n = 512;
    Rig r(kLopass, n, 44100, 1000), neg(kLopass, n, 44100, 1000);
    std::vector<std::int32_t> y = r.run(std::vector<std::int32_t>(n, 1 << 30));
    const std::vector<std::int32_t> ny = neg.run(std::vector<std::int32_t>(n, -(1 << 30)));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(y[i], kFirst[i]) << i;
    for (int i = 0; i < n; ++i) ASSERT_EQ(ny[i], -y[i]) << i;  // exactly negated
    std::int32_t prev = 0;
    for (int pass = 0; pass < 4; ++pass) {
        for (int i = 0; i < n; ++i) {
            ASSERT_GE(y[i], prev) << pass << " " << i;
            ASSERT_LE(y[i], 1073741820) << pass << " " << i;
            prev = y[i];
        }
        y = r.run(std::vector<std::int32_t>(n, 1 << 30));
    }
    EXPECT_EQ(y.front(), 1073741820);
    EXPECT_EQ(y.back(), 1073741820);
}

TEST(Lopass, ModesCombineAndTheStateStaysPositive) {
    const char* modes[] = {"set", "add", "sub", "stn", "adn", "sbn"};
    const std::vector<std::int32_t> before = {10, -20, 30, -40, 50, 1 << 30};
    for (int m = 0; m < 6; ++m) {
        Rig r(kLopass, 6, 44100, 1000);
        spcpp("%o -mode %s", r.fx, modes[m]);
        fill(r.out, before);
        std::vector<std::int32_t> got = r.run(std::vector<std::int32_t>(6, 1 << 30));
        for (int i = 0; i < 6; ++i) {
            const std::int64_t o = before[i], y = kFirst[i];
            const std::int64_t want[] = {y, o + y, o - y, -y, -(o + y), y - o};
            EXPECT_EQ(got[i], static_cast<std::int32_t>(static_cast<std::uint32_t>(want[m])))
                << modes[m] << i;
        }
        EXPECT_EQ(fx<QZ_Effect_Lopass>(r.fx)->y, kFirst[5]) << modes[m];
    }
}

TEST(Hipass, PlusLopassGivesTheInput) {
    const int n = 1024;
    Rig lo(kLopass, n, 48000, 3000), hi("QZ_Effect_Hipass -i %o -o %o", n, 48000, 3000);
    spcpp("%o -mode %s", hi.fx, "add");  // ignored: the high-pass always writes
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
}

namespace {
// The band-pass in closed form, in long double.
std::vector<long double> bapass_closed_form(const std::vector<std::int32_t>& x, double f, double q,
                                            double clock) {
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

// A sine sweep from 50 Hz to 10 kHz at amplitude 2^28.
std::vector<std::int32_t> sweep(int n, double clock) {
    std::vector<std::int32_t> x(n);
    double phase = 0;
    for (int t = 0; t < n; ++t) {
        phase += 2 * 3.141592653589793 * 50.0 * std::pow(200.0, static_cast<double>(t) / n) / clock;
        x[t] = static_cast<std::int32_t>(std::sin(phase) * (1 << 28));
    }
    return x;
}
}  // namespace

// f and q are exact in single precision, as the closed form needs.
TEST(Bapass, BothImplementationsFollowTheClosedForm) {
    const int n = 4096, block = 512;
    const std::vector<std::int32_t> x = sweep(n, 44100);
    const std::vector<long double> want = bapass_closed_form(x, 1000, 0.5, 44100);
    long double peak = 0;
    for (long double v : want) peak = std::max(peak, std::fabs(v));
    ASSERT_GT(peak, (1 << 27));  // the sweep passes the band

    for (const char* impl : {"integer", "floating"}) {
        Rig r("QZ_Effect_Bapass -i %o -o %o", block, 44100);
        spcpp("%o -a %s -f %f -q %f", r.fx, impl, 1000.0, 0.5);
        long double worst = 0;
        for (int b = 0; b < n / block; ++b) {
            std::vector<std::int32_t> got =
                r.run(std::vector<std::int32_t>(x.begin() + b * block, x.begin() + (b + 1) * block));
            for (int i = 0; i < block; ++i) worst = std::max(worst, std::fabs(got[i] - want[b * block + i]));
        }
        // Floating point: only the truncation of each output (below 1). Integer:
        // coefficients rounded to 31 (30) fractional bits and three truncated
        // products a sample, carried through the recursion; measured 25 here.
        EXPECT_LT(worst, std::strcmp(impl, "floating") == 0 ? 1.0L : 64.0L) << impl;
    }
}

TEST(Bapass, FloatingModesCombineBeforeTruncating) {
    const int n = 128;
    const std::vector<std::int32_t> x = sweep(n, 8000);
    std::vector<std::int32_t> prior(n);
    for (int i = 0; i < n; ++i) prior[i] = (i * 7 - 300) * 3;
    const std::vector<long double> y = bapass_closed_form(x, 700.0, 0.25, 8000);
    const char* modes[] = {"set", "add", "sub", "stn", "adn", "sbn"};
    for (int m = 0; m < 6; ++m) {
        Rig r("QZ_Effect_Bapass -i %o -o %o", n, 8000);
        spcpp("%o -a %s -f %f -q %f -mode %s", r.fx, "floating", 700.0, 0.25, modes[m]);
        fill(r.out, prior);
        const std::vector<std::int32_t> got = r.run(x);
        for (int i = 0; i < n; ++i) {
            const long double o = prior[i], want[] = {y[i], o + y[i], o - y[i], -y[i], -(o + y[i]), y[i] - o};
            // Truncated toward zero; the closed form agrees to far below 1e-6.
            const long double w = want[m];
            EXPECT_LE(std::fabs(got[i] - std::trunc(w)), std::fabs(w - std::round(w)) < 1e-6L ? 1 : 0)
                << modes[m] << " " << i;
        }
    }
}

TEST(Bapass, CoefficientGuardsAndImplementationWord) {
    Rig r("QZ_Effect_Bapass -i %o -o %o", 8, 44100);
    auto* bp = fx<QZ_Effect_Bapass>(r.fx);
    spcpp("%o -f %i -q %f", r.fx, 1000, 0.5);  // an integer -f is converted
    const double pi = 3.141592653589793, wa = 2 * pi * 1000 * 0.5, wb = 2 * pi * 1000 / 0.5;
    const double G = 44100 * ((wb - wa) / (wb * wa)) * 0.5, H = 44100.0 * 44100 * (1 / (wb * wa)), D = G + H;
    EXPECT_EQ(bp->k0.load(), static_cast<std::int32_t>((2 * G + 1) / D * 1073741824.0));
    EXPECT_EQ(bp->k1.load(), static_cast<std::int32_t>(2 * G / D * 2147483648.0));
    EXPECT_EQ(bp->k2.load(), static_cast<std::int32_t>(G / D * 2147483648.0));
    const std::int32_t k0 = bp->k0;

    // q of 1 or 0, non-finite q or f, and f of 0 keep the coefficients.
    for (double bad : {1.0, 0.0, double{NAN}, double{INFINITY}}) spcpp("%o -q %f", r.fx, bad);
    spcpp("%o -q %f -f %f", r.fx, 0.5, static_cast<double>(NAN));
    spcpp("%o -f %f", r.fx, 0.0);
    EXPECT_EQ(bp->k0.load(), k0);
    // Near the q where G + H = 0: saturated, never undefined (UBSan checks).
    spcpp("%o -f %f -q %f", r.fx, 1000.0, 14.06);
    r.run(std::vector<std::int32_t>(8, 1 << 28));

    const char* word = nullptr;
    spcpp("%o -a %s", r.fx, "floating");
    spcpp("%o -a %i", r.fx, 0);  // not text: unchanged
    spcpp("%o -a", r.fx, &word);
    EXPECT_STREQ(word, "floating");
    spcpp("%o -a %s", r.fx, "xyz");
    spcpp("%o -a", r.fx, &word);
    EXPECT_STREQ(word, "integer");
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
    spcpp("%o -c %f", r.fx, static_cast<double>(NAN));  // refused
    float c = 0;
    spcpp("%o -c", r.fx, &c);
    EXPECT_EQ(c, 0.25f);
    const std::int32_t high = 0x60000000, target = 0x20000000;  // 0.75 and 0.25
    std::vector<std::int32_t> out = r.run(std::vector<std::int32_t>(n, high));
    EXPECT_EQ(out[0], high);  // the level is still 0 at the first sample
    for (int i = 1; i < n; ++i) {
        ASSERT_LE(out[i], out[i - 1]) << i;
        ASSERT_GT(out[i], target) << i;
    }
    EXPECT_LT(out.back() - target, (high - target) / 20);
}
