// The LV2 plug-in as hosts see it: the bundle read through lilv, its sound
// against the VST 2.4 module's bit for bit, its presets, the hertz mapping
// of the frequency port, and the raw descriptor with hostile port values.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/lv2host/lv2host.h"
#include "plugin/application.h"
#include "plugin/lv2_ports.h"
#include "plugin_env.h"

namespace {

using zelo::lv2host::Control;
using Lv2 = zelo::lv2host::Plugin;

std::unique_ptr<Lv2> load_bundle(double rate = 44100.0, std::uint32_t block = 512) {
    std::string error;
    auto p = Lv2::load(ZELO_LV2_BUNDLE, rate, block, &error);
    EXPECT_TRUE(p) << error;
    return p;
}

const Control& control(const Lv2& p, const char* symbol) {
    const int k = p.find_control(symbol);
    EXPECT_GE(k, 0) << symbol;
    return p.controls().at(static_cast<std::size_t>(k < 0 ? 0 : k));
}

std::uint32_t bits(float x) {
    std::uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// A test signal with everything a low-pass can get wrong: a sweep, noise,
// full-scale steps and values beyond full scale.
std::vector<float> signal(std::size_t n) {
    std::vector<float> x(n);
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double t = static_cast<double>(i) / 44100.0;
        const double noise = static_cast<double>(seed >> 8) / 16777216.0 - 0.5;
        double v = 0.6 * std::sin(2 * 3.14159265358979 * (50 + 4000 * t) * t) + 0.3 * noise;
        if ((i / 700) % 5 == 4) v = (i / 350) % 2 ? 1.3 : -1.0;
        x[i] = static_cast<float>(v);
    }
    return x;
}

// The knob value setParameter(1, x) stores, and the cutoff it gives.
float knob_at(float x) {
    const float mn = static_cast<float>(QZ_Application::kKnobMin);
    const float mx = static_cast<float>(QZ_Application::kKnobMax);
    return mn + x * (mx - mn);
}

struct Setting {
    float state;      // VST host value and LV2 port value alike
    float host_value; // the VST Frequency parameter, 0..1
};

// Both plug-ins through the same blocks, the same changes at the same points.
void expect_same_sound(const std::vector<Setting>& steps, std::uint32_t block) {
    auto vst = plugtest::started(44100.0f, static_cast<VstInt32>(block));
    auto lv2 = load_bundle(44100.0, block);
    ASSERT_TRUE(vst && lv2);
    const int state = lv2->find_control("state"), freq = lv2->find_control("frequency");
    lv2->activate();
    const std::vector<float> x = signal(6000);
    std::vector<float> vl(x.size()), vr(x.size()), ll(x.size()), lr(x.size());
    for (const Setting& s : steps) {
        vst->set_parameter(0, s.state);
        vst->set_parameter(1, s.host_value);
        const float hz = QZ_Application::cutoff_of(knob_at(s.host_value));
        ASSERT_TRUE(lv2->set(state, s.state));
        ASSERT_TRUE(lv2->set(freq, hz));
        vst->render(x, vl, vr, static_cast<VstInt32>(block));
        lv2->run(x.data(), ll.data(), lr.data(), static_cast<std::uint32_t>(x.size()));
        for (std::size_t i = 0; i < x.size(); ++i) {
            ASSERT_EQ(bits(vl[i]), bits(ll[i])) << "left, sample " << i << " at " << hz << " Hz";
            ASSERT_EQ(bits(vr[i]), bits(lr[i])) << "right, sample " << i << " at " << hz << " Hz";
        }
    }
    lv2->deactivate();
}

}  // namespace

