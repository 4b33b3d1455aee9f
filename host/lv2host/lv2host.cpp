#include "host/lv2host/lv2host.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/port-props/port-props.h>
#include <lv2/presets/presets.h>
#include <lv2/ui/ui.h>
#include <lv2/units/units.h>
#include <lv2/urid/urid.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

namespace zelo::lv2host {

namespace {

// A node this code owns, freed when it goes.
struct Node {
    LilvNode* n = nullptr;
    explicit Node(LilvNode* node) : n(node) {}
    ~Node() { lilv_node_free(n); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    operator const LilvNode*() const { return n; }
};

bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string text_of(const LilvNode* n) {
    if (!n) return {};
    if (lilv_node_is_string(n) || lilv_node_is_literal(n)) return lilv_node_as_string(n);
    if (lilv_node_is_uri(n)) return lilv_node_as_uri(n);
    return lilv_node_as_string(n);
}

}  // namespace

bool is_lv2_reference(const std::string& what) {
    if (what.rfind("urn:", 0) == 0) return true;
    const std::size_t colon = what.find("://");
    if (colon != std::string::npos && colon > 0 &&
        std::all_of(what.begin(), what.begin() + static_cast<std::ptrdiff_t>(colon),
                    [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'; }))
        return true;
    if (!is_directory(what)) return false;
    struct stat st;
    return ::stat((what + "/manifest.ttl").c_str(), &st) == 0;
}

struct Plugin::Impl {
    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;
    LilvInstance* instance = nullptr;
    std::string uri, name;
    std::uint32_t max_block = 0;
    bool active = false;

    std::vector<Control> controls;
    std::vector<float> control_values;       // one per control input
    std::vector<float> output_sinks;         // control outputs write here
    std::vector<std::uint32_t> audio_in, audio_out;
    std::vector<std::vector<float>> in_buffers, out_buffers;

    // URIDs for plug-ins (and preset values) that ask for them.
    std::map<std::string, LV2_URID> ids;
    std::vector<std::string> names;
    LV2_URID_Map map{this, &Impl::map_uri};
    LV2_URID_Unmap unmap{this, &Impl::unmap_id};
    LV2_Feature map_feature{LV2_URID__map, &map};
    LV2_Feature unmap_feature{LV2_URID__unmap, &unmap};
    const LV2_Feature* features[3] = {&map_feature, &unmap_feature, nullptr};

    static LV2_URID map_uri(LV2_URID_Map_Handle h, const char* uri) {
        auto* self = static_cast<Impl*>(h);
        if (!uri) return 0;
        auto it = self->ids.find(uri);
        if (it != self->ids.end()) return it->second;
        self->names.emplace_back(uri);
        const auto id = static_cast<LV2_URID>(self->names.size());
        self->ids.emplace(uri, id);
        return id;
    }
    static const char* unmap_id(LV2_URID_Unmap_Handle h, LV2_URID id) {
        auto* self = static_cast<Impl*>(h);
        return id >= 1 && id <= self->names.size() ? self->names[id - 1].c_str() : nullptr;
    }

    ~Impl() {
        if (instance) {
            if (active) lilv_instance_deactivate(instance);
            lilv_instance_free(instance);
        }
        if (world) lilv_world_free(world);
    }

    // Finds the plug-in: by bundle folder, or by URI among everything installed.
    bool find(const std::string& what, std::string* error) {
        world = lilv_world_new();
        if (!world) {
            *error = "lilv cannot start";
            return false;
        }
        if (is_directory(what)) {
            char* real = ::realpath(what.c_str(), nullptr);
            std::string dir = real ? real : what;
            std::free(real);
            if (dir.empty() || dir.back() != '/') dir += '/';
            Node bundle(lilv_new_file_uri(world, nullptr, dir.c_str()));
            lilv_world_load_specifications(world);
            lilv_world_load_plugin_classes(world);
            lilv_world_load_bundle(world, bundle);
            const LilvPlugins* all = lilv_world_get_all_plugins(world);
            LILV_FOREACH (plugins, i, all) {
                const LilvPlugin* p = lilv_plugins_get(all, i);
                if (lilv_node_equals(lilv_plugin_get_bundle_uri(p), bundle)) {
                    plugin = p;
                    break;
                }
            }
            if (!plugin) *error = "no LV2 plug-in in " + what;
        } else {
            lilv_world_load_all(world);
            Node u(lilv_new_uri(world, what.c_str()));
            plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), u);
            if (!plugin) *error = "no LV2 plug-in " + what + " (searched along LV2_PATH)";
        }
        if (!plugin) return false;
        if (!lilv_plugin_verify(plugin)) {
            *error = "the description of " + what + " is incomplete";
            plugin = nullptr;
            return false;
        }
        uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
        Node n(lilv_plugin_get_name(plugin));
        name = text_of(n);
        return true;
    }

    bool connect(double rate, std::string* error) {
        const std::uint32_t count = lilv_plugin_get_num_ports(plugin);
        std::vector<float> mins(count), maxs(count), defs(count);
        lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defs.data());
        Node audio(lilv_new_uri(world, LV2_CORE__AudioPort)), control(lilv_new_uri(world, LV2_CORE__ControlPort)),
            input(lilv_new_uri(world, LV2_CORE__InputPort)), output(lilv_new_uri(world, LV2_CORE__OutputPort)),
            optional(lilv_new_uri(world, LV2_CORE__connectionOptional)),
            toggled(lilv_new_uri(world, LV2_CORE__toggled)), log(lilv_new_uri(world, LV2_PORT_PROPS__logarithmic)),
            unit(lilv_new_uri(world, LV2_UNITS__unit)), symbol(lilv_new_uri(world, LV2_UNITS__symbol));

        instance = lilv_plugin_instantiate(plugin, rate, features);
        if (!instance) {
            *error = "the plug-in did not start (lilv_plugin_instantiate failed)";
            return false;
        }
        // Sizes first, so no buffer moves after its port is connected.
        std::uint32_t control_inputs = 0, control_outputs = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
            if (lilv_port_is_a(plugin, port, control)) {
                (lilv_port_is_a(plugin, port, input) ? control_inputs : control_outputs) += 1;
            }
        }
        control_values.reserve(control_inputs);
        output_sinks.assign(control_outputs, 0.0f);
        std::uint32_t sink = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
            const bool is_in = lilv_port_is_a(plugin, port, input);
            if (lilv_port_is_a(plugin, port, audio)) {
                (is_in ? audio_in : audio_out).push_back(i);
            } else if (lilv_port_is_a(plugin, port, control)) {
                if (!is_in) {
                    lilv_instance_connect_port(instance, i, &output_sinks[sink++]);
                    continue;
                }
                Control c;
                c.index = i;
                c.symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
                Node pn(lilv_port_get_name(plugin, port));
                c.name = text_of(pn);
                c.minimum = std::isnan(mins[i]) ? 0.0f : mins[i];
                c.maximum = std::isnan(maxs[i]) ? 1.0f : maxs[i];
                c.default_value = std::isnan(defs[i]) ? c.minimum : defs[i];
                c.toggled = lilv_port_has_property(plugin, port, toggled);
                c.logarithmic = lilv_port_has_property(plugin, port, log);
                if (LilvNode* u = lilv_port_get(plugin, port, unit)) {
                    if (LilvNode* s = lilv_world_get(world, u, symbol, nullptr)) {
                        c.unit = text_of(s);
                        lilv_node_free(s);
                    } else if (lilv_node_is_uri(u)) {
                        // Units of the units vocabulary by their own symbol.
                        const std::string uri_text = lilv_node_as_uri(u);
                        if (uri_text == LV2_UNITS__hz) c.unit = "Hz";
                    }
                    lilv_node_free(u);
                }
                controls.push_back(c);
                control_values.push_back(c.default_value);
                lilv_instance_connect_port(instance, i, &control_values.back());
            } else if (!lilv_port_has_property(plugin, port, optional)) {
                Node pn(lilv_port_get_name(plugin, port));
                *error = "the plug-in's port '" + text_of(pn) + "' is of a kind this host does not connect";
                return false;
            } else {
                lilv_instance_connect_port(instance, i, nullptr);
            }
        }
        if (audio_out.empty()) {
            *error = "the plug-in has no audio output";
            return false;
        }
        in_buffers.assign(audio_in.size(), std::vector<float>(max_block));
        out_buffers.assign(audio_out.size(), std::vector<float>(max_block));
        for (std::size_t k = 0; k < audio_in.size(); ++k)
            lilv_instance_connect_port(instance, audio_in[k], in_buffers[k].data());
        for (std::size_t k = 0; k < audio_out.size(); ++k)
            lilv_instance_connect_port(instance, audio_out[k], out_buffers[k].data());
        return true;
    }

