// CLAP state loads of zelo.clap's plug-in: the first byte sets how many bytes
// the stream hands over per read (streams may give fewer than asked), the rest
// is the state. Refused data leaves both parameters as they were; accepted data
// is a whole preset file, and its values save and load back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "plugin/clap.h"
#include "plugin/effect_bridge.h"

extern "C" const clap_plugin_entry_t clap_entry;

namespace {

struct Stream {
    const std::uint8_t* data;
    std::size_t size, pos, chunk;
    std::vector<std::uint8_t> out;
};

std::int64_t read(const clap_istream_t* s, void* buf, std::uint64_t n) {
    auto* st = static_cast<Stream*>(s->ctx);
    std::size_t k = st->size - st->pos;
    if (k > st->chunk) k = st->chunk;
    if (k > n) k = static_cast<std::size_t>(n);
    std::memcpy(buf, st->data + st->pos, k);
    st->pos += k;
    return static_cast<std::int64_t>(k);
}

std::int64_t write(const clap_ostream_t* s, const void* buf, std::uint64_t n) {
    auto* st = static_cast<Stream*>(s->ctx);
    const auto* p = static_cast<const std::uint8_t*>(buf);
    st->out.insert(st->out.end(), p, p + n);
    return static_cast<std::int64_t>(n);
}

const void* no_extension(const clap_host_t*, const char*) { return nullptr; }
void no_request(const clap_host_t*) {}

struct Instance {
    clap_host_t host{CLAP_VERSION_VALUE, nullptr, "fuzz", "", "", "", no_extension, no_request, no_request,
                     no_request};
    const clap_plugin_t* plugin = nullptr;
    const clap_plugin_params_t* params = nullptr;
    const clap_plugin_state_t* state = nullptr;

    Instance() {
        clap_entry.init("");
        const auto* f = static_cast<const clap_plugin_factory_t*>(clap_entry.get_factory(CLAP_PLUGIN_FACTORY_ID));
        plugin = f->create_plugin(f, &host, f->get_plugin_descriptor(f, 0)->id);
        if (!plugin || !plugin->init(plugin)) std::abort();
        params = static_cast<const clap_plugin_params_t*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
        state = static_cast<const clap_plugin_state_t*>(plugin->get_extension(plugin, CLAP_EXT_STATE));
    }
    double value(std::uint32_t id) const {
        double v = -1.0;
        params->get_value(plugin, id, &v);
        return v;
    }
    bool load(const std::uint8_t* data, std::size_t size, std::size_t chunk) {
        Stream st{data, size, 0, chunk, {}};
        clap_istream_t s{&st, read};
        return state->load(plugin, &s);
    }
    std::vector<std::uint8_t> save() {
        Stream st{nullptr, 0, 0, 0, {}};
        clap_ostream_t s{&st, write};
        if (!state->save(plugin, &s)) std::abort();
        return st.out;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Instance instance;
    if (size < 1) return 0;
    const std::size_t chunk = data[0] % 16 + 1;
    ++data;
    --size;
    // A known starting point, set as a host would.
    const auto before = instance.save();
    const double s0 = instance.value(0), f0 = instance.value(1);
    if (!instance.load(data, size, chunk)) {
        if (instance.value(0) != s0 || instance.value(1) != f0 || instance.save() != before) std::abort();
        return 0;
    }
    if (size != QZ_Effect_Bridge::preset_size()) std::abort();
    const double s1 = instance.value(0), f1 = instance.value(1);
    if ((s1 != 0.0 && s1 != 1.0) || !(f1 >= 0.0 && f1 <= 1.0)) std::abort();
    const auto saved = instance.save();
    if (!instance.load(saved.data(), saved.size(), chunk)) std::abort();
    if (instance.value(0) != s1 || instance.value(1) != f1 || instance.save() != saved) std::abort();
    return 0;
}
