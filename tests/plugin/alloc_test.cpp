#include <functional>
// processReplacing must not touch the heap. Every allocation of the process is
// counted while a flag is up: through interposed malloc and operator new in a
// plain build, through the sanitizer's allocator hooks under ASan or TSan.
#include <atomic>
#include <cstdlib>
#include <new>

#include "plugin_env.h"
#if defined(ZELO_CLAP_PATH)
#include <dlfcn.h>
#include <pthread.h>

#include "host/claphost/claphost.h"
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZELO_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZELO_SANITIZED 1
#endif
#endif

namespace {
std::atomic<bool> g_armed{false};
std::atomic<long> g_allocations{0};
inline void note() {
    if (g_armed.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
}
}  // namespace

#if ZELO_SANITIZED
// The runtime's hook interface (declared here: gcc ships no header for it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));
namespace {
void on_malloc(const volatile void*, std::size_t) { note(); }
void on_free(const volatile void*) {}
const int g_hooks = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
}  // namespace
#else
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t n) {
    note();
    return __libc_malloc(n);
}
void* calloc(std::size_t a, std::size_t b) {
    note();
    return __libc_calloc(a, b);
}
void* realloc(void* p, std::size_t n) {
    note();
    return __libc_realloc(p, n);
}
void free(void* p) { __libc_free(p); }
}

void* operator new(std::size_t n) {
    note();
    if (void* p = __libc_malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, std::size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::size_t) noexcept { __libc_free(p); }
#endif

using namespace plugtest;

namespace {

const ::testing::Environment* const quiet = ::testing::AddGlobalTestEnvironment(new QuietTrace);

long count_during(const std::function<void()>& f) {
    g_allocations = 0;
    g_armed = true;
    f();
    g_armed = false;
    return g_allocations.load();
}

}  // namespace

TEST(Allocation, TheCounterSeesThePluginsAllocations) {
    // Building the chain allocates inside zelo.so: proof that its calls reach us.
    std::unique_ptr<Plugin> p;
    std::string error;
    const long n = count_during([&] { p = Plugin::create(module(), &error); });
    ASSERT_TRUE(p) << error;
    EXPECT_GT(n, 0);
}

TEST(Allocation, ProcessReplacingAllocatesNothing) {
    auto p = started(48000.0f, 4096);
    std::vector<float> in(1 << 16), l(in.size()), r(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = (i % 97) / 50.0f - 0.9f;
    const long n = count_during([&] {
        for (VstInt32 frames : {1, 63, 64, 511, 512, 513, 1100, 4096, 1 << 16})
            p->process(in.data(), l.data(), r.data(), frames);
    });
    EXPECT_EQ(n, 0);

    // The passes that carry a switch's crossfade, and passes after a cutoff or
    // rate change, allocate nothing either.
    for (float state : {0.0f, 1.0f, 0.0f, 1.0f}) {
        p->set_parameter(0, state);
        p->set_parameter(1, state * 0.7f + 0.1f);
        EXPECT_EQ(count_during([&] { p->process(in.data(), l.data(), r.data(), 1100); }), 0);
    }
    p->dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    EXPECT_EQ(count_during([&] { p->process(in.data(), l.data(), r.data(), 4096); }), 0);
}

#if defined(ZELO_CLAP_PATH)
// Mutex locks while the flag is up, through a pthread_mutex_lock of this
// program's own that the module's calls reach first (ThreadSanitizer keeps the
// locks to itself: there they are not counted).
#if !defined(__SANITIZE_THREAD__)
namespace {
std::atomic<long> g_locks{0};
}
extern "C" int pthread_mutex_lock(pthread_mutex_t* m) {
    using Lock = int (*)(pthread_mutex_t*);
    static const Lock real = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (g_armed.load(std::memory_order_relaxed)) g_locks.fetch_add(1);
    return real(m);
}
#define ZELO_LOCKS_COUNTED 1
#endif

TEST(Allocation, ClapProcessAndFlushAllocateNothing) {
    // zelo.clap through the CLAP host, whose own event lists are fixed arrays:
    // value events split blocks at their frames, and a flush outside processing.
    std::string error;
    auto m = zelo::claphost::Module::load(ZELO_CLAP_PATH, &error);
    ASSERT_TRUE(m) << error;
    std::unique_ptr<zelo::claphost::Plugin> p;
#if ZELO_LOCKS_COUNTED
    g_locks = 0;
#endif
    EXPECT_GT(count_during([&] { p = zelo::claphost::Plugin::create(*m, &error); }), 0);
    ASSERT_TRUE(p) << error;
#if ZELO_LOCKS_COUNTED
    EXPECT_GT(g_locks.load(), 0);  // the toolkit's object table: the counter sees the module's locks
    g_locks = 0;
#endif
    ASSERT_TRUE(p->start(48000.0, 4096));
    std::vector<float> in(4096), l(in.size()), r(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = (i % 89) / 40.0f - 1.1f;
    const long n = count_during([&] {
        for (std::uint32_t frames : {1u, 64u, 511u, 513u, 4096u}) {
            p->queue_value(1, frames / 4096.0, frames / 3);
            p->queue_value(0, frames % 2 ? 0.0 : 1.0, frames / 2);
            p->queue_value(1, 0.3, frames - 1);
            p->process(in.data(), l.data(), r.data(), frames);
        }
        p->process(nullptr, l.data(), r.data(), 4096);
        p->plugin()->reset(p->plugin());
        p->process(in.data(), l.data(), r.data(), 4096);
    });
    EXPECT_EQ(n, 0);
    // With the host's editor made (an instance with widgets), automation still
    // reaches only the sound instance; the editor follows on the main thread.
    ASSERT_TRUE(p->gui()->create(p->plugin(), p->gui()->is_api_supported(p->plugin(), "x11", false) ? "x11" : "win32",
                                 false));
    EXPECT_EQ(count_during([&] {
                  p->queue_value(1, 0.8, 100);
                  p->queue_value(0, 0.0, 200);
                  p->process(in.data(), l.data(), r.data(), 4096);
              }),
              0);
    EXPECT_GT(p->callback_requests(), 0);
#if ZELO_LOCKS_COUNTED
    EXPECT_EQ(g_locks.load(), 0);
#endif
    p->main_thread_callback();
    p->gui()->destroy(p->plugin());
    p->stop();
    EXPECT_EQ(count_during([&] {
                  p->queue_value(1, 0.9);
                  p->flush();
              }),
              0);
}
#endif
