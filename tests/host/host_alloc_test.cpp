// The host's block callback allocates nothing: the global allocation functions
// are replaced by counting ones (malloc too where no sanitizer owns it), and
// blocks run through the built-in effect between counts. Its own program, so
// the replacement touches no other test.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "host/host_logic.h"
#include "host_sim.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QZ_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QZ_TEST_SANITIZED 1
#endif
#endif

namespace {
std::atomic<long> g_allocations{0};
}

#if !defined(QZ_TEST_SANITIZED) && defined(__GLIBC__)
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
void* malloc(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
void* calloc(std::size_t a, std::size_t b) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(a, b);
}
void* realloc(void* p, std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
void free(void* p) { __libc_free(p); }
}
#endif

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

extern "C" AEffect* VSTPluginMain(audioMasterCallback);

using host_sim::Sim_Class;
using host_sim::Sim_Driver;

TEST(HostAllocation, BlockCallbackAllocatesNothing) {
    {
        const long before = g_allocations.load();
        int* volatile p = new int(1);
        delete p;
        ASSERT_GT(g_allocations.load(), before) << "counting is not in effect";
    }
    Sim_Driver* d = Sim_Class::add("Sim", 2, {{48000, 32, 480, 4}});
    QZ_Host host(&VSTPluginMain);
    host.report_fn = [](int, const char*, const char*) {};
    host.start({Sim_Class::cls()});
    for (int k = 0; k < 8; ++k) host.command(QZ_Host::CMD_ADD);
    for (int i = 0; i < 480; ++i) d->in_store[0][i] = d->in_store[1][i] = 0.1f * ((i % 48) < 24 ? 1 : -1);
    const std::vector<int> both = {0, 1};
    d->pump(Sim_Class::callback(), both);  // first pass warms up anything lazy
    const long before = g_allocations.load();
    for (int b = 0; b < 50; ++b) d->pump(Sim_Class::callback(), both);
    EXPECT_EQ(g_allocations.load(), before);
    EXPECT_EQ(host.blocks_run(), 51u);
    // The blocks did reach the outputs.
    double energy = 0;
    for (float v : d->out_store[0]) energy += double(v) * v;
    EXPECT_GT(energy, 0.0);
    host.shutdown();
}
