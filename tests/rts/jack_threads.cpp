// The ASIO sound driver on our JACK driver, against a real JACK server of the
// test's own (dummy backend, 48 kHz, 64-frame periods). A feeder client sends
// a sine into our first input, the block callback copies each input to its
// output, and a recorder client records our first output.
//
// The program also counts allocations and mutex locks made on the sound
// thread, so it replaces the allocation functions and is a program of its own.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <cmath>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

#include "rts/asio_driver.h"
#include "rts/asio_list.h"
#include "tests/rts/jack_server.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QZ_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QZ_TEST_SANITIZED 1
#endif
#endif

namespace {
// Counted only on the thread that runs the block callback.
thread_local bool tl_sound = false;
std::atomic<long> g_sound_allocs{0};
std::atomic<long> g_sound_locks{0};
inline void count_alloc() {
    if (tl_sound) g_sound_allocs.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
    count_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#if !defined(QZ_TEST_SANITIZED) && defined(__GLIBC__)
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
void* malloc(std::size_t n) {
    count_alloc();
    return __libc_malloc(n);
}
void* calloc(std::size_t a, std::size_t b) {
    count_alloc();
    return __libc_calloc(a, b);
}
void* realloc(void* p, std::size_t n) {
    count_alloc();
    return __libc_realloc(p, n);
}
void free(void* p) { __libc_free(p); }

// Mutex locks on the sound thread, passed on to the real function.
int pthread_mutex_lock(pthread_mutex_t* m) {
    using Fn = int (*)(pthread_mutex_t*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (tl_sound) g_sound_locks.fetch_add(1, std::memory_order_relaxed);
    return real(m);
}
}
#define QZ_TEST_COUNTS_LOCKS 1
#endif

// JACK hands port buffers from client to client through its own futexes,
// which ThreadSanitizer cannot see; the probes' accesses to them are not
// tracked, so that only this process's own synchronisation is checked.
#if defined(__SANITIZE_THREAD__)
extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#define QZ_UNTRACKED_BEGIN() \
    AnnotateIgnoreReadsBegin(__FILE__, __LINE__), AnnotateIgnoreWritesBegin(__FILE__, __LINE__)
#define QZ_UNTRACKED_END() AnnotateIgnoreReadsEnd(__FILE__, __LINE__), AnnotateIgnoreWritesEnd(__FILE__, __LINE__)
#else
#define QZ_UNTRACKED_BEGIN() (void)0
#define QZ_UNTRACKED_END() (void)0
#endif

namespace {

constexpr int kRate = 48000;
constexpr int kPeriod = 64;
constexpr std::size_t kCapacity = kRate * 4;

std::atomic<long> g_blocks{0};
std::atomic<long> g_allocs_at_10{-1}, g_allocs_last{0}, g_locks_at_10{-1}, g_locks_last{0};

// The host's part: every input copied to the output of the same number.
void copy_block() {
    tl_sound = true;
    const long n = g_blocks.fetch_add(1) + 1;
    if (n == 10) {
        g_allocs_at_10.store(g_sound_allocs.load());
        g_locks_at_10.store(g_sound_locks.load());
    }
    QZ_Rts_Asio* d = QZ_Rts_Asio::active();
    for (int k = 0;; ++k) {
        QZ_Rts::Chan* in = QZ_Rts::chanAt(d->inputs, k);
        QZ_Rts::Chan* out = QZ_Rts::chanAt(d->outputs, k);
        if (!in || !out) break;
        QZ_Rts::copyBuffer(out, in);
    }
    g_allocs_last.store(g_sound_allocs.load());
    g_locks_last.store(g_sound_locks.load());
}

// A frequency whose samples do not repeat within the recording.
double sine(std::size_t n) { return 0.5 * std::sin(2.0 * M_PI * 440.3 * static_cast<double>(n) / kRate); }

// A client with one port: a feeder sends the sine, a recorder keeps what it hears.
struct Probe {
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    bool feeder;
    std::vector<float> samples = std::vector<float>(kCapacity);
    std::atomic<std::size_t> frames{0};
    std::atomic<bool> armed{false};
    jack_nframes_t start = 0;  // server frame time of the first sample kept

    explicit Probe(bool feed) : feeder(feed) {
        jack_status_t status{};
        client = jack_client_open(Jack_Server::client(feed ? "feeder" : "recorder").c_str(), JackNoStartServer, &status);
        if (!client) return;
        port = jack_port_register(client, feed ? "out" : "in", JACK_DEFAULT_AUDIO_TYPE,
                                  feed ? JackPortIsOutput : JackPortIsInput, 0);
        jack_set_process_callback(client, &Probe::process, this);
        jack_activate(client);
    }
    ~Probe() {
        if (client) jack_client_close(client);
    }
    static int process(jack_nframes_t n, void* arg) {
        Probe& p = *static_cast<Probe*>(arg);
        float* buf = static_cast<float*>(jack_port_get_buffer(p.port, n));
        const std::size_t at = p.frames.load(std::memory_order_relaxed);
        if (at == 0) p.start = jack_last_frame_time(p.client);
        QZ_UNTRACKED_BEGIN();
        if (!p.armed.load() || at + n > kCapacity) {
            if (p.feeder) std::fill(buf, buf + n, 0.0f);
            QZ_UNTRACKED_END();
            return 0;
        }
        for (jack_nframes_t i = 0; i < n; ++i) {
            const float v = p.feeder ? static_cast<float>(sine(at + i)) : buf[i];
            if (p.feeder) buf[i] = v;
            QZ_UNTRACKED_END();
            p.samples[at + i] = v;
            QZ_UNTRACKED_BEGIN();
        }
        QZ_UNTRACKED_END();
        p.frames.store(at + n, std::memory_order_release);
        return 0;
    }
};

bool wait_for(const std::function<bool()>& done, int ms) {
    for (int k = 0; k < ms / 10; ++k) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

class JackThreads : public ::testing::Test {
protected:
    Jack_Server server;
    QZ_message_box_fn old_box = nullptr;
    static inline int boxes = 0;
    static int count_box(const char* text, const char*) {
        std::fprintf(stderr, "box: %s (%s)\n", text, QZ_asio_driver_info().errorMessage);
        ++boxes;
        return QZ_IDOK;
    }

    void SetUp() override {
        if (Jack_Server::find_jackd().empty()) GTEST_SKIP() << "jackd is not installed (Debian package jackd2)";
        const bool kills = std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()).find("GoingAway") != std::string::npos;
        const std::string why = server.start(kRate, kPeriod, false, kills ? "zelo-test-killed" : "");
        ASSERT_TRUE(why.empty()) << why;
        old_box = QZ_set_message_box(&count_box);
        boxes = 0;
        g_blocks = 0;
        ASSERT_EQ(QZ_Rts_Asio::classInit(&copy_block), QZ_OK);
    }
    void TearDown() override {
        QZ_Rts_Asio::classExit();
        QZ_set_message_box(old_box);
    }

    QZ_Rts_Asio* jack_driver() {
        for (int n = 0; QZ_Rts::instanceAt(n); ++n)
            if (std::string(QZ_Rts::instanceAt(n)->name) == "JACK")
                return static_cast<QZ_Rts_Asio*>(QZ_Rts::instanceAt(n));
        return nullptr;
    }
};

TEST_F(JackThreads, SineThroughTheDriverArrivesIntact) {
    QZ_Rts_Asio* d = jack_driver();
    ASSERT_NE(d, nullptr) << "the JACK driver is listed";
    ASSERT_EQ(d->init(), QZ_OK) << server.log();
    // The server's rate is the only one; its period is the block.
    ASSERT_EQ(d->modes.count, 1);
    QZ_Rts::Mode* m = QZ_Rts::modeAt(d->modes, 0);
    EXPECT_EQ(m->rate, kRate);
    EXPECT_EQ(m->block, kPeriod);
    EXPECT_STREQ(m->name, " 48.0 kHz, 32 bit, stereo");
    ASSERT_EQ(d->inputs.count, 2);
    QZ_Rts::Chan* in1 = QZ_Rts::chanAt(d->inputs, 0);
    EXPECT_STREQ(in1->name, "in_1");
    EXPECT_EQ(in1->format, 0x01002004u);
    EXPECT_EQ(in1->count, kPeriod);

    ASSERT_EQ(d->mode(m), QZ_OK);
    ASSERT_EQ(d->outputs.count, 2);
    Probe feeder(true), recorder(false);
    ASSERT_TRUE(feeder.client && recorder.client);
    const std::string ours = Jack_Server::client("zelo");
    ASSERT_EQ(jack_connect(feeder.client, jack_port_name(feeder.port), (ours + ":in_1").c_str()), 0);
    ASSERT_EQ(jack_connect(recorder.client, (ours + ":out_1").c_str(), jack_port_name(recorder.port)), 0);
    feeder.armed = true;
    recorder.armed = true;
    EXPECT_TRUE(wait_for([&] { return recorder.frames.load() >= kCapacity / 4; }, 10000));
    recorder.armed = false;
    feeder.armed = false;
    const long blocks = g_blocks.load();
    EXPECT_EQ(d->free(), QZ_OK);
    const long after = g_blocks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(g_blocks.load(), after) << "no block after free";
    EXPECT_GT(blocks, 100);

    // Every recorded sample after the first sound is the sine the feeder sent
    // at one fixed delay: nothing lost, repeated or altered. Positions are
    // compared on the server's frame clock.
    const std::size_t got = recorder.frames.load(std::memory_order_acquire);
    const std::size_t sent = feeder.frames.load(std::memory_order_acquire);
    std::size_t first = 0;
    while (first < got && recorder.samples[first] == 0.0f) ++first;
    ASSERT_LT(first + kRate / 4, got) << "the sine never arrived";
    const long shift = static_cast<long>(recorder.start) - static_cast<long>(feeder.start);  // recorder index 0 in feeder indices
    long delay = -1;
    for (long k = 0; k < static_cast<long>(sent) && delay < 0; ++k)
        if (feeder.samples[k] == recorder.samples[first]) delay = static_cast<long>(first) + shift - k;
    ASSERT_GE(delay, 0);
    std::size_t bad = 0, compared = 0;
    for (std::size_t i = first; i < got; ++i) {
        const long k = static_cast<long>(i) + shift - delay;
        if (k < 0 || k >= static_cast<long>(sent)) continue;
        ++compared;
        if (recorder.samples[i] != feeder.samples[k]) ++bad;
    }
    EXPECT_GT(compared, static_cast<std::size_t>(kRate / 4));
    EXPECT_EQ(bad, 0u) << "delay " << delay;
    // Feeder, driver and recorder run in graph order within each cycle.
    EXPECT_EQ(delay, 0);
    EXPECT_EQ(d->exit(), QZ_OK);
    EXPECT_EQ(boxes, 0);
}

TEST_F(JackThreads, SoundThreadNeitherAllocatesNorLocks) {
    QZ_Rts_Asio* d = jack_driver();
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->init(), QZ_OK) << server.log();
    ASSERT_EQ(d->mode(QZ_Rts::modeAt(d->modes, 0)), QZ_OK);
    ASSERT_TRUE(wait_for([] { return g_blocks.load() > 200; }, 10000));
    d->free();
    d->exit();
    ASSERT_GE(g_allocs_at_10.load(), 0);
    EXPECT_EQ(g_allocs_last.load() - g_allocs_at_10.load(), 0) << "allocations on the sound thread";
#ifdef QZ_TEST_COUNTS_LOCKS
    EXPECT_EQ(g_locks_last.load() - g_locks_at_10.load(), 0) << "mutex locks on the sound thread";
#endif
}

// A new server period mid-run would make the driver's halves too short: the
// driver plays silence instead of switching and asks the host for a reset.
TEST_F(JackThreads, PeriodChangeMidRunStopsBlocksAndAsksForAReset) {
    QZ_Rts_Asio* d = jack_driver();
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->init(), QZ_OK) << server.log();
    ASSERT_EQ(d->mode(QZ_Rts::modeAt(d->modes, 0)), QZ_OK);
    ASSERT_TRUE(wait_for([] { return g_blocks.load() > 20; }, 10000));
    const std::uint32_t resets = QZ_Rts_Asio::resetRequests();
    Probe other(false);
    ASSERT_NE(other.client, nullptr);
    ASSERT_EQ(jack_set_buffer_size(other.client, kPeriod * 4), 0);
    EXPECT_TRUE(wait_for([&] { return QZ_Rts_Asio::resetRequests() > resets; }, 10000));
    const long blocks = g_blocks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(g_blocks.load(), blocks);
    // Chosen again, the driver runs at the new period.
    EXPECT_EQ(d->free(), QZ_OK);
    EXPECT_EQ(d->exit(), QZ_OK);
    ASSERT_EQ(d->init(), QZ_OK);
    ASSERT_EQ(d->modes.count, 1);
    EXPECT_EQ(QZ_Rts::modeAt(d->modes, 0)->block, kPeriod * 4);
    ASSERT_EQ(d->mode(QZ_Rts::modeAt(d->modes, 0)), QZ_OK);
    EXPECT_TRUE(wait_for([&] { return g_blocks.load() > blocks + 20; }, 10000));
    EXPECT_EQ(d->free(), QZ_OK);
    EXPECT_EQ(d->exit(), QZ_OK);
    EXPECT_EQ(boxes, 0);
}

TEST_F(JackThreads, ServerGoingAwayMidRunLeavesTheProcessAlive) {
    QZ_Rts_Asio* d = jack_driver();
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->init(), QZ_OK) << server.log();
    ASSERT_EQ(d->mode(QZ_Rts::modeAt(d->modes, 0)), QZ_OK);
    ASSERT_TRUE(wait_for([] { return g_blocks.load() > 20; }, 10000));
    const std::uint32_t resets = QZ_Rts_Asio::resetRequests();
    server.stop(SIGKILL);
    EXPECT_TRUE(wait_for([&] { return QZ_Rts_Asio::resetRequests() > resets; }, 10000))
        << "the driver reports the lost server as a reset request";
    const long blocks = g_blocks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(g_blocks.load(), blocks);
    // The client goes on as usual: stop, release, and a later init fails cleanly.
    EXPECT_EQ(d->free(), QZ_OK);
    EXPECT_EQ(d->exit(), QZ_OK);
    EXPECT_EQ(d->init(), QZ_ERROR_AUDIO);
    EXPECT_EQ(boxes, 1);
    d->exit();
}

}  // namespace

// libjack opens its metadata database (Berkeley DB) once per process and keeps
// what that allocates; LeakSanitizer reads this list under AddressSanitizer.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdb-5.3.so\nleak:libjack.so\n"; }
