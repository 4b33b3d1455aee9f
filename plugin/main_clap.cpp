// The effect as a CLAP plug-in: the entry, its factory, and the params,
// audio-ports, state, latency and gui extensions, each a translation onto the
// effect bridge.
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "plugin/application.h"
#include "plugin/clap.h"
#include "plugin/effect_bridge.h"
#include "zelo_version.h"

#if defined(_WIN32)
#define QZ_CLAP_EXPORT  // the module definition file lists the export
#else
#define QZ_CLAP_EXPORT __attribute__((visibility("default")))
#endif

namespace {

#if defined(_WIN32)
constexpr const char* kWindowApi = CLAP_WINDOW_API_WIN32;
#else
constexpr const char* kWindowApi = CLAP_WINDOW_API_X11;
#endif

// Reverse domain name of our vendor domain, zelo.audio.
constexpr char kPluginId[] = "audio.zelo.lowpass";

const char* const kFeatures[] = {"audio-effect", "filter", "mono", "stereo", nullptr};

const clap_plugin_descriptor_t kDescriptor = {
    CLAP_VERSION_VALUE, kPluginId, QZ_EFFECT_NAME, QZ_VENDOR_STRING, "https://zelo.audio/", "", "",
    ZELO_VERSION,       "A first-order low-pass filter: one input, the same output on both channels.",
    kFeatures,
};

// Two instances of the effect: one for sound, parameters and state, made
// without editor or widgets so that what the audio thread does to it takes no
// lock; and one for the editor while the host shows it. Changes pass between
// them (and to the host) through atomics.
struct Instance {
    static constexpr int kParams = QZ_Effect_Bridge::kParams;

    clap_plugin_t plugin{};
    const clap_host_t* host = nullptr;
    const clap_host_params_t* host_params = nullptr;
    const clap_host_timer_support_t* host_timers = nullptr;
    clap_id timer = CLAP_INVALID_ID;
    std::unique_ptr<QZ_Effect_Bridge> sound;
    std::unique_ptr<QZ_Effect_Bridge> editor;
    std::atomic<bool> editor_up{false};
    void* parent = nullptr;

    // Set in the editor, not yet in the sound instance nor told to the host:
    // a bit per parameter, its host value, and the cutoff itself (a host value
    // cannot name every knob value).
    std::atomic<std::uint32_t> from_editor{0};
    std::atomic<float> from_editor_value[kParams] = {};
    std::atomic<float> from_editor_hz{0.0f};
    QZ_Gesture_Order gestures[kParams];
    // Set by the host while the editor is up, not yet shown in it.
    std::atomic<std::uint32_t> to_editor{0};
    std::atomic<float> to_editor_value[kParams] = {};

    static Instance* of(const clap_plugin_t* p) { return p ? static_cast<Instance*>(p->plugin_data) : nullptr; }

    // The editor's changes (on its thread): kept for the next process or flush,
    // and the host asked for one.
    static void heard(void* ctx, QZ_Effect_Bridge::Change what, int index, float value) {
        auto* self = static_cast<Instance*>(ctx);
        if (index < 0 || index >= kParams) return;
        if (what != QZ_Effect_Bridge::Change::Value) {
            self->gestures[index].note(what == QZ_Effect_Bridge::Change::Begin);
            if (self->host_params && self->host_params->request_flush) self->host_params->request_flush(self->host);
            return;
        }
        if (index == QZ_Effect_Bridge::kFrequency)
            self->from_editor_hz.store(self->editor->cutoff_hz(), std::memory_order_relaxed);
        self->from_editor_value[index].store(value, std::memory_order_relaxed);
        self->from_editor.fetch_or(1u << index, std::memory_order_release);
        if (self->host_params && self->host_params->request_flush) self->host_params->request_flush(self->host);
    }

    // The editor's changes into the sound instance, and to the host as output
    // events (at the start of the block).
    // A gesture's begin and end come around the values it made.
    void take_from_editor(const clap_output_events_t* out) {
        QZ_Gesture_Order::Seen seen[kParams];
        for (int i = 0; i < kParams; ++i) seen[i] = gestures[i].look();
        const std::uint32_t bits = from_editor.exchange(0, std::memory_order_acquire);
        for (int i = 0; i < kParams; ++i) {
            const bool changed = (bits & (1u << i)) != 0;
            const float x = from_editor_value[i].load(std::memory_order_relaxed);
            if (changed) {
                if (i == QZ_Effect_Bridge::kFrequency)
                    sound->set_cutoff_hz(from_editor_hz.load(std::memory_order_relaxed));
                else
                    sound->set_param(i, x);
            }
            gestures[i].take(seen[i], changed, [&](QZ_Effect_Bridge::Change what) { tell(out, what, i, x); });
        }
    }

