// Shared by the plug-in tests: the module under test, loaded once through the
// test host, and a model of the fixed-point low-pass written from its
// definition (not from the engine's code).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/vsthost/vsthost.h"
#include "test_platform.h"

namespace plugtest {

using zelo::vsthost::Module;
using zelo::vsthost::Plugin;

inline Module& module() {
    static std::unique_ptr<Module> m = [] {
        std::string error;
        auto loaded = Module::load(ZELO_SO_PATH, &error);
        if (!loaded) {
            ADD_FAILURE() << "cannot load " << ZELO_SO_PATH << ": " << error;
            std::abort();
        }
        return loaded;
    }();
    return *m;
}

// A started instance (open, rate, block size, resume, start).
inline std::unique_ptr<Plugin> started(float rate = 44100.0f, VstInt32 block = 512) {
    std::string error;
    auto p = Plugin::create(module(), &error);
    EXPECT_TRUE(p) << error;
    if (p) p->start(rate, block);
    return p;
}

// The chain's fixed-point format: ±1.0 is ±2^30, +1.0 itself one step below
// (the buffers' limit 2^30 - 1).
inline std::int32_t to_fixed(float x) {
    if (x > 1.0f) x = 1.0f;
    if (!(x >= -1.0f)) x = -1.0f;
    const auto v = static_cast<std::int32_t>(x * 1073741824.0f);
    return v < 1073741823 ? v : 1073741823;
}
inline float to_float(std::int32_t s) { return static_cast<float>(s) * (1.0f / 1073741824.0f); }

// First-order low-pass in 32-bit fixed point: a = 2 pi f / (2 pi f + clock) as
// an unsigned 32-bit fraction k; per sample y += floor((x - y) a) computed with
// one unsigned multiplication.
struct LowpassModel {
    std::uint32_t k = 0;
    std::int32_t y = 0;

    static std::uint32_t coefficient(long double f, long double clock) {
        const long double pi = 3.141592653589793238462643383279502884L;
        long double a = (2.0L * pi * f) / (2.0L * pi * f + clock);
        return static_cast<std::uint32_t>(a * 4294967296.0L);
    }
    void set(int f, int clock) {
        if (f != 0 && clock != 0) k = coefficient(f, clock);
    }
    std::int32_t step(std::int32_t x) {
        const std::uint32_t u = static_cast<std::uint32_t>(x) - static_cast<std::uint32_t>(y) + 0x80000000u;
        const std::uint32_t h = static_cast<std::uint32_t>((static_cast<std::uint64_t>(u) * k) >> 32);
        y = static_cast<std::int32_t>(static_cast<std::uint32_t>(y) + h - (k >> 1));
        return y;
    }
    // The effect's output for a whole signal.
    std::vector<float> run(const std::vector<float>& in) {
        std::vector<float> out(in.size());
        for (std::size_t i = 0; i < in.size(); ++i) out[i] = to_float(step(to_fixed(in[i])));
        return out;
    }
};

// The cutoff in Hz the effect derives from a knob value: the square law, in
// single precision, truncated to whole hertz by the filter.
inline int cutoff_of_knob(float v) {
    float t = (v - 20.0f) / (20000.0f - 20.0f);
    t = t * t;
    return static_cast<int>(20.0f + (20000.0f - 20.0f) * t);
}

// Silences the dispatcher trace for the tests that do not look at it, and
// takes the X display away: hosts load, scan and run plug-ins headless.
struct QuietTrace : ::testing::Environment {
    void SetUp() override {
        zelo_test::set_env("ZELO_VST_TRACE", "0");
        zelo_test::unset_env("DISPLAY");
    }
};

}  // namespace plugtest
