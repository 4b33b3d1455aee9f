// The bridge that format adapters drive: sound, parameters and presets of the
// effect linked into this program, against zelo.so through the VST test host.
#include <cstring>
#include <string>
#include <vector>

#include "plugin/effect_bridge.h"
#include "plugin/preset.h"
#include "plugin_env.h"

using namespace plugtest;

namespace {

const ::testing::Environment* const quiet = ::testing::AddGlobalTestEnvironment(new QuietTrace);

std::vector<float> noise(std::size_t n, std::uint32_t seed) {
    std::vector<float> v(n);
    for (auto& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<std::int32_t>(seed)) * (1.2f / 2147483648.0f);  // some clip
    }
    return v;
}

struct Heard {
    std::vector<std::pair<int, float>> values;
    static void listen(void* ctx, QZ_Effect_Bridge::Change what, int index, float value) {
        if (what == QZ_Effect_Bridge::Change::Value) static_cast<Heard*>(ctx)->values.emplace_back(index, value);
    }
};

std::string text_at(QZ_Effect_Bridge& b, int index, float x) {
    char t[64];
    EXPECT_TRUE(b.param_text_at(index, x, t, sizeof t));
    return t;
}

}  // namespace

TEST(EffectBridge, SoundEqualsTheVstModuleAtEverySettingAndBlockSize) {
    const std::vector<float> in = noise(5000, 7);
    struct Case {
        float state, freq, rate;
        std::int32_t block;
    };
    for (const Case c : {Case{1.0f, 0.5f, 44100.0f, 512}, Case{1.0f, 0.02f, 48000.0f, 100},
                         Case{0.0f, 0.9f, 96000.0f, 1024}, Case{1.0f, 1.0f, 22050.0f, 37}}) {
        auto vst = started(c.rate, c.block);
        ASSERT_TRUE(vst);
        vst->set_parameter(0, c.state);
        vst->set_parameter(1, c.freq);
        std::vector<float> want_l, want_r;
        vst->render(in, want_l, want_r, c.block);

        auto b = QZ_Effect_Bridge::create();
        ASSERT_TRUE(b);
        b->set_sample_rate(c.rate);
        b->set_block_size(c.block);
        b->resume();
        b->set_param(0, c.state);
        b->set_param(1, c.freq);
        std::vector<float> l(in.size()), r(in.size());
        for (std::size_t k = 0; k < in.size(); k += static_cast<std::size_t>(c.block)) {
            const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(c.block), in.size() - k);
            b->process(in.data() + k, l.data() + k, r.data() + k, static_cast<std::uint32_t>(n));
        }
        EXPECT_EQ(0, std::memcmp(l.data(), want_l.data(), l.size() * sizeof(float))) << c.freq << " " << c.rate;
        EXPECT_EQ(0, std::memcmp(r.data(), want_r.data(), r.size() * sizeof(float)));
        // After a reset the same input gives the same output again (with the
        // filter on from the start: switching it off fades over the first pass).
        if (c.state == 1.0f) {
            b->reset();
            std::vector<float> again(512);
            b->process(in.data(), again.data(), again.data(), 512);
            EXPECT_EQ(0, std::memcmp(again.data(), l.data(), 512 * sizeof(float))) << c.freq << " " << c.block;
        }
        // A null input is silence: the filter's state decays to exactly zero.
        std::vector<float> z(20000, 1.0f);
        b->process(nullptr, z.data(), z.data(), static_cast<std::uint32_t>(z.size()));
        if (c.state == 0.0f) {
            EXPECT_EQ(z.back(), 0.0f);
        }
    }
}