    static void tell(const clap_output_events_t* out, QZ_Effect_Bridge::Change what, int index, float x) {
        if (!out || !out->try_push) return;
        if (what == QZ_Effect_Bridge::Change::Value) {
            clap_event_param_value_t ev{};
            ev.header.size = sizeof ev;
            ev.header.time = 0;
            ev.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
            ev.header.type = CLAP_EVENT_PARAM_VALUE;
            ev.param_id = static_cast<std::uint32_t>(index);
            ev.note_id = -1;
            ev.port_index = -1;
            ev.channel = -1;
            ev.key = -1;
            ev.value = x;
            out->try_push(out, &ev.header);
            return;
        }
        clap_event_param_gesture_t ev{};
        ev.header.size = sizeof ev;
        ev.header.time = 0;
        ev.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
        ev.header.type = what == QZ_Effect_Bridge::Change::Begin ? CLAP_EVENT_PARAM_GESTURE_BEGIN
                                                                  : CLAP_EVENT_PARAM_GESTURE_END;
        ev.param_id = static_cast<std::uint32_t>(index);
        out->try_push(out, &ev.header);
    }

    // A parameter value event of ours, applied; others are ignored.
    void apply(const clap_event_header_t* h) {
        if (!h || h->space_id != CLAP_CORE_EVENT_SPACE_ID || h->type != CLAP_EVENT_PARAM_VALUE ||
            h->size < sizeof(clap_event_param_value_t))
            return;
        const auto* ev = reinterpret_cast<const clap_event_param_value_t*>(h);
        if (ev->param_id >= static_cast<std::uint32_t>(kParams)) return;
        const int i = static_cast<int>(ev->param_id);
        const float x = static_cast<float>(ev->value);
        sound->set_param(i, x);
        if (editor_up.load(std::memory_order_acquire)) {
            to_editor_value[i].store(x, std::memory_order_relaxed);
            to_editor.fetch_or(1u << i, std::memory_order_release);
        }
    }

    // After events: the editor follows on the main thread, on the host's
    // callback or at the next tick of our timer (hosts differ in which they serve).
    void ask_for_main_thread() {
        if (to_editor.load(std::memory_order_relaxed) && host->request_callback) host->request_callback(host);
    }

