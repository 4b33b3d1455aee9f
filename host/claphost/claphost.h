// A small CLAP host: loads a .clap module, creates a plug-in, and drives it as
// hosts do (activate, process with parameter events at their frames, flush
// outside processing, state through streams, an embedded editor). It offers the
// plug-in the host's params extension and counts the plug-in's requests. Used by
// the command line and by the tests.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/module/library.h"
#include "plugin/clap.h"

namespace zelo::claphost {

// A loaded module whose entry has been initialised; deinit and unload on destruction.
class Module {
public:
    // Null with the reason in *error when the file cannot be loaded, exports no
    // clap_entry, has a version of CLAP this host does not know, or fails init.
    static std::unique_ptr<Module> load(const std::string& path, std::string* error = nullptr);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    const clap_plugin_entry_t* entry() const { return entry_; }
    const clap_plugin_factory_t* factory() const;

private:
    Module() = default;
    std::unique_ptr<module::Library> lib_;
    const clap_plugin_entry_t* entry_ = nullptr;
};

// An output event the plug-in sent (parameter values and gestures).
struct OutEvent {
    std::uint16_t type = 0;
    std::uint32_t param_id = 0;
    std::uint32_t time = 0;
    double value = 0.0;
};

class Plugin {
public:
    // The plug-in with that id, or the factory's first; created and initialised.
    static std::unique_ptr<Plugin> create(const Module& module, std::string* error = nullptr,
                                          const char* id = nullptr);
    // Stops, deactivates and destroys.
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    const clap_plugin_t* plugin() const { return plugin_; }
    const clap_plugin_params_t* params() const { return params_; }
    const clap_plugin_audio_ports_t* audio_ports() const { return ports_; }
    const clap_plugin_state_t* state() const { return state_; }
    const clap_plugin_latency_t* latency() const { return latency_; }
    const clap_plugin_gui_t* gui() const { return gui_; }

    // activate + start_processing; the event lists get room for `block` frames' worth.
    bool start(double sample_rate, std::uint32_t max_frames);
    void stop();
    bool running() const { return running_; }

    // Parameters through the params extension.
    std::uint32_t param_count() const;
    bool param_info(std::uint32_t index, clap_param_info_t* info) const;
    double param_value(std::uint32_t id) const;
    std::string param_text(std::uint32_t id, double value) const;
    // The index whose name matches (any case), or -1.
    int param_index(const std::string& name) const;

    // A value event for the next process (at frame `time` of it) or flush.
    // Events must be queued in time order.
    void queue_value(std::uint32_t id, double value, std::uint32_t time = 0);
    // One block: mono input (null: silence) into left and right. The queued
    // events go with it. Allocates nothing once started.
    std::int32_t process(const float* input, float* left, float* right, std::uint32_t frames);
    // Runs a whole signal in blocks of `block` frames.
    void render(const std::vector<float>& input, std::vector<float>& left, std::vector<float>& right,
                std::uint32_t block);
    // params.flush with the queued events (outside processing).
    void flush();

    // The events the plug-in pushed to the host so far (the latest `kOutCapacity` kept).
    std::vector<OutEvent> out_events() const;
    void clear_out_events();

    // State through the state extension, moved `chunk` bytes at most per stream call.
    bool save_state(std::vector<std::uint8_t>* bytes, std::size_t chunk = SIZE_MAX);
    bool load_state(const std::vector<std::uint8_t>& bytes, std::size_t chunk = SIZE_MAX);

    // Requests the plug-in made of the host (any thread).
    int flush_requests() const { return flush_requests_.load(); }
    int rescans() const { return rescans_.load(); }
    int callback_requests() const { return callback_requests_.load(); }
    // On the main thread: on_main_thread, if the plug-in asked for it since
    // the last call. True when it was called.
    bool main_thread_callback();
    // The host's timers: the plug-in's registered periods (0: none), and a
    // tick of every timer, as a host's event loop gives them.
    std::uint32_t timer_period() const { return timer_period_; }
    void tick_timers();

    static constexpr std::size_t kEventCapacity = 256;
    static constexpr std::size_t kOutCapacity = 256;

private:
    Plugin() = default;
    static const void* host_get_extension(const clap_host_t* host, const char* id);
    static void host_request(const clap_host_t* host);
    static void host_request_callback(const clap_host_t* host);
    static bool host_register_timer(const clap_host_t* host, std::uint32_t period_ms, clap_id* id);
    static bool host_unregister_timer(const clap_host_t* host, clap_id id);
    static void host_rescan(const clap_host_t* host, std::uint32_t flags);
    static void host_clear(const clap_host_t* host, std::uint32_t id, std::uint32_t flags);
    static void host_request_flush(const clap_host_t* host);
    static std::uint32_t in_size(const clap_input_events_t* list);
    static const clap_event_header_t* in_get(const clap_input_events_t* list, std::uint32_t index);
    static bool out_push(const clap_output_events_t* list, const clap_event_header_t* event);
    static Plugin* of(const clap_host_t* host) { return static_cast<Plugin*>(host->host_data); }

    clap_host_t host_{};
    clap_host_params_t host_params_{};
    clap_host_timer_support_t host_timers_{};
    std::uint32_t timer_period_ = 0;  // one timer at most in this host
    const clap_plugin_t* plugin_ = nullptr;
    const clap_plugin_params_t* params_ = nullptr;
    const clap_plugin_audio_ports_t* ports_ = nullptr;
    const clap_plugin_state_t* state_ = nullptr;
    const clap_plugin_latency_t* latency_ = nullptr;
    const clap_plugin_gui_t* gui_ = nullptr;
    bool active_ = false;
    bool running_ = false;
    std::int64_t steady_ = 0;

    clap_event_param_value_t queued_[kEventCapacity] = {};
    std::size_t queued_count_ = 0;
    clap_input_events_t in_events_{};
    clap_output_events_t out_events_{};
    // Written by whichever thread processes or flushes; read by the test's.
    mutable std::mutex out_mutex_;
    OutEvent out_[kOutCapacity];
    std::size_t out_count_ = 0;

    std::atomic<int> flush_requests_{0};
    std::atomic<int> rescans_{0};
    std::atomic<int> callback_requests_{0};
    std::atomic<bool> callback_pending_{false};
};

}  // namespace zelo::claphost