TEST(EffectBridge, ParameterNamesTextsAndDefaults) {
    auto b = QZ_Effect_Bridge::create();
    ASSERT_TRUE(b);
    char name[16];
    ASSERT_TRUE(b->param_name(0, name, sizeof name));
    EXPECT_STREQ(name, "State");
    ASSERT_TRUE(b->param_name(1, name, sizeof name));
    EXPECT_STREQ(name, "Frequency");  // whole, where the VST name has 8 characters
    ASSERT_TRUE(b->param_name(1, name, 5));
    EXPECT_STREQ(name, "Freq");  // cut to the buffer
    EXPECT_FALSE(b->param_name(2, name, sizeof name));

    EXPECT_EQ(b->param_default(0), 1.0f);
    EXPECT_FLOAT_EQ(b->param_default(1), (1500.0f - 20.0f) / 19980.0f);
    EXPECT_TRUE(QZ_Effect_Bridge::param_stepped(0));
    EXPECT_FALSE(QZ_Effect_Bridge::param_stepped(1));

    EXPECT_EQ(text_at(*b, 0, 1.0f), "On");
    EXPECT_EQ(text_at(*b, 0, 0.2f), "Off");
    EXPECT_EQ(text_at(*b, 1, 0.0f), "20 Hz");
    EXPECT_EQ(text_at(*b, 1, 1.0f), "20000 Hz");
    EXPECT_EQ(text_at(*b, 1, 0.5f), "5015 Hz");
    // The text of the current value is the VST display with its label.
    b->set_param(1, 0.07f);
    char t[64];
    ASSERT_TRUE(b->param_text(1, t, sizeof t));
    auto vst = started();
    vst->set_parameter(1, 0.07f);
    EXPECT_EQ(t, vst->parameter_display(1).text + " " + vst->parameter_label(1).text);
    EXPECT_FALSE(b->param_text_at(1, NAN, t, sizeof t));
    EXPECT_STREQ(t, "");
    EXPECT_FALSE(b->param_text_at(5, 0.5f, t, sizeof t));
}

TEST(EffectBridge, TextsReadBackToTheValuesTheyShow) {
    auto b = QZ_Effect_Bridge::create();
    ASSERT_TRUE(b);
    float x = -1.0f;
    for (const char* hz : {"20 Hz", "130 Hz", "5015 Hz", "19999 Hz", "20000 Hz"}) {
        ASSERT_TRUE(b->param_from_text(1, hz, &x)) << hz;
        EXPECT_EQ(text_at(*b, 1, x), hz);
    }
    ASSERT_TRUE(b->param_from_text(1, " 800", &x));
    EXPECT_EQ(text_at(*b, 1, x), "800 Hz");
    ASSERT_TRUE(b->param_from_text(1, "1e9 hz", &x));
    EXPECT_EQ(x, 1.0f);
    ASSERT_TRUE(b->param_from_text(1, "-5", &x));
    EXPECT_EQ(x, 0.0f);
    x = 0.25f;
    for (const char* bad : {"", "Hz", "130 kHz", "nan", "inf Hz", "abc"}) EXPECT_FALSE(b->param_from_text(1, bad, &x)) << bad;
    EXPECT_EQ(x, 0.25f);

    ASSERT_TRUE(b->param_from_text(0, "off", &x));
    EXPECT_EQ(x, 0.0f);
    ASSERT_TRUE(b->param_from_text(0, "On ", &x));
    EXPECT_EQ(x, 1.0f);
    ASSERT_TRUE(b->param_from_text(0, "0", &x));
    EXPECT_EQ(x, 0.0f);
    EXPECT_FALSE(b->param_from_text(0, "Onward", &x));
    EXPECT_FALSE(b->param_from_text(0, "On Off", &x));
    EXPECT_FALSE(b->param_from_text(2, "1", &x));
}

TEST(EffectBridge, PresetBytesRoundTripAndBadOnesChangeNothing) {
    Heard heard;
    auto a = QZ_Effect_Bridge::create(&Heard::listen, &heard);
    auto b = QZ_Effect_Bridge::create(&Heard::listen, &heard);
    ASSERT_TRUE(a && b);
    a->set_param(0, 0.0f);
    a->set_param(1, 0.3f);
    std::vector<unsigned char> bytes(QZ_Effect_Bridge::preset_size());
    a->preset(bytes.data());
    QZ_Preset want{0, 20.0f + 0.3f * 19980.0f};
    std::vector<unsigned char> file(QZ_preset_file_length());
    QZ_preset_encode(want, file.data());
    EXPECT_EQ(bytes, file);

    EXPECT_EQ(b->set_preset(bytes.data(), bytes.size()), nullptr);
    EXPECT_EQ(b->param(0), 0.0f);
    EXPECT_EQ(b->param(1), a->param(1));
    EXPECT_TRUE(heard.values.empty());  // the loading adapter tells its host itself

    // Bad bytes: one short, one long, a changed header byte; nothing moves.
    b->set_param(0, 1.0f);
    b->set_param(1, 0.6f);
    std::vector<unsigned char> longer = bytes;
    longer.push_back(0);
    std::vector<unsigned char> header = bytes;
    header[0] ^= 1;
    EXPECT_NE(b->set_preset(bytes.data(), bytes.size() - 1), nullptr);
    EXPECT_NE(b->set_preset(longer.data(), longer.size()), nullptr);
    EXPECT_NE(b->set_preset(header.data(), header.size()), nullptr);
    EXPECT_NE(b->set_preset(nullptr, 0), nullptr);
    EXPECT_EQ(b->param(0), 1.0f);
    EXPECT_EQ(b->param(1), 0.6f);
}

