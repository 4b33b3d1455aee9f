#include "host/claphost/claphost.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

namespace zelo::claphost {

namespace {

void set_error(std::string* error, const std::string& text) {
    if (error) *error = text;
}

struct Reader {
    const std::vector<std::uint8_t>* bytes;
    std::size_t pos;
    std::size_t chunk;
};

struct Writer {
    std::vector<std::uint8_t>* bytes;
    std::size_t chunk;
};

std::int64_t stream_read(const clap_istream_t* s, void* buf, std::uint64_t size) {
    auto* r = static_cast<Reader*>(s->ctx);
    const std::size_t left = r->bytes->size() - r->pos;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>({size, left, r->chunk}));
    if (n) std::memcpy(buf, r->bytes->data() + r->pos, n);
    r->pos += n;
    return static_cast<std::int64_t>(n);
}

std::int64_t stream_write(const clap_ostream_t* s, const void* buf, std::uint64_t size) {
    auto* w = static_cast<Writer*>(s->ctx);
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, w->chunk));
    const auto* p = static_cast<const std::uint8_t*>(buf);
    w->bytes->insert(w->bytes->end(), p, p + n);
    return static_cast<std::int64_t>(n);
}

}  // namespace

std::unique_ptr<Module> Module::load(const std::string& path, std::string* error) {
    std::unique_ptr<module::Library> lib = module::Library::load(path, error);
    if (!lib) return nullptr;
    std::unique_ptr<Module> m(new Module);
    m->lib_ = std::move(lib);
    const auto* entry = static_cast<const clap_plugin_entry_t*>(m->lib_->symbol("clap_entry"));
    if (!entry) {
        if (error) *error = path + " exports no clap_entry";
        return nullptr;
    }
    if (entry->clap_version.major != 1 || !entry->init || !entry->deinit || !entry->get_factory) {
        if (error) *error = path + " has an entry of a CLAP version other than 1";
        return nullptr;
    }
    if (!entry->init(path.c_str())) {
        if (error) *error = path + ": the entry's init failed";
        return nullptr;
    }
    m->entry_ = entry;
    return m;
}

// The entry's deinit before the module is unloaded (the member goes after).
Module::~Module() {
    if (entry_) entry_->deinit();
}

const clap_plugin_factory_t* Module::factory() const {
    if (!entry_ || !entry_->get_factory) return nullptr;
    return static_cast<const clap_plugin_factory_t*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
}

// ---------------------------------------------------------------- Plugin

std::unique_ptr<Plugin> Plugin::create(const Module& module, std::string* error, const char* id) {
    const clap_plugin_factory_t* f = module.factory();
    if (!f || !f->get_plugin_count || !f->get_plugin_descriptor || !f->create_plugin) {
        set_error(error, "the module has no plug-in factory");
        return nullptr;
    }
    const clap_plugin_descriptor_t* d = nullptr;
    for (std::uint32_t i = 0, n = f->get_plugin_count(f); i < n && !d; ++i) {
        const clap_plugin_descriptor_t* c = f->get_plugin_descriptor(f, i);
        if (c && c->id && (!id || std::strcmp(c->id, id) == 0)) d = c;
    }
    if (!d) {
        set_error(error, id ? std::string("the module has no plug-in ") + id : "the module has no plug-in");
        return nullptr;
    }
    std::unique_ptr<Plugin> p(new Plugin);
    p->host_ = {CLAP_VERSION_VALUE, p.get(), "zelo", "zelo.audio", "https://zelo.audio/", "1.0.0",
                &Plugin::host_get_extension, &Plugin::host_request, &Plugin::host_request, &Plugin::host_request_callback};
    p->host_params_ = {&Plugin::host_rescan, &Plugin::host_clear, &Plugin::host_request_flush};
    p->host_timers_ = {&Plugin::host_register_timer, &Plugin::host_unregister_timer};
    p->in_events_ = {p.get(), &Plugin::in_size, &Plugin::in_get};
    p->out_events_ = {p.get(), &Plugin::out_push};
    const clap_plugin_t* pl = f->create_plugin(f, &p->host_, d->id);
    if (!pl) {
        set_error(error, std::string("the factory made no plug-in ") + d->id);
        return nullptr;
    }
    if (!pl->init || !pl->init(pl)) {
        if (pl->destroy) pl->destroy(pl);
        set_error(error, std::string("the plug-in ") + d->id + " did not initialise");
        return nullptr;
    }
    p->plugin_ = pl;
    auto ext = [pl](const char* name) { return pl->get_extension ? pl->get_extension(pl, name) : nullptr; };
    p->params_ = static_cast<const clap_plugin_params_t*>(ext(CLAP_EXT_PARAMS));
    p->ports_ = static_cast<const clap_plugin_audio_ports_t*>(ext(CLAP_EXT_AUDIO_PORTS));
    p->state_ = static_cast<const clap_plugin_state_t*>(ext(CLAP_EXT_STATE));
    p->latency_ = static_cast<const clap_plugin_latency_t*>(ext(CLAP_EXT_LATENCY));
    p->gui_ = static_cast<const clap_plugin_gui_t*>(ext(CLAP_EXT_GUI));
    return p;
}

