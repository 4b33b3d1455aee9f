// Wave device on ALSA: capture and playback on one PCM ("default"). A thread of
// ours reads each queued input buffer in turn, hands it to the completion
// callback, then writes whatever output the callback queued; so completions and
// output both run on that one thread, and playback is pumped only while
// recording runs (the wave-device driver is driven by its input).
#include <alsa/asoundlib.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "rts/wave.h"
#include "rts/wave_alsa.h"

namespace {

// What the device thread got when it asked for real-time scheduling: 0 not
// asked yet, > 0 the SCHED_FIFO priority, < 0 the error that refused it.
std::atomic<int> g_schedule{0};
constexpr int kUntimed = -1000000;  // not asked: the device keeps no time

// The device thread asks for SCHED_FIFO where the system grants it (a priority
// below JACK's usual 70-80, within RLIMIT_RTPRIO) and runs on without it where
// not. A probe (keep = false) asks on a thread of its own that ends at once.
int ask_realtime(bool keep) {
    const int top = sched_get_priority_max(SCHED_FIFO);
    int prio = top > 60 ? 60 : top;
    rlimit lim{};
    if (getrlimit(RLIMIT_RTPRIO, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY && geteuid() != 0 &&
        static_cast<rlim_t>(prio) > lim.rlim_cur)
        prio = static_cast<int>(lim.rlim_cur);
    int result = -EPERM;
    if (prio > 0) {
        sched_param p{};
        p.sched_priority = prio;
        const int e = pthread_setschedparam(pthread_self(), SCHED_FIFO, &p);
        result = e == 0 ? prio : -e;
    }
    if (keep) g_schedule.store(result);
    return result;
}

}  // namespace

const char* QZ_wave_platform_scheduling() {
    static thread_local char text[128];
    int got = g_schedule.load();
    const char* when = "the device thread got";
    if (got == 0) {
        // Not started yet: a thread of the same kind asks and ends.
        try {
            std::thread([&got] { got = ask_realtime(false); }).join();
        } catch (...) {
            got = -EAGAIN;
        }
        when = "the device thread will get";
    }
    if (got == kUntimed)
        std::snprintf(text, sizeof text, "%s normal scheduling (the device keeps no time of its own)", when);
    else if (got > 0)
        std::snprintf(text, sizeof text, "%s real-time scheduling (SCHED_FIFO, priority %d)", when, got);
    else
        std::snprintf(text, sizeof text, "%s normal scheduling (real-time refused: %s)", when, std::strerror(-got));
    return text;
}

namespace {

constexpr unsigned RING = 16;

// Headers in arrival order; touched by one thread at a time (the client's before
// start and after stop, the stream's thread in between).
struct Ring {
    QZ_Wave_Header* items[RING] = {};
    unsigned head = 0, size = 0;
    bool push(QZ_Wave_Header* h) {
        if (size == RING) return false;
        items[(head + size++) % RING] = h;
        return true;
    }
    QZ_Wave_Header* front() const { return size ? items[head] : nullptr; }
    void pop() {
        head = (head + 1) % RING;
        --size;
    }
};

struct Stream {
    snd_pcm_t* pcm = nullptr;
    QZ_Wave_Proc cb = nullptr;
    std::uintptr_t instance = 0;
    unsigned frameBytes = 0;
    Ring queue;
};

void quiet(const char*, int, const char*, int, const char*, ...) {}

unsigned open_pcm(Stream& s, const std::string& name, snd_pcm_stream_t dir, const QZ_Wave_Format* f) {
    if (!f || f->formatTag != QZ_WAVE_FORMAT_PCM || f->channels == 0 || f->samplesPerSec == 0)
        return QZ_WAVE_BADFORMAT;
    snd_pcm_format_t fmt;
    switch (f->bitsPerSample) {
    case 16: fmt = SND_PCM_FORMAT_S16_LE; break;
    case 24: fmt = SND_PCM_FORMAT_S24_3LE; break;
    case 32: fmt = SND_PCM_FORMAT_S32_LE; break;
    default: return QZ_WAVE_BADFORMAT;
    }
    if (snd_pcm_open(&s.pcm, name.c_str(), dir, SND_PCM_NONBLOCK) < 0) {
        s.pcm = nullptr;
        return QZ_WAVE_ERROR;
    }
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    const snd_pcm_uframes_t period = f->samplesPerSec / 100 ? f->samplesPerSec / 100 : 1;
    snd_pcm_uframes_t p = period, buf = period * (dir == SND_PCM_STREAM_CAPTURE ? 8 : 4);
    if (snd_pcm_hw_params_any(s.pcm, hw) < 0 ||
        snd_pcm_hw_params_set_access(s.pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(s.pcm, hw, fmt) < 0 ||
        snd_pcm_hw_params_set_channels(s.pcm, hw, f->channels) < 0 ||
        snd_pcm_hw_params_set_rate(s.pcm, hw, f->samplesPerSec, 0) < 0 ||
        snd_pcm_hw_params_set_period_size_near(s.pcm, hw, &p, nullptr) < 0 ||
        snd_pcm_hw_params_set_buffer_size_near(s.pcm, hw, &buf) < 0 || snd_pcm_hw_params(s.pcm, hw) < 0) {
        snd_pcm_close(s.pcm);
        s.pcm = nullptr;
        return QZ_WAVE_BADFORMAT;
    }
    s.frameBytes = static_cast<unsigned>(f->channels) * f->bitsPerSample / 8;
    return QZ_WAVE_OK;
}

class Alsa_Device final : public QZ_Wave_Device {
public:
    explicit Alsa_Device(const char* pcm) : name_(pcm ? pcm : "default") {
        static std::once_flag once;
        // Probing formats a device refuses is expected; ALSA would print each refusal.
        std::call_once(once, [] { snd_lib_error_set_handler(&quiet); });
    }
    // A program that ends while recording runs stops the thread first.
    ~Alsa_Device() override { halt(); }

    unsigned inOpen(QZ_Wave_Handle* h, unsigned, const QZ_Wave_Format* f, QZ_Wave_Proc cb, std::uintptr_t inst,
                    std::uint32_t) override {
        return open(h, SND_PCM_STREAM_CAPTURE, f, cb, inst);
    }
    unsigned outOpen(QZ_Wave_Handle* h, unsigned, const QZ_Wave_Format* f, QZ_Wave_Proc cb, std::uintptr_t inst,
                     std::uint32_t) override {
        const unsigned r = open(h, SND_PCM_STREAM_PLAYBACK, f, cb, inst);
        if (r == QZ_WAVE_OK) out_.store(stream(*h));
        return r;
    }

    unsigned inPrepareHeader(QZ_Wave_Handle, QZ_Wave_Header* hdr) override { return prepare(hdr); }
    unsigned outPrepareHeader(QZ_Wave_Handle, QZ_Wave_Header* hdr) override { return prepare(hdr); }
    unsigned inUnprepareHeader(QZ_Wave_Handle, QZ_Wave_Header* hdr) override { return unprepare(hdr); }
    unsigned outUnprepareHeader(QZ_Wave_Handle, QZ_Wave_Header* hdr) override { return unprepare(hdr); }

    unsigned inAddBuffer(QZ_Wave_Handle h, QZ_Wave_Header* hdr) override { return enqueue(h, hdr); }
    unsigned outWrite(QZ_Wave_Handle h, QZ_Wave_Header* hdr) override { return enqueue(h, hdr); }

    unsigned inStart(QZ_Wave_Handle h) override {
        Stream* s = stream(h);
        if (!s) return QZ_WAVE_ERROR;
        if (running_.load()) return QZ_WAVE_OK;
        snd_pcm_drop(s->pcm);
        if (snd_pcm_prepare(s->pcm) < 0 || snd_pcm_start(s->pcm) < 0) return QZ_WAVE_ERROR;
        running_.store(true);
        try {
            thread_ = std::thread([this, s, h] { run(s, h); });
        } catch (...) {
            running_.store(false);
            return QZ_WAVE_ERROR;
        }
        return QZ_WAVE_OK;
    }

    unsigned inStop(QZ_Wave_Handle h) override {
        Stream* s = stream(h);
        if (!s) return QZ_WAVE_ERROR;
        halt();
        snd_pcm_drop(s->pcm);
        return QZ_WAVE_OK;
    }

    unsigned inReset(QZ_Wave_Handle h) override {
        if (inStop(h) != QZ_WAVE_OK) return QZ_WAVE_ERROR;
        give_back(stream(h), h, QZ_WIM_DATA);
        return QZ_WAVE_OK;
    }

    // Output is written from the input's thread: it is reset and closed only
    // while no recording runs.
    unsigned outReset(QZ_Wave_Handle h) override {
        Stream* s = stream(h);
        if (!s) return QZ_WAVE_ERROR;
        if (running_.load()) return QZ_WAVE_STILLPLAYING;
        snd_pcm_drop(s->pcm);
        give_back(s, h, QZ_WOM_DONE);
        snd_pcm_prepare(s->pcm);
        return QZ_WAVE_OK;
    }

    unsigned inClose(QZ_Wave_Handle h) override { return close(h); }
    unsigned outClose(QZ_Wave_Handle h) override {
        Stream* s = stream(h);
        if (!s) return QZ_WAVE_ERROR;
        if (running_.load() && out_.load() == s) return QZ_WAVE_STILLPLAYING;
        const unsigned r = close(h);
        if (r == QZ_WAVE_OK && out_.load() == s) out_.store(nullptr);
        return r;
    }

private:
    static Stream* stream(QZ_Wave_Handle h) { return reinterpret_cast<Stream*>(h); }

    unsigned open(QZ_Wave_Handle* h, snd_pcm_stream_t dir, const QZ_Wave_Format* f, QZ_Wave_Proc cb,
                  std::uintptr_t inst) {
        if (!h) return QZ_WAVE_ERROR;
        *h = 0;
        auto* s = new (std::nothrow) Stream;
        if (!s) return QZ_WAVE_ERROR;
        const unsigned r = open_pcm(*s, name_, dir, f);
        if (r != QZ_WAVE_OK) {
            delete s;
            return r;
        }
        s->cb = cb;
        s->instance = inst;
        *h = reinterpret_cast<QZ_Wave_Handle>(s);
        return QZ_WAVE_OK;
    }

    unsigned close(QZ_Wave_Handle h) {
        Stream* s = stream(h);
        if (!s) return QZ_WAVE_ERROR;
        if (s->queue.size) return QZ_WAVE_STILLPLAYING;
        snd_pcm_close(s->pcm);
        delete s;
        return QZ_WAVE_OK;
    }

    static unsigned prepare(QZ_Wave_Header* hdr) {
        if (!hdr || !hdr->data) return QZ_WAVE_ERROR;
        hdr->flags.fetch_or(QZ_WHDR_PREPARED);
        return QZ_WAVE_OK;
    }
    static unsigned unprepare(QZ_Wave_Header* hdr) {
        if (!hdr) return QZ_WAVE_ERROR;
        if (hdr->flags.load() & QZ_WHDR_INQUEUE) return QZ_WAVE_STILLPLAYING;
        hdr->flags.fetch_and(~QZ_WHDR_PREPARED);
        return QZ_WAVE_OK;
    }
    static unsigned enqueue(QZ_Wave_Handle h, QZ_Wave_Header* hdr) {
        Stream* s = stream(h);
        if (!s || !hdr || !(hdr->flags.load() & QZ_WHDR_PREPARED)) return QZ_WAVE_ERROR;
        if (s->frameBytes == 0 || hdr->bufferLength < s->frameBytes) return QZ_WAVE_ERROR;
        hdr->reserved = 0;
        hdr->bytesRecorded = 0;
        hdr->flags.store((hdr->flags.load() & ~QZ_WHDR_DONE) | QZ_WHDR_INQUEUE);
        return s->queue.push(hdr) ? QZ_WAVE_OK : QZ_WAVE_ERROR;
    }

    static void finish(Stream* s, QZ_Wave_Handle h, unsigned msg) {
        QZ_Wave_Header* hdr = s->queue.front();
        s->queue.pop();
        hdr->reserved = 0;
        hdr->flags.store((hdr->flags.load() & ~QZ_WHDR_INQUEUE) | QZ_WHDR_DONE, std::memory_order_release);
        if (s->cb) s->cb(h, msg, s->instance, reinterpret_cast<std::uintptr_t>(hdr), 0);
    }

    static void give_back(Stream* s, QZ_Wave_Handle h, unsigned msg) {
        while (s->queue.size) finish(s, h, msg);
    }

    void halt() {
        running_.store(false);
        if (thread_.joinable()) thread_.join();
    }

    // Writes as much queued output as the device takes now, without waiting.
    void pump() {
        Stream* o = out_.load();
        if (!o) return;
        const auto oh = reinterpret_cast<QZ_Wave_Handle>(o);
        while (QZ_Wave_Header* hdr = o->queue.front()) {
            const snd_pcm_uframes_t total = hdr->bufferLength / o->frameBytes;
            const snd_pcm_uframes_t done = hdr->reserved;
            const snd_pcm_sframes_t n = snd_pcm_writei(o->pcm, hdr->data + done * o->frameBytes, total - done);
            if (n == -EAGAIN) return;
            if (n < 0) {
                if (snd_pcm_recover(o->pcm, static_cast<int>(n), 1) < 0) return;
                continue;
            }
            hdr->reserved = done + static_cast<snd_pcm_uframes_t>(n);
            if (hdr->reserved < total) return;
            finish(o, oh, QZ_WOM_DONE);
        }
    }

    // Errors after which the device never comes back: it was unplugged, or
    // the server behind it went away.
    static bool gone(int err) { return err == -ENODEV || err == -ENXIO || err == -EBADFD || err == -ESHUTDOWN; }

    // Says so once, through the completion callback; the thread then ends
    // (the driver's stop still joins it).
    void lost(Stream* s, QZ_Wave_Handle h, int err) {
        std::snprintf(lost_reason_, sizeof lost_reason_, "The ALSA device \"%s\" went away: %s", name_.c_str(),
                      snd_strerror(err));
        if (s->cb) s->cb(h, QZ_WIM_LOST, s->instance, reinterpret_cast<std::uintptr_t>(lost_reason_), 0);
    }

    void run(Stream* s, QZ_Wave_Handle h) {
        // ALSA's null device keeps no time: its reads never wait, and a thread
        // spinning on them at real-time priority would starve the machine.
        if (snd_pcm_type(s->pcm) == SND_PCM_TYPE_NULL)
            g_schedule.store(kUntimed);
        else
            ask_realtime(true);
        while (running_.load(std::memory_order_relaxed)) {
            QZ_Wave_Header* hdr = s->queue.front();
            if (!hdr) {
                // Nothing queued (a stop is under way): let the device run on.
                snd_pcm_wait(s->pcm, 10);
                snd_pcm_drop(s->pcm);
                snd_pcm_prepare(s->pcm);
                snd_pcm_start(s->pcm);
                continue;
            }
            const snd_pcm_uframes_t total = hdr->bufferLength / s->frameBytes;
            const snd_pcm_uframes_t done = hdr->reserved;
            const snd_pcm_sframes_t n = snd_pcm_readi(s->pcm, hdr->data + done * s->frameBytes, total - done);
            if (n == -EAGAIN || n == 0) {
                snd_pcm_wait(s->pcm, 20);
                continue;
            }
            if (n < 0) {
                // Overrun or suspend: start again and keep the partial buffer.
                const int r = snd_pcm_recover(s->pcm, static_cast<int>(n), 1);
                if (r >= 0) {
                    snd_pcm_start(s->pcm);
                } else if (gone(r)) {
                    lost(s, h, r);
                    return;
                } else {
                    snd_pcm_wait(s->pcm, 20);
                }
                continue;
            }
            hdr->reserved = done + static_cast<snd_pcm_uframes_t>(n);
            if (hdr->reserved < total) continue;
            hdr->bytesRecorded = static_cast<std::uint32_t>(total * s->frameBytes);
            finish(s, h, QZ_WIM_DATA);
            pump();
        }
    }

    std::string name_;
    char lost_reason_[160] = {};
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<Stream*> out_{nullptr};
};

}  // namespace

QZ_Wave_Device* QZ_wave_alsa_device(const char* pcm) { return new (std::nothrow) Alsa_Device(pcm); }

QZ_Wave_Device* QZ_wave_platform_device() {
    static Alsa_Device device("default");
    return &device;
}

const char* QZ_wave_platform_name() { return "ALSA"; }
