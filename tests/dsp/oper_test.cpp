// Arithmetic and non-linear effects: the fixed-point numbers of each operation,
// refusals of out-of-range constants, mode loops and the followers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/command.h"
#include "dsp/oper.h"
#include "tests/dsp/dsp_test_util.h"
#include "tests/dsp/library_test_util.h"

namespace {

// A pipe of block length n with buffers a, b, o; effects are added by command.
struct Rig {
    Owned own;
    QZ_handle pipe, a, b, o;
    explicit Rig(int n) {
        pipe = own.pipe(n);
        a = own.buffer("a");
        b = own.buffer("b");
        o = own.buffer("o");
    }
    // Effects with two inputs name a, b and o; with one input a and o.
    QZ_handle make3(const std::string& cmd) {
        QZ_handle e = 0;
        EXPECT_EQ(spcpp(cmd.c_str(), &e, a, b, o), QZ_OK) << cmd;
        return own.keep(e);
    }
    QZ_handle make(const std::string& cmd) {
        QZ_handle e = 0;
        EXPECT_EQ(spcpp(cmd.c_str(), &e, a, o), QZ_OK) << cmd;
        return own.keep(e);
    }
    std::vector<std::int32_t> run(const std::vector<std::int32_t>& x,
                                  const std::vector<std::int32_t>& y = {}) {
        fill(a, x);
        if (!y.empty()) fill(b, y);
        pipe_of(pipe)->process();
        return main_of(o);
    }
};

std::int32_t read_int(QZ_handle h, const char* opt) {
    std::uint32_t r = 0xDEADBEEF;
    EXPECT_EQ(spcpp((std::string("%o -") + opt).c_str(), h, &r), QZ_OK);
    return static_cast<std::int32_t>(r);
}

}  // namespace

TEST(Oper, AddSaturatesSubWraps) {
    Rig r(2);
    QZ_handle add = r.make3("QZ_Effect_Oper -i1 %o -i2 %o -o %o -oper add");
    end_construction(r.pipe);
    EXPECT_EQ(r.run({INT32_MAX, INT32_MIN}, {1, -1}), (std::vector<std::int32_t>{INT32_MAX, INT32_MIN}));
    ASSERT_EQ(spcpp("%o -oper sub", add), QZ_OK);
    EXPECT_EQ(r.run({INT32_MIN, 5}, {1, 7}), (std::vector<std::int32_t>{INT32_MAX, -2}));
}

TEST(Oper, MulIsQ24AndSaturates) {
    EXPECT_EQ(QZ_q24_product(1 << 24, 123456789), 123456789);
    EXPECT_EQ(QZ_q24_product(1 << 24, -5), -5);
    EXPECT_EQ(QZ_q24_product(1 << 30, 1 << 30), INT32_MAX);
    EXPECT_EQ(QZ_q24_product(1 << 30, -(1 << 30)), INT32_MIN);
    EXPECT_EQ(QZ_q24_product(3, 1 << 23), 1);    // 1.5 floors to 1
    EXPECT_EQ(QZ_q24_product(-3, 1 << 23), -2);  // arithmetic shift floors
    Rig r(1);
    r.make3("QZ_Effect_Oper -i1 %o -i2 %o -o %o -oper mul");
    end_construction(r.pipe);
    EXPECT_EQ(r.run({1 << 24}, {-777}), (std::vector<std::int32_t>{-777}));
}

