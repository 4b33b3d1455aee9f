// Delay line: the unit delay and its scale, time conversion, feedback,
// recompilation per block and the refusals of structure beyond its limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/command.h"
#include "dsp/deline.h"
#include "tests/dsp/dsp_test_util.h"
#include "tests/dsp/library_test_util.h"

namespace {

struct Line {
    Owned own;
    QZ_handle pipe, in, out, fx;
    QZ_Effect_Deline* d;
    // One group writing to `out`, one delay, left current.
    Line(int block, const char* setup) {
        pipe = own.pipe(block);
        in = own.buffer("in");
        out = own.buffer("out");
        std::string cmd = std::string("QZ_Effect_Deline -i %o -g -go %o ") + setup;
        fx = own.keep(build(cmd.c_str(), in, out));
        end_construction(pipe);
        d = QZ_object_as<QZ_Effect_Deline>(fx);
    }
    std::vector<std::int32_t> run(const std::vector<std::int32_t>& x) {
        fill(in, x);
        pipe_of(pipe)->process();
        return main_of(out);
    }
};

std::int32_t int_result(const char* cmd, QZ_handle h) {
    std::uint32_t r = 0xDEADBEEF;
    EXPECT_EQ(spcpp(cmd, h, &r), QZ_OK) << cmd;
    return static_cast<std::int32_t>(r);
}

}  // namespace

TEST(Deline, UnitDelayIsSlightlyBelowUnity) {
    Line l(4, "-ga 1.0 -gf 0.0 -d -dt 0 -da 1.0");
    EXPECT_EQ(int_result("%o -ga", l.fx), 8388607);
    EXPECT_EQ(int_result("%o -da", l.fx), 2147483647);
    // 2^30 * (2^31 - 1) / 2^31 floors to 2^30 - 1; times (2^23 - 1) / 2^23
    // floors to 2^30 - 129. Negative values floor away from zero.
    EXPECT_EQ(l.run({1 << 30, -(1 << 30), 0, 7}), (std::vector<std::int32_t>{0, 1073741695, -1073741696, 0}));
    // the last sample crosses the block: 7 -> 6 (tap) -> 5 (gain)
    EXPECT_EQ(l.run({0, 0, 0, 0}), (std::vector<std::int32_t>{5, 0, 0, 0}));
}

TEST(Deline, SecondsAndSamplesCompileAlike) {
    Line l(16, "-d -dt 0.5 -da 1.0 -d -dt 22050 -da 1.0");
    ASSERT_EQ(spcpp("QZ_Effect %o -clock %i", l.fx, 44100), QZ_OK);
    ASSERT_EQ(l.d->compile(), 8);
    EXPECT_EQ(l.d->program[0], 22050);
    EXPECT_EQ(l.d->program[2], 22050);
    EXPECT_EQ(l.d->program[4], -1);
    // The time option reports a float either way.
    std::uint32_t bits = 0;
    ASSERT_EQ(spcpp("%o -dt", l.fx, &bits), QZ_OK);
    float t;
    std::memcpy(&t, &bits, sizeof t);
    EXPECT_EQ(t, 22050.0f);
}

TEST(Deline, ClockChangeAppliesAtTheNextBlock) {
    Line l(4, "-d -dt 0.001 -da 1.0");
    // A delay word w reads the sample written w + 1 samples before.
    ASSERT_EQ(spcpp("QZ_Effect %o -clock %i", l.fx, 1000), QZ_OK);  // w = 1
    EXPECT_EQ(l.run({1 << 20, 0, 0, 0}), (std::vector<std::int32_t>{0, 0, 1048574, 0}));
    ASSERT_EQ(spcpp("QZ_Effect %o -clock %i", l.fx, 2000), QZ_OK);  // w = 2
    EXPECT_EQ(l.run({1 << 20, 0, 0, 0}), (std::vector<std::int32_t>{0, 0, 0, 1048574}));
}

TEST(Deline, FeedbackDecaysByItsFactorEachPeriod) {
    Line l(100, "-ga 1.0 -gf 0.5 -d -dt 99 -da 1.0");
    std::vector<std::int32_t> x(100, 0);
    x[0] = 1 << 28;
    std::vector<double> peaks;
    l.run(x);
    x[0] = 0;
    for (int period = 0; period < 6; ++period) peaks.push_back(l.run(x)[0]);
    EXPECT_NEAR(peaks[0], 1 << 28, 300);
    for (std::size_t k = 1; k < peaks.size(); ++k) EXPECT_NEAR(peaks[k] / peaks[k - 1], 0.5, 1e-5) << k;
}