TEST(Lv2Bundle, DescribesOneInTwoOutStateAndFrequencyInHertz) {
    auto p = load_bundle();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->uri(), ZELO_LV2_URI);
    EXPECT_EQ(p->name(), "1-st order low-pass");
    EXPECT_EQ(p->audio_inputs(), 1);
    EXPECT_EQ(p->audio_outputs(), 2);
    ASSERT_EQ(p->controls().size(), 2u);

    const Control& state = control(*p, "state");
    EXPECT_EQ(state.index, QZ_LV2_STATE);
    EXPECT_TRUE(state.toggled);
    EXPECT_EQ(state.default_value, 1.0f);
    EXPECT_EQ(state.minimum, 0.0f);
    EXPECT_EQ(state.maximum, 1.0f);

    const Control& f = control(*p, "frequency");
    EXPECT_EQ(f.index, QZ_LV2_FREQUENCY);
    EXPECT_EQ(f.minimum, 20.0f);
    EXPECT_EQ(f.maximum, 20000.0f);
    EXPECT_TRUE(f.logarithmic);
    EXPECT_EQ(f.unit, "Hz");
    // The default is the cutoff of the effect's own default knob value, to the bit.
    EXPECT_EQ(bits(f.default_value), bits(QZ_Application::cutoff_of(1500.0f))) << f.default_value;

    const auto uis = p->uis();
    ASSERT_EQ(uis.size(), 1u);
    EXPECT_EQ(uis[0].first, std::string(ZELO_LV2_URI) + "#ui");
    EXPECT_EQ(uis[0].second, "http://lv2plug.in/ns/extensions/ui#X11UI");
}

TEST(Lv2Bundle, FindsThePluginByUriAlongTheSearchPath) {
    // As hosts find it once installed: LV2_PATH holds the bundle's folder.
    std::string dir = ZELO_LV2_BUNDLE;
    dir = dir.substr(0, dir.rfind('/'));
    const char* old = std::getenv("LV2_PATH");
    const std::string saved = old ? old : "";
    setenv("LV2_PATH", dir.c_str(), 1);
    std::string error;
    auto p = Lv2::load(ZELO_LV2_URI, 48000.0, 256, &error);
    if (old)
        setenv("LV2_PATH", saved.c_str(), 1);
    else
        unsetenv("LV2_PATH");
    ASSERT_TRUE(p) << error;
    EXPECT_EQ(p->name(), "1-st order low-pass");
    EXPECT_FALSE(Lv2::load("https://zelo.audio/plugins/none", 48000.0, 256, &error));
    EXPECT_NE(error.find("no LV2 plug-in"), std::string::npos) << error;
}

TEST(Lv2Sound, BitIdenticalToTheVstPluginAtEverySetting) {
    // 0.5 is the 5015 Hz of the command line; the default knob; both ends of
    // the range; odd values; the switch off and on again (its crossfade).
    expect_same_sound({{1, 0.5f},
                       {1, (1500.0f - 20.0f) / 19980.0f},
                       {1, 0.0f},
                       {1, 1.0f},
                       {1, 0.123456f},
                       {0, 0.3f},
                       {1, 0.3f},
                       {1, 0.777f}},
                      512);
}

TEST(Lv2Sound, BitIdenticalInBlocksOfOtherSizes) {
    expect_same_sound({{1, 0.5f}, {1, 0.05f}, {0, 0.05f}, {1, 0.9f}}, 100);
    expect_same_sound({{1, 0.25f}, {1, 0.6f}}, 1100);
}