TEST(Oper, DivisionCases) {
    EXPECT_EQ(QZ_q24_quotient(0, 0, false), 1 << 24);
    EXPECT_EQ(QZ_q24_quotient(0, 1, false), 1 << 23);
    EXPECT_EQ(QZ_q24_quotient(-1, 1, false), -(1 << 24));  // (1 + 1) / (1 + 1), one negative
    EXPECT_EQ(QZ_q24_quotient(1000, -1000, false), -(1 << 24));
    // (|a| + 1) >> 7 not below |b| + 1: saturated by sign
    EXPECT_EQ(QZ_q24_quotient(127, 0, false), INT32_MAX);
    EXPECT_EQ(QZ_q24_quotient(-127, 0, false), INT32_MIN);
    EXPECT_EQ(QZ_q24_quotient(126, 0, false), 127 << 24);  // just below the limit
    EXPECT_EQ(QZ_q24_quotient(INT32_MIN, INT32_MIN, false), 1 << 24);
    // Koef's rule: 0 counts as negative
    EXPECT_EQ(QZ_q24_quotient(0, 1, true), -(1 << 23));
    EXPECT_EQ(QZ_q24_quotient(0, 0, true), 1 << 24);
    Rig r(2);
    r.make3("QZ_Effect_Oper -i1 %o -i2 %o -o %o -oper div");
    end_construction(r.pipe);
    EXPECT_EQ(r.run({0, 0}, {0, 1}), (std::vector<std::int32_t>{1 << 24, 1 << 23}));
}

TEST(Oper, OperationWordsAndModes) {
    Rig r(2);
    QZ_handle e = r.make3("QZ_Effect_Oper -i1 %o -i2 %o -o %o");
    end_construction(r.pipe);
    const char* w = nullptr;
    ASSERT_EQ(spcpp("%o -oper", e, &w), QZ_OK);
    EXPECT_STREQ(w, "add");
    ASSERT_EQ(spcpp("%o -oper %s -oper", e, "pow", &w), QZ_OK);  // unknown: unchanged
    EXPECT_STREQ(w, "add");
    ASSERT_EQ(spcpp("%o -oper %s -oper", e, "div", &w), QZ_OK);
    EXPECT_STREQ(w, "div");
    ASSERT_EQ(spcpp("%o -oper add -mode sub", e), QZ_OK);
    fill(r.o, {100, 100});
    EXPECT_EQ(r.run({1, 2}, {10, 20}), (std::vector<std::int32_t>{89, 78}));  // o - (a + b)
    ASSERT_EQ(spcpp("%o -mode sbn", e), QZ_OK);
    fill(r.o, {100, 100});
    EXPECT_EQ(r.run({1, 2}, {10, 20}), (std::vector<std::int32_t>{-89, -78}));  // (a + b) - o
}

TEST(Koef, ConstantFromFloatAndItsLimits) {
    Rig r(1);
    QZ_handle k = r.make("QZ_Effect_Koef -i %o -o %o");
    end_construction(r.pipe);
    std::uint32_t got = 0;
    ASSERT_EQ(spcpp("%o -k %f -k", k, 1.0, &got), QZ_OK);
    EXPECT_EQ(static_cast<std::int32_t>(got), 16909320);
    ASSERT_EQ(spcpp("%o -k %f -k", k, -127.0, &got), QZ_OK);
    EXPECT_EQ(static_cast<std::int32_t>(got), INT32_MIN);
    // beyond the 32-bit constant: refused, the old constant kept
    ASSERT_EQ(spcpp("%o -k %f -k", k, 127.0, &got), QZ_OK);
    EXPECT_EQ(static_cast<std::int32_t>(got), INT32_MIN);
    ASSERT_EQ(spcpp("%o -k %f -k", k, -300.0, &got), QZ_OK);
    EXPECT_EQ(static_cast<std::int32_t>(got), INT32_MIN);
    ASSERT_EQ(spcpp("%o -k %f -k", k, 0.5, &got), QZ_OK);
    EXPECT_EQ(static_cast<std::int32_t>(got), 8454660);
}

TEST(Koef, AddAndSubWrapDivCountsZeroNegative) {
    Rig r(2);
    QZ_handle k = r.make("QZ_Effect_Koef -i %o -o %o");
    end_construction(r.pipe);
    fx<QZ_Effect_Koef>(k)->k.store(1);
    EXPECT_EQ(r.run({INT32_MAX, 0}), (std::vector<std::int32_t>{INT32_MIN, 1}));
    ASSERT_EQ(spcpp("%o -oper sub", k), QZ_OK);
    EXPECT_EQ(r.run({INT32_MIN, 0}), (std::vector<std::int32_t>{INT32_MAX, -1}));
    ASSERT_EQ(spcpp("%o -oper div", k), QZ_OK);
    EXPECT_EQ(r.run({0, 5}), (std::vector<std::int32_t>{-(1 << 23), 3 << 24}));
    fx<QZ_Effect_Koef>(k)->k.store(0);
    EXPECT_EQ(r.run({0, 0}), (std::vector<std::int32_t>{1 << 24, 1 << 24}));
}