    // On the main thread: the host's changes into the editor.
    void show_in_editor() {
        if (!editor) return;
        const std::uint32_t bits = to_editor.exchange(0, std::memory_order_acquire);
        for (int i = 0; i < kParams; ++i)
            if (bits & (1u << i)) editor->set_param(i, to_editor_value[i].load(std::memory_order_relaxed));
    }
};

// ---------------------------------------------------------------- params

std::uint32_t params_count(const clap_plugin_t*) { return QZ_Effect_Bridge::kParams; }

bool params_get_info(const clap_plugin_t* p, std::uint32_t index, clap_param_info_t* info) {
    Instance* self = Instance::of(p);
    if (!self || !info || index >= static_cast<std::uint32_t>(QZ_Effect_Bridge::kParams)) return false;
    std::memset(info, 0, sizeof *info);
    const int i = static_cast<int>(index);
    info->id = index;
    info->flags = CLAP_PARAM_IS_AUTOMATABLE | (QZ_Effect_Bridge::param_stepped(i) ? CLAP_PARAM_IS_STEPPED : 0u);
    self->sound->param_name(i, info->name, sizeof info->name);
    info->min_value = 0.0;
    info->max_value = 1.0;
    info->default_value = self->sound->param_default(i);
    return true;
}

bool params_get_value(const clap_plugin_t* p, std::uint32_t id, double* value) {
    Instance* self = Instance::of(p);
    if (!self || !value || id >= static_cast<std::uint32_t>(QZ_Effect_Bridge::kParams)) return false;
    *value = self->sound->param(static_cast<int>(id));
    return true;
}

bool params_value_to_text(const clap_plugin_t* p, std::uint32_t id, double value, char* text,
                          std::uint32_t capacity) {
    Instance* self = Instance::of(p);
    if (!self || !text || capacity == 0 || id >= static_cast<std::uint32_t>(QZ_Effect_Bridge::kParams))
        return false;
    return self->sound->param_text_at(static_cast<int>(id), static_cast<float>(value), text, capacity);
}

bool params_text_to_value(const clap_plugin_t* p, std::uint32_t id, const char* text, double* value) {
    Instance* self = Instance::of(p);
    float v = 0.0f;
    if (!self || !value || !self->sound->param_from_text(static_cast<int>(id), text, &v)) return false;
    *value = v;
    return true;
}

void params_flush(const clap_plugin_t* p, const clap_input_events_t* in, const clap_output_events_t* out) {
    Instance* self = Instance::of(p);
    if (!self) return;
    if (in && in->size && in->get) {
        const std::uint32_t n = in->size(in);
        for (std::uint32_t k = 0; k < n; ++k) self->apply(in->get(in, k));
    }
    self->take_from_editor(out);
    self->ask_for_main_thread();
}

const clap_plugin_params_t kParamsExt = {params_count,         params_get_info,      params_get_value,
                                         params_value_to_text, params_text_to_value, params_flush};

// ---------------------------------------------------------------- audio ports

std::uint32_t ports_count(const clap_plugin_t*, bool) { return 1; }

bool ports_get(const clap_plugin_t*, std::uint32_t index, bool is_input, clap_audio_port_info_t* info) {
    if (index != 0 || !info) return false;
    std::memset(info, 0, sizeof *info);
    info->id = 0;
    std::strcpy(info->name, is_input ? "Input" : "Output");
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = is_input ? 1 : 2;
    info->port_type = is_input ? CLAP_PORT_MONO : CLAP_PORT_STEREO;
    info->in_place_pair = CLAP_INVALID_ID;
    return true;
}

const clap_plugin_audio_ports_t kPortsExt = {ports_count, ports_get};

// ---------------------------------------------------------------- state

bool state_save(const clap_plugin_t* p, const clap_ostream_t* stream) {
    Instance* self = Instance::of(p);
    if (!self || !stream || !stream->write) return false;
    unsigned char bytes[512];
    const std::size_t size = QZ_Effect_Bridge::preset_size();
    if (size > sizeof bytes) return false;
    self->sound->preset(bytes);
    // A stream may take fewer bytes than offered.
    for (std::size_t done = 0; done < size;) {
        const std::int64_t n = stream->write(stream, bytes + done, size - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool state_load(const clap_plugin_t* p, const clap_istream_t* stream) {
    Instance* self = Instance::of(p);
    if (!self || !stream || !stream->read) return false;
    // One byte more than a preset holds, so longer data is seen and refused.
    unsigned char bytes[513];
    const std::size_t want = QZ_Effect_Bridge::preset_size() + 1;
    if (want > sizeof bytes) return false;
    std::size_t got = 0;
    while (got < want) {
        const std::int64_t n = stream->read(stream, bytes + got, want - got);
        if (n < 0) return false;
        if (n == 0) break;
        if (static_cast<std::uint64_t>(n) > want - got) return false;  // a stream that claims too much
        got += static_cast<std::size_t>(n);
    }
    if (self->sound->set_preset(bytes, got)) return false;
    if (self->editor) self->editor->set_preset(bytes, got);
    if (self->host_params && self->host_params->rescan) self->host_params->rescan(self->host, CLAP_PARAM_RESCAN_VALUES);
    return true;
}

const clap_plugin_state_t kStateExt = {state_save, state_load};

// ---------------------------------------------------------------- latency

std::uint32_t latency_get(const clap_plugin_t*) { return 0; }

const clap_plugin_latency_t kLatencyExt = {latency_get};

// ---------------------------------------------------------------- gui

bool gui_is_api_supported(const clap_plugin_t*, const char* api, bool floating) {
    // The editor lives in a window of the host's; it has no window of its own.
    return api && !floating && std::strcmp(api, kWindowApi) == 0;
}

bool gui_get_preferred_api(const clap_plugin_t*, const char** api, bool* floating) {
    if (api) *api = kWindowApi;
    if (floating) *floating = false;
    return true;
}

bool gui_create(const clap_plugin_t* p, const char* api, bool floating) {
    Instance* self = Instance::of(p);
    if (!self || !gui_is_api_supported(p, api, floating) || self->editor) return false;
    try {
        self->editor = QZ_Effect_Bridge::create(&Instance::heard, self);
    } catch (...) {
        return false;
    }
    if (!self->editor) return false;
    // It starts where the sound is; from now on the host's changes reach it too.
    self->editor_up.store(true, std::memory_order_release);
    // A few times a second is enough for the eye.
    if (self->host_timers && self->host_timers->register_timer &&
        !self->host_timers->register_timer(self->host, 30, &self->timer))
        self->timer = CLAP_INVALID_ID;
    unsigned char bytes[512];
    if (QZ_Effect_Bridge::preset_size() <= sizeof bytes) {
        self->sound->preset(bytes);
        self->editor->set_preset(bytes, QZ_Effect_Bridge::preset_size());
    }
    self->parent = nullptr;
    return true;
}

void gui_destroy(const clap_plugin_t* p) {
    Instance* self = Instance::of(p);
    if (!self || !self->editor) return;
    self->editor_up.store(false, std::memory_order_release);
    if (self->timer != CLAP_INVALID_ID && self->host_timers->unregister_timer)
        self->host_timers->unregister_timer(self->host, self->timer);
    self->timer = CLAP_INVALID_ID;
    // Its window and event thread go first: no change of the editor's arrives
    // while the instance goes.
    self->editor->editor_close();
    self->editor.reset();
    self->to_editor.store(0, std::memory_order_relaxed);
    self->parent = nullptr;
}

bool gui_set_scale(const clap_plugin_t*, double) { return false; }

bool gui_get_size(const clap_plugin_t* p, std::uint32_t* width, std::uint32_t* height) {
    Instance* self = Instance::of(p);
    int w = 0, h = 0;
    // Both instances have the same panel; the sound one answers before create.
    if (!self || !(self->editor ? self->editor : self->sound)->editor_size(&w, &h)) return false;
    if (width) *width = static_cast<std::uint32_t>(w);
    if (height) *height = static_cast<std::uint32_t>(h);
    return true;
}

bool gui_can_resize(const clap_plugin_t*) { return false; }

// Some hosts ask even of a fixed-size editor: it keeps its size, at any ratio.
bool gui_get_resize_hints(const clap_plugin_t*, clap_gui_resize_hints_t* hints) {
    if (!hints) return false;
    *hints = {false, false, false, 0, 0};
    return true;
}

bool gui_adjust_size(const clap_plugin_t* p, std::uint32_t* width, std::uint32_t* height) {
    return gui_get_size(p, width, height);
}

bool gui_set_size(const clap_plugin_t* p, std::uint32_t width, std::uint32_t height) {
    std::uint32_t w = 0, h = 0;
    return gui_get_size(p, &w, &h) && w == width && h == height;
}

bool gui_set_parent(const clap_plugin_t* p, const clap_window_t* window) {
    Instance* self = Instance::of(p);
    if (!self || !self->editor || !window || (window->api && std::strcmp(window->api, kWindowApi) != 0))
        return false;
#if defined(_WIN32)
    void* parent = window->win32;
#else
    void* parent = reinterpret_cast<void*>(static_cast<std::uintptr_t>(window->x11));
#endif
    if (!parent) return false;
    self->parent = parent;
    // The editor is a child of the parent: it shows whenever the parent does.
    return self->editor->editor_open(parent);
}

bool gui_set_transient(const clap_plugin_t*, const clap_window_t*) { return false; }

void gui_suggest_title(const clap_plugin_t*, const char*) {}

bool gui_show(const clap_plugin_t* p) {
    Instance* self = Instance::of(p);
    if (!self || !self->editor || !self->parent) return false;
    return self->editor->editor_is_open() || self->editor->editor_open(self->parent);
}

bool gui_hide(const clap_plugin_t* p) {
    Instance* self = Instance::of(p);
    if (!self || !self->editor) return false;
    self->editor->editor_close();
    return true;
}

const clap_plugin_gui_t kGuiExt = {
    gui_is_api_supported, gui_get_preferred_api, gui_create,        gui_destroy,      gui_set_scale,
    gui_get_size,         gui_can_resize,        gui_get_resize_hints, gui_adjust_size, gui_set_size,
    gui_set_parent,       gui_set_transient,     gui_suggest_title, gui_show,         gui_hide,
};

// ---------------------------------------------------------------- plug-in

bool plugin_init(const clap_plugin_t* p) {
    Instance* self = Instance::of(p);
    if (!self) return false;
    if (self->host->get_extension)
        self->host_params =
            static_cast<const clap_host_params_t*>(self->host->get_extension(self->host, CLAP_EXT_PARAMS));
    if (self->host->get_extension)
        self->host_timers = static_cast<const clap_host_timer_support_t*>(
            self->host->get_extension(self->host, CLAP_EXT_TIMER_SUPPORT));
    try {
        self->sound = QZ_Effect_Bridge::create_without_editor();
    } catch (...) {
        return false;  // no exception crosses into the host
    }
    return self->sound != nullptr;
}

void plugin_destroy(const clap_plugin_t* p) {
    gui_destroy(p);
    delete Instance::of(p);
}

bool plugin_activate(const clap_plugin_t* p, double rate, std::uint32_t, std::uint32_t max_frames) {
    Instance* self = Instance::of(p);
    if (!self || !self->sound || !(rate >= 1.0)) return false;
    self->sound->set_sample_rate(rate);
    if (max_frames > 0 && max_frames <= INT32_MAX) self->sound->set_block_size(static_cast<std::int32_t>(max_frames));
    self->sound->resume();
    return true;
}

void plugin_deactivate(const clap_plugin_t* p) {
    if (Instance* self = Instance::of(p)) self->sound->suspend();
}

bool plugin_start_processing(const clap_plugin_t*) { return true; }

void plugin_stop_processing(const clap_plugin_t*) {}

void plugin_reset(const clap_plugin_t* p) {
    if (Instance* self = Instance::of(p)) self->sound->reset();
}

float* channel(const clap_audio_buffer_t* buffers, std::uint32_t count, std::uint32_t index) {
    if (!buffers || count == 0 || !buffers[0].data32 || index >= buffers[0].channel_count) return nullptr;
    return buffers[0].data32[index];
}

std::int32_t plugin_process(const clap_plugin_t* p, const clap_process_t* process) {
    Instance* self = Instance::of(p);
    if (!self || !process) return CLAP_PROCESS_ERROR;
    const std::uint32_t frames = process->frames_count;
    const float* in = channel(process->audio_inputs, process->audio_inputs_count, 0);
    float* left = channel(process->audio_outputs, process->audio_outputs_count, 0);
    float* right = channel(process->audio_outputs, process->audio_outputs_count, 1);
    if (process->audio_outputs_count > 0 && process->audio_outputs) process->audio_outputs[0].constant_mask = 0;

    // The editor's changes from the block's start; each of the host's value
    // events at its own frame: the block is cut there.
    self->take_from_editor(process->out_events);
    const clap_input_events_t* events = process->in_events;
    const std::uint32_t n_events = events && events->size && events->get ? events->size(events) : 0;
    std::uint32_t done = 0;
    for (std::uint32_t k = 0; k < n_events; ++k) {
        const clap_event_header_t* h = events->get(events, k);
        if (!h) continue;
        std::uint32_t at = h->time < frames ? h->time : frames;
        if (at > done) {
            self->sound->process(in ? in + done : nullptr, left ? left + done : nullptr,
                                  right ? right + done : nullptr, at - done);
            done = at;
        }
        self->apply(h);
    }
    if (frames > done)
        self->sound->process(in ? in + done : nullptr, left ? left + done : nullptr, right ? right + done : nullptr,
                              frames - done);
    self->ask_for_main_thread();
    return CLAP_PROCESS_CONTINUE;
}

void plugin_on_main_thread(const clap_plugin_t* p) {
    if (Instance* self = Instance::of(p)) self->show_in_editor();
}

void timer_tick(const clap_plugin_t* p, clap_id) {
    if (Instance* self = Instance::of(p)) self->show_in_editor();
}

const clap_plugin_timer_support_t kTimerExt = {timer_tick};

const void* plugin_get_extension(const clap_plugin_t*, const char* id) {
    if (!id) return nullptr;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &kParamsExt;
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) return &kPortsExt;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &kStateExt;
    if (std::strcmp(id, CLAP_EXT_LATENCY) == 0) return &kLatencyExt;
    if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &kGuiExt;
    if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &kTimerExt;
    return nullptr;
}


// ---------------------------------------------------------------- factory and entry

std::uint32_t factory_count(const clap_plugin_factory_t*) { return 1; }

const clap_plugin_descriptor_t* factory_descriptor(const clap_plugin_factory_t*, std::uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}

const clap_plugin_t* factory_create(const clap_plugin_factory_t*, const clap_host_t* host, const char* id) {
    if (!host || !id || std::strcmp(id, kDescriptor.id) != 0) return nullptr;
    auto* self = new (std::nothrow) Instance;
    if (!self) return nullptr;
    self->host = host;
    self->plugin = {&kDescriptor,         self,           plugin_init,          plugin_destroy,
                    plugin_activate,      plugin_deactivate, plugin_start_processing, plugin_stop_processing,
                    plugin_reset,         plugin_process, plugin_get_extension, plugin_on_main_thread};
    return &self->plugin;
}

const clap_plugin_factory_t kFactory = {factory_count, factory_descriptor, factory_create};

bool entry_init(const char*) { return true; }
void entry_deinit() {}
const void* entry_get_factory(const char* id) {
    return id && std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory : nullptr;
}

}  // namespace

extern "C" QZ_CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION_VALUE, entry_init, entry_deinit,
                                                                  entry_get_factory};