Plugin::~Plugin() {
    if (!plugin_) return;
    stop();
    plugin_->destroy(plugin_);
}

const void* Plugin::host_get_extension(const clap_host_t* host, const char* id) {
    if (host && id && std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &of(host)->host_params_;
    if (host && id && std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &of(host)->host_timers_;
    return nullptr;
}

void Plugin::host_request(const clap_host_t*) {}

void Plugin::host_request_callback(const clap_host_t* host) {
    of(host)->callback_requests_.fetch_add(1);
    of(host)->callback_pending_.store(true);
}

bool Plugin::host_register_timer(const clap_host_t* host, std::uint32_t period_ms, clap_id* id) {
    Plugin* self = of(host);
    if (!id || period_ms == 0 || self->timer_period_ != 0) return false;
    self->timer_period_ = period_ms;
    *id = 7;
    return true;
}

bool Plugin::host_unregister_timer(const clap_host_t* host, clap_id id) {
    Plugin* self = of(host);
    if (id != 7 || self->timer_period_ == 0) return false;
    self->timer_period_ = 0;
    return true;
}

void Plugin::tick_timers() {
    if (timer_period_ == 0 || !plugin_->get_extension) return;
    const auto* t = static_cast<const clap_plugin_timer_support_t*>(plugin_->get_extension(plugin_, CLAP_EXT_TIMER_SUPPORT));
    if (t && t->on_timer) t->on_timer(plugin_, 7);
}

bool Plugin::main_thread_callback() {
    if (!callback_pending_.exchange(false)) return false;
    if (plugin_->on_main_thread) plugin_->on_main_thread(plugin_);
    return true;
}

void Plugin::host_rescan(const clap_host_t* host, std::uint32_t) { of(host)->rescans_.fetch_add(1); }

void Plugin::host_clear(const clap_host_t*, std::uint32_t, std::uint32_t) {}

void Plugin::host_request_flush(const clap_host_t* host) { of(host)->flush_requests_.fetch_add(1); }

std::uint32_t Plugin::in_size(const clap_input_events_t* list) {
    return static_cast<std::uint32_t>(static_cast<Plugin*>(list->ctx)->queued_count_);
}

const clap_event_header_t* Plugin::in_get(const clap_input_events_t* list, std::uint32_t index) {
    auto* self = static_cast<Plugin*>(list->ctx);
    return index < self->queued_count_ ? &self->queued_[index].header : nullptr;
}

bool Plugin::out_push(const clap_output_events_t* list, const clap_event_header_t* h) {
    auto* self = static_cast<Plugin*>(list->ctx);
    if (!h || h->space_id != CLAP_CORE_EVENT_SPACE_ID) return false;
    OutEvent e;
    e.type = h->type;
    e.time = h->time;
    if (h->type == CLAP_EVENT_PARAM_VALUE && h->size >= sizeof(clap_event_param_value_t)) {
        const auto* v = reinterpret_cast<const clap_event_param_value_t*>(h);
        e.param_id = v->param_id;
        e.value = v->value;
    } else if ((h->type == CLAP_EVENT_PARAM_GESTURE_BEGIN || h->type == CLAP_EVENT_PARAM_GESTURE_END) &&
               h->size >= sizeof(clap_event_param_gesture_t)) {
        e.param_id = reinterpret_cast<const clap_event_param_gesture_t*>(h)->param_id;
    } else {
        return false;
    }
    std::lock_guard<std::mutex> lock(self->out_mutex_);
    if (self->out_count_ == kOutCapacity) {
        std::copy(self->out_ + 1, self->out_ + kOutCapacity, self->out_);
        --self->out_count_;
    }
    self->out_[self->out_count_++] = e;
    return true;
}

bool Plugin::start(double sample_rate, std::uint32_t max_frames) {
    if (running_) return true;
    if (!active_) {
        if (!plugin_->activate(plugin_, sample_rate, 1, max_frames)) return false;
        active_ = true;
    }
    running_ = plugin_->start_processing(plugin_);
    return running_;
}

void Plugin::stop() {
    if (running_) plugin_->stop_processing(plugin_);
    running_ = false;
    if (active_) plugin_->deactivate(plugin_);
    active_ = false;
}

std::uint32_t Plugin::param_count() const { return params_ ? params_->count(plugin_) : 0; }

bool Plugin::param_info(std::uint32_t index, clap_param_info_t* info) const {
    return params_ && params_->get_info(plugin_, index, info);
}

double Plugin::param_value(std::uint32_t id) const {
    double v = 0.0;
    if (params_) params_->get_value(plugin_, id, &v);
    return v;
}

std::string Plugin::param_text(std::uint32_t id, double value) const {
    char buf[256] = {};
    if (!params_ || !params_->value_to_text(plugin_, id, value, buf, sizeof buf)) return {};
    buf[sizeof buf - 1] = '\0';
    return buf;
}

int Plugin::param_index(const std::string& name) const {
    for (std::uint32_t i = 0, n = param_count(); i < n; ++i) {
        clap_param_info_t info{};
        if (param_info(i, &info)) {
            info.name[sizeof info.name - 1] = '\0';
            if (strcasecmp(info.name, name.c_str()) == 0) return static_cast<int>(i);
        }
    }
    return -1;
}

void Plugin::queue_value(std::uint32_t id, double value, std::uint32_t time) {
    if (queued_count_ == kEventCapacity) return;
    clap_event_param_value_t& e = queued_[queued_count_++];
    e = {};
    e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.param_id = id;
    e.note_id = -1;
    e.port_index = -1;
    e.channel = -1;
    e.key = -1;
    e.value = value;
}

std::int32_t Plugin::process(const float* input, float* left, float* right, std::uint32_t frames) {
    float* in_channels[1] = {const_cast<float*>(input)};
    float* out_channels[2] = {left, right};
    clap_audio_buffer_t in_buf{in_channels, nullptr, 1, 0, 0};
    clap_audio_buffer_t out_buf{out_channels, nullptr, 2, 0, 0};
    clap_process_t pr{};
    pr.steady_time = steady_;
    pr.frames_count = frames;
    pr.audio_inputs = input ? &in_buf : nullptr;
    pr.audio_inputs_count = input ? 1 : 0;
    pr.audio_outputs = &out_buf;
    pr.audio_outputs_count = 1;
    pr.in_events = &in_events_;
    pr.out_events = &out_events_;
    const std::int32_t status = plugin_->process(plugin_, &pr);
    queued_count_ = 0;
    steady_ += frames;
    return status;
}

void Plugin::render(const std::vector<float>& input, std::vector<float>& left, std::vector<float>& right,
                    std::uint32_t block) {
    left.assign(input.size(), 0.0f);
    right.assign(input.size(), 0.0f);
    if (block == 0) block = 1;
    for (std::size_t k = 0; k < input.size(); k += block) {
        const std::size_t n = std::min<std::size_t>(block, input.size() - k);
        process(input.data() + k, left.data() + k, right.data() + k, static_cast<std::uint32_t>(n));
    }
}

void Plugin::flush() {
    if (params_ && params_->flush) params_->flush(plugin_, &in_events_, &out_events_);
    queued_count_ = 0;
}

std::vector<OutEvent> Plugin::out_events() const {
    std::lock_guard<std::mutex> lock(out_mutex_);
    return std::vector<OutEvent>(out_, out_ + out_count_);
}

void Plugin::clear_out_events() {
    std::lock_guard<std::mutex> lock(out_mutex_);
    out_count_ = 0;
}

bool Plugin::save_state(std::vector<std::uint8_t>* bytes, std::size_t chunk) {
    if (!state_ || !bytes) return false;
    bytes->clear();
    Writer w{bytes, chunk ? chunk : 1};
    clap_ostream_t s{&w, &stream_write};
    return state_->save(plugin_, &s);
}

bool Plugin::load_state(const std::vector<std::uint8_t>& bytes, std::size_t chunk) {
    if (!state_) return false;
    Reader r{&bytes, 0, chunk ? chunk : 1};
    clap_istream_t s{&r, &stream_read};
    return state_->load(plugin_, &s);
}

}  // namespace zelo::claphost
