#include "rts/asio_jack.h"

#include <jack/jack.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "rts/asio_list.h"

const QZ_Guid QZ_CLSID_Asio_Jack = {0x5A454C4F, 0x4A41, 0x434B, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};

namespace {

constexpr std::int32_t kMaxChannels = 32;
constexpr std::int32_t kMinChannels = 2;
constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80004002u);

std::atomic<std::uint64_t> g_worst_cycle_ns{0};

std::uint64_t now_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1000000000u + static_cast<std::uint64_t>(t.tv_nsec);
}

// libjack writes its own lines to standard error ("Cannot connect to server
// socket ...") before the driver can say in one line what failed. Its words go
// through here instead: dropped, or with ZELO_JACK_VERBOSE set, passed on
// marked as JACK's.
bool jack_verbose() {
    static const bool verbose = [] {
        const char* v = std::getenv("ZELO_JACK_VERBOSE");
        return v && *v && std::strcmp(v, "0") != 0;
    }();
    return verbose;
}
void jack_said(const char* text) {
    if (jack_verbose()) std::fprintf(stderr, "zelo: JACK: %s\n", text ? text : "");
}
void quiet_jack() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_verbose();
        jack_set_error_function(&jack_said);
        jack_set_info_function(&jack_said);
    });
}

using Message_Fn = std::int32_t (*)(std::int32_t, std::int32_t, void*, double*);
using Rate_Fn = void (*)(ASIOSampleRate);

class Jack_Driver final : public IASIO {
public:
    std::int32_t QZ_ASIO_COMCALL QueryInterface(const QZ_Guid& iid, void** object) override {
        if (!object) return kNoInterface;
        if (iid == QZ_CLSID_Asio_Jack || iid == QZ_IID_IUnknown) {
            AddRef();
            *object = this;
            return 0;
        }
        *object = nullptr;
        return kNoInterface;
    }
    std::uint32_t QZ_ASIO_COMCALL AddRef() override { return refs_.fetch_add(1) + 1; }
    std::uint32_t QZ_ASIO_COMCALL Release() override {
        const std::uint32_t left = refs_.fetch_sub(1) - 1;
        if (left == 0) {
            shut();
            delete this;
        }
        return left;
    }

    ASIOBool init(void*) override {
        if (client_) return ASIOTrue;
        quiet_jack();
        jack_status_t status{};
        // JACK names a client's socket after the client alone, so clients of
        // one name on different servers disturb each other: ZELO_JACK_CLIENT
        // gives a process a name of its own.
        const char* client = std::getenv("ZELO_JACK_CLIENT");
        client_ = jack_client_open(client && *client ? client : "zelo", JackNoStartServer, &status);
        if (!client_) {
            const char* server = std::getenv("JACK_DEFAULT_SERVER");
            if (!server || !*server) server = "default";
            if (status & JackServerFailed)
                std::snprintf(error_, sizeof error_, "No JACK server \"%s\" is running", server);
            else
                std::snprintf(error_, sizeof error_, "The JACK server \"%s\" refused the client (status 0x%x)",
                              server, static_cast<unsigned>(status));
            return ASIOFalse;
        }
        rate_.store(jack_get_sample_rate(client_));
        period_.store(static_cast<std::int32_t>(jack_get_buffer_size(client_)));
        inputs_ = physical(JackPortIsOutput);  // capture ports feed our inputs
        outputs_ = physical(JackPortIsInput);
        char name[32];
        for (std::int32_t k = 0; k < inputs_ + outputs_; ++k) {
            const bool in = k < inputs_;
            std::snprintf(name, sizeof name, in ? "in_%d" : "out_%d", (in ? k : k - inputs_) + 1);
            jack_port_t* p = jack_port_register(client_, name, JACK_DEFAULT_AUDIO_TYPE,
                                                in ? JackPortIsInput : JackPortIsOutput, 0);
            if (!p) {
                std::snprintf(error_, sizeof error_, "Cannot register the JACK port %s", name);
                shut();
                return ASIOFalse;
            }
            ports_.push_back(p);
        }
        jack_set_process_callback(client_, &Jack_Driver::on_process, this);
        jack_set_buffer_size_callback(client_, &Jack_Driver::on_buffer_size, this);
        jack_set_sample_rate_callback(client_, &Jack_Driver::on_rate, this);
        jack_set_xrun_callback(client_, &Jack_Driver::on_xrun, this);
        jack_on_info_shutdown(client_, &Jack_Driver::on_shutdown, this);
        return ASIOTrue;
    }

    void getDriverName(char* name) override { std::snprintf(name, 32, "JACK"); }
    std::int32_t getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override { std::snprintf(text, 124, "%s", error_); }