TEST(Deline, OutputModesAndGroupWithoutOutput) {
    Line l(2, "-d -dt 0 -da 1.0");
    ASSERT_EQ(spcpp("%o -mode adn", l.fx), QZ_OK);
    fill(l.out, {10, 10});
    EXPECT_EQ(l.run({0, 0}), (std::vector<std::int32_t>{-10, -10}));  // -(o + 0)
    // A second group without output still feeds the line.
    build("%o -g -gf 1.0 -d -dt 0 -da 1.0 -mode set", l.fx);
    EXPECT_EQ(l.d->program_length, 12);
    std::vector<std::int32_t> a = l.run({1 << 24, 0});
    std::vector<std::int32_t> b = l.run({0, 0});
    EXPECT_GT(b[0], 0);  // recirculated through the second group's feedback
    EXPECT_GT(a[1], 0);
}

TEST(Deline, ReferencesNeedACurrentGroupAndDelay) {
    Owned own;
    QZ_handle e = 0;
    ASSERT_EQ(spcpp("QZ_Effect_Deline", &e), QZ_OK);
    own.keep(e);
    // no group yet: refused, harmless
    EXPECT_EQ(int_result("%o -ga 1.0 -ga", e), 0);
    EXPECT_EQ(int_result("%o -gf 1.0 -gf", e), 0);
    EXPECT_EQ(int_result("%o -d", e), 0);
    EXPECT_EQ(int_result("%o -go", e), 0);
    EXPECT_EQ(int_result("%o -da 1.0 -da", e), 0);
    build("%o -gc", e);
    auto* d = QZ_object_as<QZ_Effect_Deline>(e);
    EXPECT_EQ(d->program_length, 0);
    // a group but no delay
    QZ_handle g1 = static_cast<QZ_handle>(int_result("%o -g", e));
    EXPECT_NE(g1, 0u);
    EXPECT_EQ(int_result("%o -da 1.0 -da", e), 0);
    EXPECT_EQ(read_float(e, "dt"), 0.0f);
    ASSERT_EQ(spcpp("%o -dt %i", e, 100), QZ_OK);  // refused: no delay to take it
    EXPECT_EQ(d->program_length, 4);
    // a foreign object or a dead word is not a group
    QZ_handle other = own.keep(build("QZ_Effect_Deline -g"));
    auto* other_fx = QZ_object_as<QZ_Effect_Deline>(other);
    const QZ_handle g_other = QZ_handle_of(other_fx->current);
    // (-g and -d without a value create; the current ones are read directly)
    ASSERT_EQ(spcpp("%o -g %o", e, g_other), QZ_OK);
    EXPECT_EQ(QZ_handle_of(d->current), g1);
    ASSERT_EQ(spcpp("%o -g %o", e, static_cast<QZ_handle>(0x7FFFFFF0)), QZ_OK);
    EXPECT_EQ(QZ_handle_of(d->current), g1);
    // a second group, then the first made current again by its handle
    const QZ_handle g2 = static_cast<QZ_handle>(int_result("%o -g", e));
    EXPECT_NE(g2, g1);
    ASSERT_EQ(spcpp("%o -g %o", e, g1), QZ_OK);
    EXPECT_EQ(QZ_handle_of(d->current), g1);
    // a delay of another group cannot be made current
    const QZ_handle d_other = static_cast<QZ_handle>(int_result("%o -d", other));
    ASSERT_EQ(spcpp("%o -d %o", e, d_other), QZ_OK);
    EXPECT_EQ(d->current->current, nullptr);
}

TEST(Deline, DelayTimesOutsideTheLineAreRefusedOrClamped) {
    Line l(4, "-d -dt 100 -da 1.0");
    std::uint32_t bits = 0;
    float t;
    for (std::int32_t bad : {65535, -1, 1 << 30}) {
        ASSERT_EQ(spcpp("%o -dt %i -dt", l.fx, bad, &bits), QZ_OK);
        std::memcpy(&t, &bits, sizeof t);
        EXPECT_EQ(t, 100.0f) << bad;
    }
    ASSERT_EQ(spcpp("%o -dt %f -dt", l.fx, -0.5, &bits), QZ_OK);
    std::memcpy(&t, &bits, sizeof t);
    EXPECT_EQ(t, 100.0f);
    ASSERT_EQ(spcpp("%o -dt %i", l.fx, 65534), QZ_OK);
    ASSERT_EQ(l.d->compile(), 6);
    EXPECT_EQ(l.d->program[0], 65534);
    // seconds too long for the line at this clock: clamped to the longest delay
    ASSERT_EQ(spcpp("QZ_Effect %o -clock %i", l.fx, 192000), QZ_OK);
    ASSERT_EQ(spcpp("%o -dt %f", l.fx, 10.0), QZ_OK);
    ASSERT_EQ(l.d->compile(), 6);
    EXPECT_EQ(l.d->program[0], 65534);
    l.run({1, 2, 3, 4});  // runs within the line
}

