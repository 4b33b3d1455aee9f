// A validation suite in the spirit of the usual plug-in validators, run against
// zelo.so through the test host: lifetimes, noise at several rates and block
// sizes, parameter storms, a second thread, and state restore.
#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <random>
#include <thread>

#include "plugin_env.h"

using namespace plugtest;

namespace {

const ::testing::Environment* const quiet = ::testing::AddGlobalTestEnvironment(new QuietTrace);

// White noise in [-amp, amp] with a sprinkling of values a careless host might
// send: far beyond full scale, infinities and NaN.
std::vector<float> noise(std::size_t n, std::uint32_t seed, float amp = 1.0f, bool wild = true) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-amp, amp);
    std::uniform_int_distribution<int> pick(0, 199);
    const float odd[] = {1e9f,
                         -1e9f,
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN(),
                         1.0f,
                         -1.0f};
    std::vector<float> s(n);
    for (auto& x : s) {
        x = u(rng);
        if (wild && pick(rng) == 0) x = odd[pick(rng) % 7];
    }
    return s;
}

// Every output sample finite and within full scale, both channels equal.
::testing::AssertionResult sane(const std::vector<float>& l, const std::vector<float>& r) {
    if (l.size() != r.size()) return ::testing::AssertionFailure() << "channel sizes differ";
    for (std::size_t i = 0; i < l.size(); ++i) {
        if (!std::isfinite(l[i]) || std::fabs(l[i]) > 1.0f)
            return ::testing::AssertionFailure() << "sample " << i << " is " << l[i];
        if (std::memcmp(&l[i], &r[i], sizeof(float)) != 0)
            return ::testing::AssertionFailure() << "channels differ at " << i;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(Validation, OpenAndCloseManyTimes) {
    for (int i = 0; i < 300; ++i) {
        std::string error;
        auto p = Plugin::create(module(), &error);
        ASSERT_TRUE(p) << "instance " << i << ": " << error;
        if (i % 3 != 0) {
            p->start(i % 2 ? 44100.0f : 48000.0f, 256);
            std::vector<float> in(300, 0.3f), l, r;
            p->render(in, l, r, 256);
            ASSERT_TRUE(sane(l, r));
            p->stop();
        }
        ASSERT_EQ(p->close(), 1) << "instance " << i;
    }
    // Several alive at once, closed in another order than opened.
    std::vector<std::unique_ptr<Plugin>> many;
    for (int i = 0; i < 16; ++i) many.push_back(started());
    for (int i = 15; i >= 0; i -= 2) EXPECT_EQ(many[static_cast<std::size_t>(i)]->close(), 1);
    for (int i = 0; i < 16; i += 2) EXPECT_EQ(many[static_cast<std::size_t>(i)]->close(), 1);
}

TEST(Validation, NoiseAtEveryRateAndBlockSize) {
    const VstInt32 sizes[] = {1,   2,   3,   5,   16,   31,   32,   33,   64,   100,  127,  128, 255,
                              256, 511, 512, 513, 1000, 1023, 1024, 1100, 2047, 2048, 4095, 4096};
    for (float rate : {44100.0f, 48000.0f, 96000.0f}) {
        const auto in = noise(12000, static_cast<std::uint32_t>(rate));
        std::vector<float> reference;
        for (VstInt32 block : sizes) {
            auto p = started(rate, block);
            std::vector<float> l, r;
            p->render(in, l, r, block);
            ASSERT_TRUE(sane(l, r)) << rate << " Hz, block " << block;
            // The host's block size must not change a single sample.
            if (reference.empty())
                reference = l;
            else
                ASSERT_EQ(std::memcmp(reference.data(), l.data(), l.size() * sizeof(float)), 0)
                    << rate << " Hz, block " << block;
        }
    }
}

TEST(Validation, RandomParameterChangesEvery32Samples) {
    const auto in = noise(64000, 7);
    auto run = [&](std::vector<float>& out) {
        auto p = started(48000.0f, 512);
        std::mt19937 rng(99);
        std::uniform_real_distribution<float> u(-0.2f, 1.2f);
        std::vector<float> l(32), r(32);
        out.clear();
        for (std::size_t k = 0; k + 32 <= in.size(); k += 32) {
            const VstInt32 index = static_cast<VstInt32>(rng() % 3);  // 2 is refused
            float v = u(rng);
            if (rng() % 50 == 0) v = std::numeric_limits<float>::quiet_NaN();
            p->set_parameter(index, v);
            p->process(in.data() + k, l.data(), r.data(), 32);
            if (!sane(l, r)) {
                ADD_FAILURE() << "at sample " << k << ": " << sane(l, r).message();
                return;
            }
            out.insert(out.end(), l.begin(), l.end());
        }
    };
    std::vector<float> a, b;
    run(a);
    run(b);
    EXPECT_EQ(a.size(), 64000u);
    EXPECT_EQ(a, b);  // the same calls give the same sound
}

TEST(Validation, ParametersFromASecondThreadWhileProcessing) {
    auto p = started(44100.0f, 256);
    std::atomic<bool> done{false};
    std::atomic<long> changes{0};
    std::thread automation([&] {
        std::mt19937 rng(5);
        std::uniform_real_distribution<float> u(0.0f, 1.0f);
        while (!done.load()) {
            p->set_parameter(static_cast<VstInt32>(rng() % 2), u(rng));
            (void)p->get_parameter(static_cast<VstInt32>(rng() % 2));
            changes.fetch_add(1);
        }
    });
    // The two must overlap: a thread can take longer to start (under wine, say)
    // than the whole processing loop takes.
    for (int wait = 0; wait < 5000 && changes.load() == 0; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto in = noise(256, 11, 1.0f, false);
    std::vector<float> l(256), r(256);
    bool ok = true;
    for (int block = 0; block < 2000 && ok; ++block) {
        p->process(in.data(), l.data(), r.data(), 256);
        ok = sane(l, r);
        // A host's window reads the parameters meanwhile.
        const float v = p->get_parameter(block % 2);
        ok = ok && v >= 0.0f && v <= 1.0f;
        ok = ok && !p->parameter_display(1).text.empty();
    }
    done = true;
    automation.join();
    EXPECT_TRUE(ok) << sane(l, r).message();
    EXPECT_GT(changes.load(), 0);
}

TEST(Validation, StateRestoresThroughTheTwoParameters) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int trial = 0; trial < 40; ++trial) {
        auto a = started();
        a->set_parameter(0, trial % 4 == 0 ? 0.0f : 1.0f);
        a->set_parameter(1, u(rng));
        const float s0 = a->get_parameter(0), s1 = a->get_parameter(1);

        auto b = started();
        b->set_parameter(1, 0.9f);  // some other state first
        b->set_parameter(0, s0);
        b->set_parameter(1, s1);
        EXPECT_EQ(b->get_parameter(0), s0);
        EXPECT_EQ(b->get_parameter(1), s1);
        EXPECT_EQ(b->parameter_display(0).text, a->parameter_display(0).text);
        EXPECT_EQ(b->parameter_display(1).text, a->parameter_display(1).text) << "x " << s1;

        // Same settings from a fresh filter state: the same sound.
        a->dispatch(effOpen);
        b->dispatch(effOpen);
        const auto in = noise(3000, static_cast<std::uint32_t>(trial), 0.8f, false);
        std::vector<float> la, ra, lb, rb;
        std::vector<float> settle(512, 0.0f);
        a->render(settle, la, ra, 512);  // let a pending switch crossfade pass
        b->render(settle, lb, rb, 512);
        a->dispatch(effOpen);
        b->dispatch(effOpen);
        a->render(in, la, ra, 512);
        b->render(in, lb, rb, 512);
        EXPECT_EQ(la, lb) << "trial " << trial;
    }
}

TEST(Validation, DispatcherStormWithArbitraryArguments) {
    // Every opcode a host might send (and numbers beyond them) with arbitrary
    // index, value and opt; ptr is a large scratch buffer or null. Opcodes whose
    // value carries a pointer get the buffer's address there as well.
    auto p = started();
    std::mt19937 rng(31337);
    alignas(16) static char scratch[4096];
    const VstIntPtr odd_values[] = {0, 1, -1, 2, 512, 1 << 30, -(1 << 30), 0x7fffffff};
    const float odd_opts[] = {0.0f,
                              1.0f,
                              -1.0f,
                              44100.0f,
                              1e30f,
                              -1e30f,
                              std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity()};
    std::vector<float> in = noise(64, 3), l(64), r(64);
    for (int i = 0; i < 20000; ++i) {
        VstInt32 op = static_cast<VstInt32>(rng() % 96) - 4;
        if (op == effClose) op = effIdle;  // closing ends the storm
        const VstInt32 index = static_cast<VstInt32>(rng() % 7 == 0 ? rng() : rng() % 8) - 2;
        VstIntPtr value = odd_values[rng() % 8];
        if (op == effSetSpeakerArrangement || op == effGetSpeakerArrangement)
            value = reinterpret_cast<VstIntPtr>(scratch);
        const float opt = odd_opts[rng() % 8];
        std::memset(scratch, 0, sizeof scratch);
        void* ptr = rng() % 5 == 0 ? nullptr : scratch;
        p->dispatch(op, index, value, ptr, opt);
        // Nothing may write past what the opcodes allow (at most a 64-byte
        // text or a pointer); the tail of the scratch buffer stays clear.
        for (std::size_t k = 256; k < sizeof scratch; ++k)
            ASSERT_EQ(scratch[k], 0) << "opcode " << op << " wrote at " << k;
        if (i % 64 == 0) {
            p->set_parameter(index, opt);
            p->process(in.data(), l.data(), r.data(), 64);
            ASSERT_TRUE(sane(l, r)) << "after opcode " << op;
        }
    }
    EXPECT_EQ(p->close(), 1);
}