TEST(Lv2Presets, FactoryPresetsSetThePortsAndTheSound) {
    auto p = load_bundle();
    ASSERT_TRUE(p);
    std::vector<std::string> labels;
    for (const auto& preset : p->presets()) labels.push_back(preset.label);
    for (const char* want : {"Warm (800 Hz)", "Gentle (5 kHz)", "Muffled (300 Hz)", "Open (20 kHz)"})
        EXPECT_NE(std::find(labels.begin(), labels.end(), want), labels.end()) << want;

    const int state = p->find_control("state"), freq = p->find_control("frequency");
    ASSERT_TRUE(p->set(state, 0.0f));
    std::string error;
    ASSERT_TRUE(p->load_preset("Warm (800 Hz)", &error)) << error;
    EXPECT_EQ(p->value(freq), 800.0f);
    EXPECT_EQ(p->value(state), 1.0f);
    ASSERT_TRUE(p->load_preset(std::string(ZELO_LV2_URI) + "#gentle", &error)) << error;
    EXPECT_EQ(p->value(freq), 5000.0f);
    EXPECT_FALSE(p->load_preset("Nothing like it", &error));
    EXPECT_NE(error.find("Warm (800 Hz)"), std::string::npos) << error;

    // The preset's sound is that of the port set by hand.
    auto by_hand = load_bundle();
    ASSERT_TRUE(by_hand);
    ASSERT_TRUE(by_hand->set(by_hand->find_control("frequency"), 5000.0f));
    p->activate();
    by_hand->activate();
    const std::vector<float> x = signal(3000);
    std::vector<float> a(x.size()), b(x.size()), r(x.size());
    p->run(x.data(), a.data(), r.data(), 3000);
    by_hand->run(x.data(), b.data(), r.data(), 3000);
    EXPECT_EQ(a, b);
    double diff = 0;
    for (std::size_t i = 0; i < x.size(); ++i) diff += std::fabs(a[i] - x[i]);
    EXPECT_GT(diff, 1.0) << "the preset's filter did nothing";
}

TEST(Lv2Mapping, EveryKnobCutoffLandsOnAKnobWithTheSameCutoff) {
    // Hosts hand the UI's hertz back to the plug-in: whatever knob value the
    // editor set, its cutoff must come back as exactly that cutoff. Every
    // 61st float of the knob's range (and both ends).
    float v = 20.0f;
    long checked = 0;
    while (v <= 20000.0f) {
        const float hz = QZ_Application::cutoff_of(v);
        const float back = QZ_Application::knob_of(hz);
        ASSERT_EQ(bits(QZ_Application::cutoff_of(back)), bits(hz)) << "knob " << v << " gives " << hz << " Hz";
        ++checked;
        std::uint32_t b = bits(v) + 61;
        std::memcpy(&v, &b, sizeof v);
    }
    EXPECT_GT(checked, 1000000);
    EXPECT_EQ(QZ_Application::knob_of(20000.0f), 20000.0f);
    EXPECT_EQ(QZ_Application::knob_of(20.0f), 20.0f);
    // The settings the command line and the description name land exactly.
    EXPECT_EQ(QZ_Application::knob_of(5015.0f), 10010.0f);
    EXPECT_EQ(QZ_Application::knob_of(QZ_Application::cutoff_of(1500.0f)), 1500.0f);
    // Outside the range (and not a number) is held to it.
    EXPECT_EQ(QZ_Application::knob_of(5.0f), 20.0f);
    EXPECT_EQ(QZ_Application::knob_of(1e9f), 20000.0f);
    EXPECT_EQ(QZ_Application::knob_of(NAN), 20.0f);
}