TEST(Deline, ProgramCapacityIsEnforced) {
    Owned own;
    QZ_handle e = own.keep(build("QZ_Effect_Deline -g"));
    auto* d = QZ_object_as<QZ_Effect_Deline>(e);
    for (int i = 0; i < 8190; ++i) QZ_Effect_Deline::m_d(d, QZ_EMPTY);
    EXPECT_EQ(d->program_length, 16384);
    const QZ_handle last = static_cast<QZ_handle>(int_result("%o -d", e));
    QZ_Effect_Deline::m_d(d, QZ_EMPTY);  // would exceed: refused
    QZ_Effect_Deline::m_g(d, QZ_EMPTY);
    EXPECT_EQ(d->program_length, 16384);
    EXPECT_EQ(d->groups.count, 1);
    EXPECT_EQ(static_cast<QZ_handle>(int_result("%o -d", e)), last);
    // -gc frees the words and destroys the delays
    ASSERT_EQ(spcpp("%o -gc", e), QZ_OK);
    EXPECT_EQ(d->program_length, 4);
    EXPECT_EQ(QZ_object_from_handle(last), nullptr);
    EXPECT_EQ(d->current->current, nullptr);  // the current delay went with them
}

TEST(Deline, WithoutInputOrGroupsNothingRuns) {
    Owned own;
    QZ_handle pipe = own.pipe(4);
    QZ_handle in = own.buffer("in"), out = own.buffer("out");
    QZ_handle nogroup = 0;
    own.keep(build("QZ_Effect_Deline -g -go %o -d -dt 0 -da 1.0", out));
    ASSERT_EQ(spcpp("QZ_Effect_Deline -i %o", &nogroup, in), QZ_OK);
    own.keep(nogroup);
    end_construction(pipe);
    fill(in, {5, 5, 5, 5});
    fill(out, {9, 9, 9, 9});
    pipe_of(pipe)->process();
    pipe_of(pipe)->process();
    EXPECT_EQ(main_of(out), (std::vector<std::int32_t>{9, 9, 9, 9}));
    EXPECT_EQ(QZ_object_as<QZ_Effect_Deline>(nogroup)->position, 0);
}

TEST(Deline, SwitchingOffClearsTheLineButNotItsPosition) {
    Line l(4, "-d -dt 3 -da 1.0");
    l.run({1 << 20, 0, 0, 0});
    const std::uint16_t pos = l.d->position;
    EXPECT_EQ(pos, static_cast<std::uint16_t>(-4));
    ASSERT_EQ(spcpp("QZ_Effect %o -on 0", l.fx), QZ_OK);
    pipe_of(l.pipe)->process();  // last pass on side blocks, then reset
    EXPECT_EQ(l.d->position, static_cast<std::uint16_t>(-8));
    for (int i = 0; i < QZ_Effect_Deline::LINE_SIZE; ++i) ASSERT_EQ(l.d->line[i], 0) << i;
}

// ------------------------------------------------ against the per-sample rule

namespace {

struct TapSpec {
    std::int32_t w, amp;
};
struct GroupSpec {
    std::vector<TapSpec> taps;
    std::int32_t gain = 0, feedback = 0;
    int out = -1;  // index into the buffers (0 is the input), -1 none
};

std::int32_t wrap_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
std::int32_t hi(std::int32_t a, std::int32_t b, int shift) {
    return static_cast<std::int32_t>((static_cast<std::int64_t>(a) * b) >> shift);
}
std::int32_t put(int mode, std::int32_t o, std::int32_t r) {
    const std::uint32_t uo = static_cast<std::uint32_t>(o), ur = static_cast<std::uint32_t>(r);
    const std::uint32_t v[] = {ur, uo + ur, uo - ur, 0u - ur, 0u - (uo + ur), ur - uo};
    return static_cast<std::int32_t>(v[mode]);
}

// The line as written out in words: per sample, every group in order sums its
// taps (tap w reads the sample written w + 1 samples earlier), writes the sum
// times its gain to its output (blocks aligned at their ends) and adds the sum
// times its feedback to the sample the line takes in.
struct Model {
    std::vector<std::int32_t> line = std::vector<std::int32_t>(65536, 0);
    std::uint16_t pos = 0;
    void block(const std::vector<GroupSpec>& groups, int mode, std::vector<std::vector<std::int32_t>>& bufs) {
        const auto n = static_cast<std::int32_t>(bufs[0].size());
        for (std::int32_t i = 0; i < n; ++i) {
            std::int32_t d = bufs[0][i];
            for (const GroupSpec& g : groups) {
                std::int32_t acc = 0;
                for (const TapSpec& t : g.taps)
                    acc = wrap_add(acc, hi(line[static_cast<std::uint16_t>(pos + t.w + 1)], t.amp, 31));
                if (g.out >= 0) {
                    std::vector<std::int32_t>& o = bufs[g.out];
                    const std::int32_t idx = static_cast<std::int32_t>(o.size()) - n + i;
                    if (idx >= 0) o[idx] = put(mode, o[idx], hi(acc, g.gain, 23));
                }
                d = wrap_add(d, hi(acc, g.feedback, 23));
            }
            line[pos] = d;
            pos = static_cast<std::uint16_t>(pos - 1);
        }
    }
};

}  // namespace