TEST(Limits, FloorAndCeiling) {
    Rig r(4);
    QZ_handle gt = r.make("QZ_Effect_Gtzero -i %o -o %o");
    end_construction(r.pipe);
    EXPECT_EQ(r.run({-5, 0, 7, INT32_MIN}), (std::vector<std::int32_t>{0, 0, 7, 0}));
    ASSERT_EQ(spcpp("%o -l %i", gt, -3), QZ_OK);
    EXPECT_EQ(r.run({-5, 0, 7, -3}), (std::vector<std::int32_t>{-3, 0, 7, -3}));
    ASSERT_EQ(spcpp("%o -delete", gt), QZ_OK);
    Rig s(4);
    QZ_handle lt = s.make("QZ_Effect_Ltzero -i %o -o %o -mode add");  // always writes
    end_construction(s.pipe);
    fill(s.o, {1000, 1000, 1000, 1000});
    EXPECT_EQ(s.run({-5, 0, 7, INT32_MAX}), (std::vector<std::int32_t>{-5, 0, 0, 0}));
    EXPECT_EQ(read_int(lt, "l"), 0);
}

TEST(Dist, SoftClipFollowsByHand) {
    Rig r(3);
    QZ_handle d = r.make("QZ_Effect_Dist -i %o -o %o");
    end_construction(r.pipe);
    auto* e = fx<QZ_Effect_Dist>(d);
    ASSERT_EQ(spcpp("%o -d %f", d, 0.5), QZ_OK);
    EXPECT_EQ(e->d.load(), 1 << 28);
    EXPECT_EQ(e->b.load(), 1 << 27);
    EXPECT_EQ(e->e.load(), 1 << 26);
    EXPECT_FLOAT_EQ(read_float(d, "d"), 0.25f);  // reported as d * 2^-30
    EXPECT_FLOAT_EQ(read_float(d, "s"), 0.5f);
    // x = 2^28: a = 2^26, inside the bounds, y = a.
    // x = 2^29: a = 2^27, c = 2^26, overshoot 2^26 compressed to
    //   2^52 / (2^28 + 2^26) = 13421772, y = 80530636; the offset then moves
    //   by ((a - y) * 2^26) >> 32 = 838860.
    // x = 0: a = -838860 >> 1 = -419430 passes unclipped, times 4.
    EXPECT_EQ(r.run({1 << 28, 1 << 29, 0}), (std::vector<std::int32_t>{1 << 28, 322122544, -1677720}));
    EXPECT_EQ(e->s, 838860);
    // switching off resets the offset
    ASSERT_EQ(spcpp("QZ_Effect %o -on 0", d), QZ_OK);
    pipe_of(r.pipe)->process();
    EXPECT_EQ(e->s, 0);
}

TEST(Dist, RateFromClockAndZeroDrive) {
    Rig r(2);
    QZ_handle d = r.make("QZ_Effect_Dist -i %o -o %o");
    end_construction(r.pipe);
    auto* e = fx<QZ_Effect_Dist>(d);
    EXPECT_EQ(e->r.load(), 0x4000000);
    ASSERT_EQ(spcpp("%o -k %f", d, 0.001), QZ_OK);
    EXPECT_EQ(e->r.load(), 0x4000000);  // clock 0: kept
    ASSERT_EQ(spcpp("QZ_Effect %o -clock %i", d, 96000), QZ_OK);
    EXPECT_EQ(e->r.load(),
              static_cast<std::int32_t>(static_cast<double>(0.001f) * 48000.0 / 96000 * 2147483647.0));
    ASSERT_EQ(spcpp("%o -d %i", d, 0), QZ_OK);  // bounds 0 and b 0: no division by zero
    std::vector<std::int32_t> out = r.run({0, 0});
    EXPECT_EQ(out, (std::vector<std::int32_t>{0, 0}));
}