    int find_symbol(const char* sym) const {
        for (std::size_t k = 0; k < controls.size(); ++k)
            if (controls[k].symbol == sym) return static_cast<int>(k);
        return -1;
    }

    static void set_from_preset(const char* sym, void* self_ptr, const void* value, std::uint32_t size,
                                std::uint32_t type) {
        auto* self = static_cast<Impl*>(self_ptr);
        const int k = self->find_symbol(sym);
        if (k < 0 || !value) return;
        float v;
        if (type == self->map_uri(self, LV2_ATOM__Float) && size == sizeof(float))
            std::memcpy(&v, value, sizeof v);
        else if (type == self->map_uri(self, LV2_ATOM__Double) && size == sizeof(double))
            v = static_cast<float>(*static_cast<const double*>(value));
        else if (type == self->map_uri(self, LV2_ATOM__Int) && size == sizeof(std::int32_t))
            v = static_cast<float>(*static_cast<const std::int32_t*>(value));
        else
            return;
        self->control_values[static_cast<std::size_t>(k)] = v;
    }
};

Plugin::Plugin() : impl_(std::make_unique<Impl>()) {}
Plugin::~Plugin() = default;

std::unique_ptr<Plugin> Plugin::load(const std::string& what, double rate, std::uint32_t max_block,
                                     std::string* error) {
    std::string why;
    std::unique_ptr<Plugin> p(new Plugin);
    p->impl_->max_block = std::max<std::uint32_t>(1, max_block);
    if (!p->impl_->find(what, &why) || !p->impl_->connect(rate, &why)) {
        if (error) *error = why;
        return nullptr;
    }
    return p;
}

