// The effect as an LV2 plug-in: one audio input, two audio outputs, and the
// two parameters as control ports in the units hosts show (State on/off,
// Frequency in hertz). The effect itself is driven through the bridge.
#include <lv2/core/lv2.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "plugin/effect_bridge.h"
#include "plugin/lv2_ports.h"

namespace {

struct Instance {
    std::unique_ptr<QZ_Effect_Bridge> fx;
    const float* ports_in = nullptr;
    float* out_left = nullptr;
    float* out_right = nullptr;
    const float* state = nullptr;
    const float* frequency = nullptr;
    // The port values last handed to the effect, as bit patterns: a change of
    // any bit (a host writing the same number again is none) reaches it once.
    std::uint32_t last_state = 0;
    std::uint32_t last_frequency = 0;
    bool have_state = false;
    bool have_frequency = false;
};

std::uint32_t bits_of(float x) {
    std::uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const*) {
    if (!(rate >= 1.0)) return nullptr;
    try {
        auto fx = QZ_Effect_Bridge::create_without_editor();
        if (!fx) return nullptr;
        fx->set_sample_rate(rate);
        auto* in = new Instance;
        in->fx = std::move(fx);
        return in;
    } catch (...) {
        return nullptr;  // nothing crosses into the host
    }
}

void connect_port(LV2_Handle h, std::uint32_t port, void* data) {
    auto* in = static_cast<Instance*>(h);
    switch (port) {
        case QZ_LV2_IN: in->ports_in = static_cast<const float*>(data); break;
        case QZ_LV2_OUT_LEFT: in->out_left = static_cast<float*>(data); break;
        case QZ_LV2_OUT_RIGHT: in->out_right = static_cast<float*>(data); break;
        case QZ_LV2_STATE: in->state = static_cast<const float*>(data); break;
        case QZ_LV2_FREQUENCY: in->frequency = static_cast<const float*>(data); break;
        default: break;
    }
}

// Activating starts from silence: nothing of the signal before a deactivation
// rings on in the filter.
void activate(LV2_Handle h) {
    auto* in = static_cast<Instance*>(h);
    in->fx->reset();
    in->fx->resume();
}

void deactivate(LV2_Handle h) { static_cast<Instance*>(h)->fx->suspend(); }

void run(LV2_Handle h, std::uint32_t frames) {
    auto* in = static_cast<Instance*>(h);
    // Each control port is read once per block; only a changed value is applied.
    if (in->state) {
        const float s = *in->state;
        if (!in->have_state || bits_of(s) != in->last_state) {
            in->last_state = bits_of(s);
            in->have_state = true;
            if (!std::isnan(s)) in->fx->set_param(QZ_Effect_Bridge::kState, QZ_lv2_state_is_on(s) ? 1.0f : 0.0f);
        }
    }
    if (in->frequency) {
        const float f = *in->frequency;
        if (!in->have_frequency || bits_of(f) != in->last_frequency) {
            in->last_frequency = bits_of(f);
            in->have_frequency = true;
            if (!std::isnan(f)) in->fx->set_cutoff_hz(f);
        }
    }
    if (!in->out_left || !in->out_right) return;
    in->fx->process(in->ports_in, in->out_left, in->out_right, frames);
}

void cleanup(LV2_Handle h) { delete static_cast<Instance*>(h); }

const void* extension_data(const char*) { return nullptr; }

const LV2_Descriptor kDescriptor = {
    ZELO_LV2_URI, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data,
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(std::uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