    ASIOError start() override {
        if (!client_ || slots_.empty()) return ASE_NotPresent;
        if (gone_.load()) return ASE_HWMalfunction;
        if (running_.load()) return ASE_OK;
        half_ = 0;
        position_.store(0);
        running_.store(true);
        if (jack_activate(client_) != 0) {
            running_.store(false);
            return ASE_HWMalfunction;
        }
        connect_physical();
        return ASE_OK;
    }

    ASIOError stop() override {
        // Deactivation takes us out of the server's graph; a server that went
        // away runs nothing anyway. Either way a cycle may still be inside our
        // callback: wait for it, so nothing of ours runs once stop returns.
        if (running_.exchange(false) && !gone_.load()) jack_deactivate(client_);
        while (busy_.load(std::memory_order_acquire)) std::this_thread::yield();
        return ASE_OK;
    }

    ASIOError getChannels(std::int32_t* numIn, std::int32_t* numOut) override {
        if (!client_) return ASE_NotPresent;
        if (!numIn || !numOut) return ASE_InvalidParameter;
        *numIn = inputs_;
        *numOut = outputs_;
        return ASE_OK;
    }

    ASIOError getLatencies(std::int32_t* in, std::int32_t* out) override {
        if (!client_) return ASE_NotPresent;
        *in = *out = period_.load();
        return ASE_OK;
    }

    ASIOError getBufferSize(std::int32_t* minSize, std::int32_t* maxSize, std::int32_t* preferred,
                            std::int32_t* granularity) override {
        if (!client_) return ASE_NotPresent;
        *minSize = *maxSize = *preferred = period_.load();
        *granularity = 0;
        return ASE_OK;
    }

    ASIOError canSampleRate(ASIOSampleRate r) override {
        if (!client_) return ASE_NotPresent;
        return r == rate_.load() ? ASE_OK : ASE_NoClock;
    }
    ASIOError getSampleRate(ASIOSampleRate* r) override {
        if (!client_) return ASE_NotPresent;
        *r = rate_.load();
        return ASE_OK;
    }
    ASIOError setSampleRate(ASIOSampleRate r) override {
        if (!client_) return ASE_NotPresent;
        return r == 0 || r == rate_.load() ? ASE_OK : ASE_NoClock;  // the server owns the rate
    }

    ASIOError getClockSources(ASIOClockSource* clocks, std::int32_t* count) override {
        if (!clocks || !count || *count < 1) return ASE_InvalidParameter;
        *clocks = ASIOClockSource{0, -1, -1, ASIOTrue, "Internal"};
        *count = 1;
        return ASE_OK;
    }
    ASIOError setClockSource(std::int32_t index) override { return index == 0 ? ASE_OK : ASE_NotPresent; }

    ASIOError getSamplePosition(ASIOSamples* pos, ASIOTimeStamp* stamp) override {
        if (!running_.load()) return ASE_SPNotAdvancing;
        *pos = QZ_asio_samples(position_.load());
        *stamp = QZ_asio_samples(stamp_.load());
        return ASE_OK;
    }

    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        if (!client_) return ASE_NotPresent;
        if (!info) return ASE_InvalidParameter;
        jack_port_t* p = port(info->isInput != 0, info->channel);
        if (!p) return ASE_InvalidParameter;
        info->isActive = std::any_of(slots_.begin(), slots_.end(), [p](const Slot& s) { return s.port == p; });
        info->channelGroup = 0;
        info->type = ASIOSTFloat32LSB;
        std::snprintf(info->name, sizeof info->name, "%s", jack_port_short_name(p));
        return ASE_OK;
    }

    ASIOError createBuffers(ASIOBufferInfo* infos, std::int32_t count, std::int32_t size,
                            ASIOCallbacks* callbacks) override {
        if (!client_) return ASE_NotPresent;
        if (!slots_.empty()) return ASE_InvalidMode;
        if (!infos || !callbacks || !callbacks->bufferSwitch || count <= 0 || count > inputs_ + outputs_ ||
            size != period_.load())
            return ASE_InvalidMode;
        std::vector<Slot> slots;
        for (std::int32_t k = 0; k < count; ++k) {
            jack_port_t* p = port(infos[k].isInput != 0, infos[k].channelNum);
            if (!p || std::any_of(slots.begin(), slots.end(), [p](const Slot& s) { return s.port == p; }))
                return ASE_InvalidMode;
            slots.push_back(Slot{p, infos[k].isInput != 0, {nullptr, nullptr}});
        }
        storage_.assign(static_cast<std::size_t>(count) * 2 * size, 0.0f);
        for (std::int32_t k = 0; k < count; ++k) {
            for (int h = 0; h < 2; ++h) {
                slots[k].half[h] = storage_.data() + (static_cast<std::size_t>(k) * 2 + h) * size;
                infos[k].buffers[h] = slots[k].half[h];
            }
        }
        idle_.clear();
        for (std::int32_t k = 0; k < outputs_; ++k) {
            jack_port_t* p = ports_[inputs_ + k];
            if (std::none_of(slots.begin(), slots.end(), [p](const Slot& s) { return s.port == p; }))
                idle_.push_back(p);
        }
        slots_ = std::move(slots);
        block_ = size;
        switch_ = callbacks->bufferSwitch;
        switch_time_ = nullptr;
        message_.store(callbacks->asioMessage);
        rate_changed_.store(callbacks->sampleRateDidChange);
        if (callbacks->bufferSwitchTimeInfo && ask(kAsioSelectorSupported, kAsioSupportsTimeInfo) == 1 &&
            ask(kAsioSupportsTimeInfo, 0) == 1)
            switch_time_ = callbacks->bufferSwitchTimeInfo;
        return ASE_OK;
    }

    ASIOError disposeBuffers() override {
        if (slots_.empty()) return ASE_InvalidMode;
        stop();
        slots_.clear();
        idle_.clear();
        storage_.clear();
        message_.store(nullptr);
        rate_changed_.store(nullptr);
        return ASE_OK;
    }

    ASIOError controlPanel() override { return ASE_NotPresent; }
    ASIOError future(std::int32_t selector, void*) override {
        return selector == kAsioCanTimeInfo ? ASE_SUCCESS : ASE_NotPresent;
    }
    ASIOError outputReady() override { return ASE_NotPresent; }  // outputs leave in the same cycle anyway