// The descriptor as a host without lilv meets it, fed values no port description allows.
TEST(Lv2Descriptor, HostileControlValuesKeepTheOutputFinite) {
    void* so = dlopen(ZELO_LV2_BUNDLE "/zelo_lv2.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(so) << dlerror();
    auto entry = reinterpret_cast<const LV2_Descriptor* (*)(std::uint32_t)>(dlsym(so, "lv2_descriptor"));
    ASSERT_TRUE(entry);
    const LV2_Descriptor* d = entry(0);
    ASSERT_TRUE(d);
    EXPECT_STREQ(d->URI, ZELO_LV2_URI);
    EXPECT_EQ(entry(1), nullptr);
    const LV2_Feature* none[] = {nullptr};
    EXPECT_EQ(d->instantiate(d, 0.0, ZELO_LV2_BUNDLE, none), nullptr);
    EXPECT_EQ(d->instantiate(d, NAN, ZELO_LV2_BUNDLE, none), nullptr);

    LV2_Handle h = d->instantiate(d, 44100.0, ZELO_LV2_BUNDLE, none);
    ASSERT_TRUE(h);
    std::vector<float> in = signal(512), l(512), r(512);
    float state = 1.0f, freq = 1000.0f;
    d->connect_port(h, QZ_LV2_IN, in.data());
    d->connect_port(h, QZ_LV2_OUT_LEFT, l.data());
    d->connect_port(h, QZ_LV2_OUT_RIGHT, r.data());
    d->connect_port(h, QZ_LV2_STATE, &state);
    d->connect_port(h, QZ_LV2_FREQUENCY, &freq);
    d->connect_port(h, 99, &freq);  // no such port: ignored
    d->activate(h);
    for (float f : {-5.0f, 0.0f, 1e30f, INFINITY, -INFINITY, NAN, 19999.9f}) {
        for (float s : {1.0f, NAN, -1.0f, 0.5f}) {
            freq = f;
            state = s;
            d->run(h, 512);
            for (std::size_t i = 0; i < l.size(); ++i) {
                ASSERT_TRUE(std::isfinite(l[i]) && std::fabs(l[i]) <= 1.0f) << f << " Hz, state " << s;
                ASSERT_EQ(bits(l[i]), bits(r[i]));
            }
        }
    }
    // Zero frames is a call like any other.
    d->run(h, 0);
    // Activated again, the filter has forgotten the signal: silence in gives
    // silence out from the first sample (without the reset the filter's
    // memory would ring on).
    freq = 100.0f;
    state = 1.0f;
    for (float& x : in) x = 1.0f;
    d->run(h, 512);
    d->deactivate(h);
    d->activate(h);
    std::fill(in.begin(), in.end(), 0.0f);
    d->run(h, 512);
    for (std::size_t i = 0; i < l.size(); ++i) ASSERT_EQ(l[i], 0.0f) << "sample " << i;
    d->deactivate(h);
    d->cleanup(h);
}

// Hosts make and free instances on their own threads while others run: the
// toolkit's shared tables must take that (run under ThreadSanitizer too).
TEST(Lv2Thread, RunWhileOtherInstancesAreMadeAndFreed) {
    void* so = dlopen(ZELO_LV2_BUNDLE "/zelo_lv2.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(so) << dlerror();
    auto entry = reinterpret_cast<const LV2_Descriptor* (*)(std::uint32_t)>(dlsym(so, "lv2_descriptor"));
    ASSERT_TRUE(entry);
    const LV2_Descriptor* d = entry(0);
    const LV2_Feature* none[] = {nullptr};
    LV2_Handle h = d->instantiate(d, 48000.0, ZELO_LV2_BUNDLE, none);
    ASSERT_TRUE(h);
    std::vector<float> in = signal(256), l(256), r(256);
    float state = 1.0f, freq = 440.0f;
    d->connect_port(h, QZ_LV2_IN, in.data());
    d->connect_port(h, QZ_LV2_OUT_LEFT, l.data());
    d->connect_port(h, QZ_LV2_OUT_RIGHT, r.data());
    d->connect_port(h, QZ_LV2_STATE, &state);
    d->connect_port(h, QZ_LV2_FREQUENCY, &freq);
    d->activate(h);

    std::atomic<bool> stop{false};
    std::atomic<int> made{0};
    std::thread other([&] {
        while (!stop.load()) {
            LV2_Handle k = d->instantiate(d, 44100.0, ZELO_LV2_BUNDLE, none);
            if (k) {
                d->cleanup(k);
                made.fetch_add(1);
            }
        }
    });
    for (int k = 0; k < 3000 || made.load() < 3; ++k) {
        freq = 20.0f + static_cast<float>(k % 1000) * 19.0f;
        state = (k / 100) % 2 ? 0.0f : 1.0f;
        d->run(h, 256);
    }
    stop = true;
    other.join();
    for (float x : l) ASSERT_TRUE(std::isfinite(x));
    EXPECT_GE(made.load(), 3);
    d->deactivate(h);
    d->cleanup(h);
}