TEST(EffectBridge, EditorSizeAndNoEditorWithoutAWindow) {
    auto b = QZ_Effect_Bridge::create();
    ASSERT_TRUE(b);
    int w = 0, h = 0;
    ASSERT_TRUE(b->editor_size(&w, &h));
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 236);
    EXPECT_FALSE(b->editor_open(nullptr));
    EXPECT_FALSE(b->editor_is_open());
    b->editor_close();  // harmless when closed
}

TEST(EffectBridge, PrintsNoVstTraceLines) {
    // The VST plug-in prints a line per dispatcher call unless told not to; a
    // host of another format never made those calls.
    zelo_test::unset_env("ZELO_VST_TRACE");
    ::testing::internal::CaptureStdout();
    {
        auto b = QZ_Effect_Bridge::create();
        ASSERT_TRUE(b);
        b->set_sample_rate(48000.0);
        b->resume();
        char t[32];
        b->param_name(1, t, sizeof t);
        b->reset();
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    zelo_test::set_env("ZELO_VST_TRACE", "0");
    EXPECT_EQ(out, "");
}

// The editor's gestures as a format adapter passes them on: whatever a take
// finds, the host hears begin, the value, end, each once and in that order,
// and a gesture still under way stays open until its end is taken.
TEST(GestureOrder, BeginsAndEndsAroundTheValuesEachOnce) {
    using C = QZ_Effect_Bridge::Change;
    QZ_Gesture_Order g;
    std::string heard;
    const auto take = [&](bool value) {
        const QZ_Gesture_Order::Seen s = g.look();
        g.take(s, value, [&](C c) { heard += c == C::Begin ? "B" : c == C::End ? "E" : "v"; });
        const std::string h = heard;
        heard.clear();
        return h;
    };
    EXPECT_EQ(take(false), "");
    EXPECT_EQ(take(true), "v");  // a change without a gesture (a loaded preset)
    // A click between two takes.
    g.note(true);
    g.note(false);
    EXPECT_EQ(take(true), "BvE");
    // A drag over three takes.
    g.note(true);
    EXPECT_EQ(take(true), "Bv");
    EXPECT_EQ(take(true), "v");
    EXPECT_EQ(take(false), "");
    g.note(false);
    EXPECT_EQ(take(true), "vE");
    EXPECT_EQ(take(false), "");
    // Let go and taken again between two takes: the old gesture ends, a new
    // one begins and stays open.
    g.note(true);
    EXPECT_EQ(take(true), "Bv");
    g.note(false);
    g.note(true);
    EXPECT_EQ(take(true), "vEB");
    g.note(false);
    EXPECT_EQ(take(false), "E");
    // Two whole clicks between takes: two pairs.
    for (int i = 0; i < 2; ++i) {
        g.note(true);
        g.note(false);
    }
    EXPECT_EQ(take(true), "BvEBE");
    // An end noted after look() waits for the next take.
    g.note(true);
    const QZ_Gesture_Order::Seen s = g.look();
    g.note(false);
    g.take(s, true, [&](C c) { heard += c == C::Begin ? "B" : c == C::End ? "E" : "v"; });
    EXPECT_EQ(heard, "Bv");
    heard.clear();
    EXPECT_EQ(take(false), "E");
}
