// The LV2 plug-in's run() must neither allocate nor lock, also in the blocks
// where it hands changed port values to the effect. Allocations are counted
// by the replaced allocation functions; mutex locks by a pthread_mutex_lock
// of this program's own, which the plug-in's calls reach first (a plain or
// AddressSanitizer build: ThreadSanitizer keeps the locks to itself).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>
#include <pthread.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <vector>

#include "alloc_counting.h"
#include "plugin/lv2_ports.h"

#if defined(__SANITIZE_THREAD__)
#define ZELO_COUNT_LOCKS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZELO_COUNT_LOCKS 0
#endif
#endif
#ifndef ZELO_COUNT_LOCKS
#define ZELO_COUNT_LOCKS 1
#endif

namespace {
thread_local bool t_armed = false;
std::atomic<long> g_locks{0};
std::atomic<long> g_armed_allocations{0};
}  // namespace

#if ZELO_COUNT_LOCKS
extern "C" int pthread_mutex_lock(pthread_mutex_t* m) {
    using Lock = int (*)(pthread_mutex_t*);
    static const Lock real = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (t_armed) g_locks.fetch_add(1);
    return real(m);
}
#endif

namespace {

struct Counts {
    long allocations = 0;
    long locks = 0;
};

Counts count_during(const std::function<void()>& f) {
    const long a0 = g_allocations.load();
    g_locks = 0;
    t_armed = true;
    f();
    t_armed = false;
    return {g_allocations.load() - a0, g_locks.load()};
}

const LV2_Descriptor* descriptor() {
    static void* so = dlopen(ZELO_LV2_BUNDLE "/zelo_lv2.so", RTLD_NOW | RTLD_LOCAL);
    if (!so) return nullptr;
    auto entry = reinterpret_cast<const LV2_Descriptor* (*)(std::uint32_t)>(dlsym(so, "lv2_descriptor"));
    return entry ? entry(0) : nullptr;
}

}  // namespace

TEST(Lv2Allocation, TheCountersSeeThePluginsAllocationsAndLocks) {
    // Making an instance allocates (and locks the toolkit's object table)
    // inside the module: proof that its calls reach the counters.
    const LV2_Descriptor* d = descriptor();
    ASSERT_TRUE(d) << dlerror();
    const LV2_Feature* none[] = {nullptr};
    LV2_Handle h = nullptr;
    const Counts c = count_during([&] { h = d->instantiate(d, 48000.0, ZELO_LV2_BUNDLE, none); });
    ASSERT_TRUE(h);
    EXPECT_GT(c.allocations, 0);
#if ZELO_COUNT_LOCKS
    EXPECT_GT(c.locks, 0);
#endif
    d->cleanup(h);
}

TEST(Lv2Allocation, RunAllocatesNothingAndLocksNothingWhilePortsChange) {
    const LV2_Descriptor* d = descriptor();
    ASSERT_TRUE(d) << dlerror();
    const LV2_Feature* none[] = {nullptr};
    LV2_Handle h = d->instantiate(d, 48000.0, ZELO_LV2_BUNDLE, none);
    ASSERT_TRUE(h);
    std::vector<float> in(8192), l(in.size()), r(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>((i % 97) / 50.0 - 0.9);
    float state = 1.0f, freq = 129.629639f;
    d->connect_port(h, QZ_LV2_IN, in.data());
    d->connect_port(h, QZ_LV2_OUT_LEFT, l.data());
    d->connect_port(h, QZ_LV2_OUT_RIGHT, r.data());
    d->connect_port(h, QZ_LV2_STATE, &state);
    d->connect_port(h, QZ_LV2_FREQUENCY, &freq);
    d->activate(h);

    // Steady ports, blocks of every awkward size.
    Counts c = count_during([&] {
        for (std::uint32_t frames : {1u, 63u, 64u, 511u, 512u, 513u, 1100u, 4096u, 8192u}) d->run(h, frames);
    });
    EXPECT_EQ(c.allocations, 0);
    EXPECT_EQ(c.locks, 0);

    // A change in every block: the switch (with its crossfade), the cutoff
    // across the range, values out of range and not a number.
    c = count_during([&] {
        const float cutoffs[] = {20.0f, 5015.0f, 20000.0f, 800.0f, -3.0f, 1e9f, NAN, 333.3f};
        for (int k = 0; k < 64; ++k) {
            state = (k % 3 == 0) ? 0.0f : 1.0f;
            freq = cutoffs[k % 8];
            d->run(h, 300);
        }
    });
    EXPECT_EQ(c.allocations, 0);
    EXPECT_EQ(c.locks, 0);
    for (float x : l) ASSERT_TRUE(std::isfinite(x));

    d->deactivate(h);
    d->cleanup(h);
}