// Random structures of groups and taps, with delays from a few samples (where
// the line reads samples of the same block) to the whole line, outputs shared
// by groups, shorter and longer than the block and the input itself, in every
// output mode, over blocks that wrap the line's position: the effect's results
// are the per-sample rule's, bit for bit.
TEST(Deline, MatchesThePerSampleRule) {
    std::mt19937 rng(4410);
    const char* modes[] = {"set", "add", "sub", "stn", "adn", "sbn"};
    const std::int32_t delays[] = {0, 1, 7, 14, 15, 16, 17, 99, 255, 256, 257, 441, 1000, 4410, 65000, 65534};
    for (int trial = 0; trial < 36; ++trial) {
        const int block = trial % 3 == 0 ? 100 : 512;
        Owned own;
        const QZ_handle pipe = own.pipe(block);
        std::vector<QZ_handle> bufs = {own.buffer("in"), own.buffer("o1")};
        bufs.push_back(build("QZ_Buffer -l %i", static_cast<QZ_handle>(block - 37)));
        own.keep(bufs.back());
        bufs.push_back(build("QZ_Buffer -l %i", static_cast<QZ_handle>(block + 64)));
        own.keep(bufs.back());
        const int mode = trial % 6;
        const QZ_handle line = own.keep(build("QZ_Effect_Deline -i %o", bufs[0]));
        ASSERT_EQ(spcpp("%o -mode %s", line, modes[mode]), QZ_OK);
        std::vector<GroupSpec> groups(1 + rng() % 4);
        const bool short_delays = trial % 4 == 1;
        for (GroupSpec& g : groups) {
            build("%o -g", line);
            g.out = static_cast<int>(rng() % 5) - 1;
            if (g.out >= 0) {
                ASSERT_EQ(spcpp("%o -go %o", line, bufs[g.out]), QZ_OK);
            }
            const double gain = static_cast<double>(rng() % 2001) / 1000.0 - 1.0;
            const double feedback = (static_cast<double>(rng() % 1001) / 1000.0 - 0.5) / groups.size();
            std::uint32_t r = 0;
            ASSERT_EQ(spcpp("%o -ga %f -ga", line, gain, &r), QZ_OK);
            g.gain = static_cast<std::int32_t>(r);
            ASSERT_EQ(spcpp("%o -gf %f -gf", line, feedback, &r), QZ_OK);
            g.feedback = static_cast<std::int32_t>(r);
            const int taps = static_cast<int>(rng() % 7);
            for (int t = 0; t < taps; ++t) {
                TapSpec tap;
                tap.w = short_delays ? delays[rng() % 16] : delays[4 + rng() % 12];
                const double amp = static_cast<double>(rng() % 2001) / 1000.0 - 1.0;
                build("%o -d", line);
                ASSERT_EQ(spcpp("%o -dt %i -da %f -da", line, tap.w, amp, &r), QZ_OK);
                tap.amp = static_cast<std::int32_t>(r);
                g.taps.push_back(tap);
            }
        }
        end_construction(pipe);
        std::vector<std::vector<std::int32_t>> want;
        for (QZ_handle b : bufs) {
            std::vector<std::int32_t> v(static_cast<std::size_t>(buf(b)->frames()));
            for (auto& x : v) x = static_cast<std::int32_t>(rng()) >> (rng() % 8);
            fill(b, v);
            want.push_back(v);
        }
        Model model;
        for (int pass = 0; pass < 6; ++pass) {
            std::vector<std::int32_t> x(static_cast<std::size_t>(block));
            for (auto& v : x) v = static_cast<std::int32_t>(rng()) >> (1 + rng() % 8);
            fill(bufs[0], x);
            want[0] = x;
            pipe_of(pipe)->process();
            model.block(groups, mode, want);
            for (std::size_t b = 0; b < bufs.size(); ++b)
                ASSERT_EQ(main_of(bufs[b]), want[b]) << "trial " << trial << " pass " << pass << " buffer " << b;
        }
    }
}