private:
    struct Slot {
        jack_port_t* port;
        bool input;
        float* half[2];
    };

    ~Jack_Driver() = default;

    std::int32_t physical(unsigned long direction) {
        const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | direction);
        std::int32_t n = 0;
        while (names && names[n]) ++n;
        if (names) jack_free(names);
        return std::clamp(n, kMinChannels, kMaxChannels);
    }

    jack_port_t* port(bool input, std::int32_t channel) const {
        const std::int32_t n = input ? inputs_ : outputs_;
        if (channel < 0 || channel >= n) return nullptr;
        return ports_[(input ? 0 : inputs_) + channel];
    }

    // Channel k of ours goes to (or comes from) the server's physical port k.
    void connect_physical() {
        for (int dir = 0; dir < 2; ++dir) {
            const bool in = dir == 0;
            const char** names =
                jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | (in ? JackPortIsOutput : JackPortIsInput));
            for (std::int32_t k = 0; names && names[k]; ++k) {
                jack_port_t* p = port(in, k);
                if (!p) break;
                if (std::none_of(slots_.begin(), slots_.end(), [p](const Slot& s) { return s.port == p; })) continue;
                if (in)
                    jack_connect(client_, names[k], jack_port_name(p));
                else
                    jack_connect(client_, jack_port_name(p), names[k]);
            }
            if (names) jack_free(names);
        }
    }

    std::int32_t ask(std::int32_t selector, std::int32_t value, void* message = nullptr) {
        Message_Fn m = message_.load();
        return m ? m(selector, value, message, nullptr) : 0;
    }

    void shut() {
        if (!slots_.empty()) disposeBuffers();
        if (client_) jack_client_close(client_);
        client_ = nullptr;
        ports_.clear();
    }

    // One cycle: the input ports into half h, the host's switch, half h into
    // the output ports. Allocates nothing, locks nothing.
    static int on_process(jack_nframes_t frames, void* arg) {
        Jack_Driver& d = *static_cast<Jack_Driver*>(arg);
        // Marked busy before looking at running_, and stop clears running_
        // before looking at busy_: one of the two sees the other.
        d.busy_.store(true);
        const std::uint64_t began = now_ns();
        const std::size_t bytes = frames * sizeof(float);
        if (!d.running_.load() || static_cast<std::int32_t>(frames) != d.block_) {
            for (std::int32_t k = 0; k < d.outputs_; ++k)
                std::memset(jack_port_get_buffer(d.ports_[d.inputs_ + k], frames), 0, bytes);
            d.busy_.store(false, std::memory_order_release);
            return 0;
        }
        const int h = d.half_;
        for (const Slot& s : d.slots_)
            if (s.input) std::memcpy(s.half[h], jack_port_get_buffer(s.port, frames), bytes);
        const std::uint64_t position = d.position_.load(std::memory_order_relaxed);
        const std::uint64_t stamp = jack_get_time() * 1000;
        d.stamp_.store(stamp, std::memory_order_relaxed);
        if (d.switch_time_) {
            AsioTimeInfo& t = d.time_.timeInfo;
            t.speed = 1.0;
            t.systemTime = QZ_asio_samples(stamp);
            t.samplePosition = QZ_asio_samples(position);
            t.sampleRate = d.rate_.load(std::memory_order_relaxed);
            t.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
            d.switch_time_(&d.time_, h, ASIOTrue);
        } else {
            d.switch_(h, ASIOTrue);
        }
        for (const Slot& s : d.slots_)
            if (!s.input) std::memcpy(jack_port_get_buffer(s.port, frames), s.half[h], bytes);
        for (jack_port_t* p : d.idle_) std::memset(jack_port_get_buffer(p, frames), 0, bytes);
        d.position_.store(position + frames, std::memory_order_relaxed);
        d.half_ = h ^ 1;
        const std::uint64_t took = now_ns() - began;
        if (took > g_worst_cycle_ns.load(std::memory_order_relaxed))
            g_worst_cycle_ns.store(took, std::memory_order_relaxed);
        d.busy_.store(false, std::memory_order_release);
        return 0;
    }

    // Called at activation with the current size too: only a change counts.
    static int on_buffer_size(jack_nframes_t frames, void* arg) {
        Jack_Driver& d = *static_cast<Jack_Driver*>(arg);
        const auto n = static_cast<std::int32_t>(frames);
        if (d.period_.exchange(n) == n) return 0;
        if (!(d.ask(kAsioSelectorSupported, kAsioBufferSizeChange) == 1 && d.ask(kAsioBufferSizeChange, n) == 1))
            d.ask(kAsioResetRequest, 0);
        return 0;
    }

    static int on_rate(jack_nframes_t rate, void* arg) {
        Jack_Driver& d = *static_cast<Jack_Driver*>(arg);
        if (d.rate_.exchange(rate) != static_cast<double>(rate))
            if (Rate_Fn f = d.rate_changed_.load()) f(rate);
        return 0;
    }

    static int on_xrun(void* arg) {
        Jack_Driver& d = *static_cast<Jack_Driver*>(arg);
        d.xruns_.fetch_add(1);
        if (d.ask(kAsioSelectorSupported, kAsioResyncRequest) == 1) d.ask(kAsioResyncRequest, 0);
        return 0;
    }

    // The server went away: no more cycles. The host hears of it as a reset
    // request; the client is closed later, never from inside this callback.
    static void on_shutdown(jack_status_t, const char* reason, void* arg) {
        Jack_Driver& d = *static_cast<Jack_Driver*>(arg);
        d.gone_.store(true);
        d.running_.store(false);
        std::snprintf(d.error_, sizeof d.error_, "The JACK server stopped: %s", reason ? reason : "");
        d.ask(kAsioResetRequest, 0, d.error_);
    }

    std::atomic<std::uint32_t> refs_{1};
    jack_client_t* client_ = nullptr;
    std::vector<jack_port_t*> ports_;  // inputs, then outputs
    std::int32_t inputs_ = 0, outputs_ = 0;
    std::atomic<double> rate_{0};
    std::atomic<std::int32_t> period_{0};

    // Prepared by createBuffers while inactive; read by the cycles.
    std::vector<Slot> slots_;
    std::vector<jack_port_t*> idle_;  // outputs without buffers: silence
    std::vector<float> storage_;
    std::int32_t block_ = 0;
    void (*switch_)(std::int32_t, ASIOBool) = nullptr;
    ASIOTime* (*switch_time_)(ASIOTime*, std::int32_t, ASIOBool) = nullptr;
    ASIOTime time_{};
    int half_ = 0;

    std::atomic<Message_Fn> message_{nullptr};
    std::atomic<Rate_Fn> rate_changed_{nullptr};
    std::atomic<bool> running_{false}, gone_{false}, busy_{false};
    std::atomic<std::uint64_t> position_{0}, stamp_{0};
    std::atomic<std::uint32_t> xruns_{0};
    char error_[124] = "";
};

// The built-in list: our JACK driver only.
class Builtin_Source : public QZ_Asio_Source {
public:
    std::vector<Found> scan() override { return {Found{"JACK", QZ_CLSID_Asio_Jack}}; }
    std::int32_t create(const QZ_Guid& clsid, IASIO** driver) override {
        *driver = clsid == QZ_CLSID_Asio_Jack ? QZ_asio_jack_create() : nullptr;
        return *driver ? 0 : static_cast<std::int32_t>(0x80040154u);  // class not registered
    }
};

}  // namespace

IASIO* QZ_asio_jack_create() { return new Jack_Driver; }

std::uint64_t QZ_asio_jack_take_worst_cycle_ns() { return g_worst_cycle_ns.exchange(0); }

QZ_Asio_Source* QZ_asio_platform_source() {
    static Builtin_Source source;
    return &source;
}