const std::string& Plugin::uri() const { return impl_->uri; }
const std::string& Plugin::name() const { return impl_->name; }
int Plugin::audio_inputs() const { return static_cast<int>(impl_->audio_in.size()); }
int Plugin::audio_outputs() const { return static_cast<int>(impl_->audio_out.size()); }
const std::vector<Control>& Plugin::controls() const { return impl_->controls; }

std::vector<std::pair<std::string, std::string>> Plugin::uis() const {
    std::vector<std::pair<std::string, std::string>> out;
    LilvUIs* uis = lilv_plugin_get_uis(impl_->plugin);
    LILV_FOREACH (uis, i, uis) {
        const LilvUI* ui = lilv_uis_get(uis, i);
        const LilvNodes* classes = lilv_ui_get_classes(ui);
        std::string cls;
        LILV_FOREACH (nodes, c, classes) cls = lilv_node_as_uri(lilv_nodes_get(classes, c));
        out.emplace_back(lilv_node_as_uri(lilv_ui_get_uri(ui)), cls);
    }
    lilv_uis_free(uis);
    return out;
}

int Plugin::find_control(const std::string& key) const {
    for (std::size_t k = 0; k < impl_->controls.size(); ++k) {
        const Control& c = impl_->controls[k];
        if (strcasecmp(c.symbol.c_str(), key.c_str()) == 0 || strcasecmp(c.name.c_str(), key.c_str()) == 0)
            return static_cast<int>(k);
    }
    return -1;
}