TEST(Dist, ExtremeDriveAndSoftnessStayDefined) {
    // Softness far outside 0..1 pushes b and e to the ends of the 32-bit range;
    // the overshoot's square must not overflow (checked under UBSan), and the
    // arithmetic of ordinary settings is unchanged (the by-hand test above).
    Rig r(4);
    QZ_handle d = r.make("QZ_Effect_Dist -i %o -o %o");
    end_construction(r.pipe);
    auto* e = fx<QZ_Effect_Dist>(d);
    for (double soft : {-100.0, 100.0, 1.0}) {
        for (double drive : {-4.0, 4.0, 0.0}) {
            ASSERT_EQ(spcpp("%o -d %f -s %f -l %i", d, drive, soft, 1), QZ_OK);
            fill(r.o, {7, 7, 7, 7});
            r.run({INT32_MAX, INT32_MIN, 1 << 30, -(1 << 30)});
            // always written, and as y * 4: the low two bits are clear
            for (std::int32_t v : main_of(r.o)) EXPECT_EQ(v & 3, 0) << drive << " " << soft;
        }
    }
    EXPECT_EQ(e->d.load(), 0);
    // The widest overshoot: drive -4 and softness 2 give e = -(2^31 - 1) and an
    // offset of -2^30 lifts a to 2^30 - 1, so o is about 3 * 2^30 and o * o
    // exceeds the signed 64-bit range.
    ASSERT_EQ(spcpp("%o -d %f -s %f -l %i", d, -4.0, 2.0, 0), QZ_OK);
    EXPECT_EQ(e->e.load(), -2147483647);
    e->s = -(1 << 30);
    fill(r.o, {7, 7, 7, 7});
    r.run({INT32_MAX, INT32_MAX, 0, 0});
    for (std::int32_t v : main_of(r.o)) EXPECT_EQ(v & 3, 0);
}

TEST(Ampdet, InstantAttackAndRelease) {
    Rig r(4);
    QZ_handle e = r.make3("QZ_Effect_Ampdet -i %o -a %o -o %o");
    end_construction(r.pipe);
    ASSERT_EQ(spcpp("QZ_Effect %o -clock %i", e, 48000), QZ_OK);
    auto* a = fx<QZ_Effect_Ampdet>(e);
    EXPECT_EQ(a->k1.load(), 0x7FFFFFFF);
    ASSERT_EQ(spcpp("%o -f2 %f", e, 10.0), QZ_OK);
    EXPECT_EQ(a->k2.load(), QZ_Effect_Ampdet::coefficient(10.0f, 48000));
    std::vector<std::int32_t> out = r.run({-1000000, 0, 0, INT32_MIN});
    EXPECT_EQ(out[0], 999999);  // (m - y) * (2^31 - 1) >> 31
    EXPECT_LT(out[1], out[0]);
    EXPECT_LT(out[2], out[1]);
    EXPECT_GT(out[3], out[2]);
    EXPECT_EQ(main_of(r.b), (std::vector<std::int32_t>{1000000, 0, 0, INT32_MIN}));  // rectified, 2^31 stays
}

TEST(Ampdet, WithoutOutputsTheEnvelopeStays) {
    Rig r(2);
    QZ_handle e = 0;
    ASSERT_EQ(spcpp("QZ_Effect_Ampdet -i %o", &e, r.a), QZ_OK);
    r.own.keep(e);
    end_construction(r.pipe);
    ASSERT_EQ(spcpp("QZ_Effect %o -clock %i", e, 48000), QZ_OK);
    fill(r.o, {55, 66});
    r.run({1 << 20, 1 << 21});
    EXPECT_EQ(fx<QZ_Effect_Ampdet>(e)->y, 0);
    EXPECT_EQ(main_of(r.o), (std::vector<std::int32_t>{55, 66}));
}