float Plugin::value(int k) const {
    return k >= 0 && static_cast<std::size_t>(k) < impl_->control_values.size()
               ? impl_->control_values[static_cast<std::size_t>(k)]
               : 0.0f;
}

bool Plugin::set(int k, float v, std::string* error) {
    if (k < 0 || static_cast<std::size_t>(k) >= impl_->controls.size()) {
        if (error) *error = "no such control";
        return false;
    }
    const Control& c = impl_->controls[static_cast<std::size_t>(k)];
    if (!(v >= c.minimum && v <= c.maximum)) {
        if (error) {
            char text[160];
            std::snprintf(text, sizeof text, "%s wants %g..%g%s%s, not %g", c.symbol.c_str(), c.minimum, c.maximum,
                          c.unit.empty() ? "" : " ", c.unit.c_str(), v);
            *error = text;
        }
        return false;
    }
    impl_->control_values[static_cast<std::size_t>(k)] = v;
    return true;
}

std::vector<Preset> Plugin::presets() const {
    std::vector<Preset> out;
    Node preset_class(lilv_new_uri(impl_->world, LV2_PRESETS__Preset));
    Node label(lilv_new_uri(impl_->world, LILV_NS_RDFS "label"));
    LilvNodes* related = lilv_plugin_get_related(impl_->plugin, preset_class);
    LILV_FOREACH (nodes, i, related) {
        const LilvNode* p = lilv_nodes_get(related, i);
        lilv_world_load_resource(impl_->world, p);
        Preset preset;
        preset.uri = lilv_node_as_uri(p);
        if (LilvNode* l = lilv_world_get(impl_->world, p, label, nullptr)) {
            preset.label = text_of(l);
            lilv_node_free(l);
        }
        out.push_back(preset);
    }
    lilv_nodes_free(related);
    return out;
}

bool Plugin::load_preset(const std::string& key, std::string* error) {
    std::string uri;
    for (const Preset& p : presets())
        if (p.uri == key || strcasecmp(p.label.c_str(), key.c_str()) == 0) uri = p.uri;
    if (uri.empty()) {
        if (error) {
            *error = "the plug-in has no preset '" + key + "' (it has:";
            for (const Preset& p : presets()) *error += " '" + p.label + "'";
            *error += ")";
        }
        return false;
    }
    Node node(lilv_new_uri(impl_->world, uri.c_str()));
    LilvState* state = lilv_state_new_from_world(impl_->world, &impl_->map, node);
    if (!state) {
        if (error) *error = "the preset " + uri + " cannot be read";
        return false;
    }
    lilv_state_restore(state, impl_->instance, &Impl::set_from_preset, impl_.get(), 0, impl_->features);
    lilv_state_free(state);
    return true;
}

void Plugin::activate() {
    if (impl_->active) return;
    lilv_instance_activate(impl_->instance);
    impl_->active = true;
}

void Plugin::deactivate() {
    if (!impl_->active) return;
    lilv_instance_deactivate(impl_->instance);
    impl_->active = false;
}

void Plugin::run(const float* input, float* left, float* right, std::uint32_t frames) {
    Impl& m = *impl_;
    for (std::uint32_t k = 0; k < frames; k += m.max_block) {
        const std::uint32_t n = std::min(m.max_block, frames - k);
        for (auto& b : m.in_buffers) {
            if (input)
                std::copy(input + k, input + k + n, b.data());
            else
                std::fill(b.begin(), b.begin() + n, 0.0f);
        }
        lilv_instance_run(m.instance, n);
        const float* l = m.out_buffers[0].data();
        const float* r = m.out_buffers.size() > 1 ? m.out_buffers[1].data() : l;
        if (left) std::copy(l, l + n, left + k);
        if (right) std::copy(r, r + n, right + k);
    }
}

}  // namespace zelo::lv2host
