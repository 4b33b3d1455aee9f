// zelo.clap through our CLAP host: entry and factory, parameters, sound
// against zelo.so through the VST test host, events at their frames, state
// round trips and refused states, ports and latency, and a second thread.
#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "host/claphost/claphost.h"
#include "plugin_env.h"

using namespace plugtest;
using zelo::claphost::OutEvent;
namespace clap = zelo::claphost;

namespace {

const ::testing::Environment* const quiet = ::testing::AddGlobalTestEnvironment(new QuietTrace);

clap::Module& clap_module() {
    static std::unique_ptr<clap::Module> m = [] {
        std::string error;
        auto loaded = clap::Module::load(ZELO_CLAP_PATH, &error);
        if (!loaded) {
            ADD_FAILURE() << "cannot load " << ZELO_CLAP_PATH << ": " << error;
            std::abort();
        }
        return loaded;
    }();
    return *m;
}

std::unique_ptr<clap::Plugin> clap_started(double rate = 44100.0, std::uint32_t block = 512) {
    std::string error;
    auto p = clap::Plugin::create(clap_module(), &error);
    EXPECT_TRUE(p) << error;
    if (p) {
        EXPECT_TRUE(p->start(rate, block));
    }
    return p;
}

std::vector<float> noise(std::size_t n, std::uint32_t seed) {
    std::vector<float> v(n);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-1.1f, 1.1f);
    for (auto& x : v) x = u(rng);
    return v;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

}  // namespace

TEST(Clap, EntryFactoryAndDescriptor) {
    const clap_plugin_entry_t* e = clap_module().entry();
    EXPECT_EQ(e->clap_version.major, 1u);
    EXPECT_EQ(e->get_factory("clap.no-such-factory"), nullptr);
    const clap_plugin_factory_t* f = clap_module().factory();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->get_plugin_count(f), 1u);
    EXPECT_EQ(f->get_plugin_descriptor(f, 1), nullptr);
    const clap_plugin_descriptor_t* d = f->get_plugin_descriptor(f, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->id, "audio.zelo.lowpass");
    EXPECT_STREQ(d->name, "1-st order low-pass");
    EXPECT_STREQ(d->vendor, "zelo.audio");
    EXPECT_STREQ(d->version, ZELO_PROJECT_VERSION);
    ASSERT_NE(d->features, nullptr);
    EXPECT_STREQ(d->features[0], "audio-effect");
    std::string error;
    EXPECT_FALSE(clap::Plugin::create(clap_module(), &error, "audio.zelo.other"));
    clap_host_t host{};
    EXPECT_EQ(f->create_plugin(f, &host, "audio.zelo.other"), nullptr);
    EXPECT_EQ(f->create_plugin(f, nullptr, d->id), nullptr);
}

TEST(Clap, ParametersAsTheVstDisplayShowsThem) {
    auto p = clap_started();
    ASSERT_TRUE(p && p->params());
    ASSERT_EQ(p->param_count(), 2u);
    clap_param_info_t info{};
    ASSERT_TRUE(p->param_info(0, &info));
    EXPECT_EQ(info.id, 0u);
    EXPECT_STREQ(info.name, "State");
    EXPECT_EQ(info.flags, CLAP_PARAM_IS_STEPPED | CLAP_PARAM_IS_AUTOMATABLE);
    EXPECT_EQ(info.min_value, 0.0);
    EXPECT_EQ(info.max_value, 1.0);
    EXPECT_EQ(info.default_value, 1.0);
    ASSERT_TRUE(p->param_info(1, &info));
    EXPECT_STREQ(info.name, "Frequency");
    EXPECT_EQ(info.flags, CLAP_PARAM_IS_AUTOMATABLE);
    EXPECT_FLOAT_EQ(static_cast<float>(info.default_value), (1500.0f - 20.0f) / 19980.0f);
    EXPECT_FALSE(p->param_info(2, &info));

    EXPECT_EQ(p->param_text(1, p->param_value(1)), "130 Hz");
    EXPECT_EQ(p->param_text(1, 0.5), "5015 Hz");
    EXPECT_EQ(p->param_text(0, 0.0), "Off");
    EXPECT_EQ(p->param_text(0, 1.0), "On");
    EXPECT_EQ(p->param_text(7, 0.5), "");
    double v = -1;
    ASSERT_TRUE(p->params()->text_to_value(p->plugin(), 1, "800 Hz", &v));
    EXPECT_EQ(p->param_text(1, v), "800 Hz");
    EXPECT_FALSE(p->params()->text_to_value(p->plugin(), 1, "loud", &v));
    EXPECT_FALSE(p->params()->text_to_value(p->plugin(), 9, "1", &v));
    char small[4];
    ASSERT_TRUE(p->params()->value_to_text(p->plugin(), 1, 0.5, small, sizeof small));
    EXPECT_STREQ(small, "501");  // cut to the buffer, never past it
    EXPECT_FALSE(p->params()->get_value(p->plugin(), 2, &v));
    EXPECT_EQ(p->param_index("frequency"), 1);
}

TEST(Clap, SoundIsTheVstPluginsBitForBit) {
    const std::vector<float> in = noise(30000, 3);
    struct Case {
        double state, freq;
        float rate;
        std::uint32_t block;
    };
    for (const Case c : {Case{1, 0.5, 44100.0f, 512}, Case{1, 0.05, 48000.0f, 64}, Case{0, 0.9, 96000.0f, 1000}}) {
        auto vst = started(c.rate, static_cast<VstInt32>(c.block));
        vst->set_parameter(0, static_cast<float>(c.state));
        vst->set_parameter(1, static_cast<float>(c.freq));
        std::vector<float> want_l, want_r, l, r;
        vst->render(in, want_l, want_r, static_cast<VstInt32>(c.block));

        auto p = clap_started(c.rate, c.block);
        p->queue_value(0, c.state);
        p->queue_value(1, c.freq);
        p->render(in, l, r, c.block);
        EXPECT_TRUE(same_bits(l, want_l)) << c.freq;
        EXPECT_TRUE(same_bits(r, want_r)) << c.freq;
    }
}

TEST(Clap, ValueEventsTakeEffectAtTheirFrames) {
    const std::vector<float> in = noise(512, 9);
    auto vst = started();
    std::vector<float> want(512), want_r(512);
    vst->process(in.data(), want.data(), want_r.data(), 100);
    vst->set_parameter(1, 0.8f);
    vst->process(in.data() + 100, want.data() + 100, want_r.data() + 100, 250);
    vst->set_parameter(1, 0.2f);
    vst->set_parameter(0, 0.0f);
    vst->process(in.data() + 350, want.data() + 350, want_r.data() + 350, 162);

    auto p = clap_started();
    std::vector<float> l(512), r(512);
    p->queue_value(1, 0.8, 100);
    p->queue_value(1, 0.2, 350);
    p->queue_value(0, 0.0, 350);
    EXPECT_EQ(p->process(in.data(), l.data(), r.data(), 512), CLAP_PROCESS_CONTINUE);
    EXPECT_TRUE(same_bits(l, want));
    EXPECT_EQ(p->param_value(1), 0.2f);
    EXPECT_EQ(p->param_value(0), 0.0);
    // An event past the block's end applies at its end; no input is silence.
    p->queue_value(1, 0.6, 5000);
    EXPECT_EQ(p->process(nullptr, l.data(), r.data(), 16), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(p->param_value(1), 0.6f);
}

TEST(Clap, FlushAppliesEventsOutsideProcessing) {
    std::string error;
    auto p = clap::Plugin::create(clap_module(), &error);
    ASSERT_TRUE(p) << error;
    p->queue_value(1, 0.25);
    p->queue_value(0, 0.0);
    p->queue_value(5, 0.7);  // not ours: ignored
    p->flush();
    EXPECT_EQ(p->param_value(1), 0.25f);
    EXPECT_EQ(p->param_value(0), 0.0);
    EXPECT_TRUE(p->out_events().empty());  // nothing to tell: the host made the change
}

TEST(Clap, StateRoundTripsAndBadStatesChangeNothing) {
    auto a = clap_started();
    a->queue_value(0, 0.0);
    a->queue_value(1, 0.4);
    a->flush();
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(a->save_state(&bytes, 3));  // a stream that takes three bytes at a time
    ASSERT_GT(bytes.size(), 8u);
    EXPECT_EQ(std::memcmp(bytes.data(), "zelo.audio 1-st order low-pass", 31), 0);  // the preset file's bytes

    auto b = clap_started();
    const int rescans = b->rescans();
    ASSERT_TRUE(b->load_state(bytes, 1));
    EXPECT_EQ(b->param_value(0), 0.0);
    EXPECT_EQ(b->param_value(1), a->param_value(1));
    EXPECT_EQ(b->rescans(), rescans + 1);  // the host is told to read the values again
    std::vector<std::uint8_t> again;
    ASSERT_TRUE(b->save_state(&again));
    EXPECT_EQ(again, bytes);

    // Bad states: refused, and b keeps what it has.
    b->queue_value(0, 1.0);
    b->queue_value(1, 0.9);
    b->flush();
    std::vector<std::vector<std::uint8_t>> bad;
    bad.push_back({});
    bad.push_back(std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 1));
    bad.push_back(bytes);
    bad.back().push_back(0);
    bad.push_back(bytes);
    bad.back()[3] ^= 0x20;
    bad.push_back(std::vector<std::uint8_t>(1000, 0x41));
    for (const auto& s : bad) {
        EXPECT_FALSE(b->load_state(s, 7)) << s.size();
        EXPECT_EQ(b->param_value(0), 1.0);
        EXPECT_EQ(b->param_value(1), 0.9f);
    }
    EXPECT_EQ(b->rescans(), rescans + 1);

    // A stream that fails half way: refused too.
    struct Failing {
        static std::int64_t read(const clap_istream_t*, void*, std::uint64_t) { return -1; }
    };
    clap_istream_t failing{nullptr, &Failing::read};
    EXPECT_FALSE(b->state()->load(b->plugin(), &failing));
    EXPECT_EQ(b->param_value(1), 0.9f);
    struct Full {
        static std::int64_t write(const clap_ostream_t*, const void*, std::uint64_t) { return 0; }
    };
    clap_ostream_t full{nullptr, &Full::write};
    EXPECT_FALSE(b->state()->save(b->plugin(), &full));
}

TEST(Clap, PortsLatencyAndGuiApis) {
    auto p = clap_started();
    const clap_plugin_audio_ports_t* ports = p->audio_ports();
    ASSERT_NE(ports, nullptr);
    ASSERT_EQ(ports->count(p->plugin(), true), 1u);
    ASSERT_EQ(ports->count(p->plugin(), false), 1u);
    clap_audio_port_info_t info{};
    ASSERT_TRUE(ports->get(p->plugin(), 0, true, &info));
    EXPECT_EQ(info.channel_count, 1u);
    EXPECT_STREQ(info.port_type, "mono");
    EXPECT_EQ(info.flags, CLAP_AUDIO_PORT_IS_MAIN);
    EXPECT_EQ(info.in_place_pair, CLAP_INVALID_ID);
    ASSERT_TRUE(ports->get(p->plugin(), 0, false, &info));
    EXPECT_EQ(info.channel_count, 2u);
    EXPECT_STREQ(info.port_type, "stereo");
    EXPECT_FALSE(ports->get(p->plugin(), 1, false, &info));
    ASSERT_NE(p->latency(), nullptr);
    EXPECT_EQ(p->latency()->get(p->plugin()), 0u);
    EXPECT_EQ(p->plugin()->get_extension(p->plugin(), "clap.no-such-extension"), nullptr);

    const clap_plugin_gui_t* gui = p->gui();
    ASSERT_NE(gui, nullptr);
#if defined(_WIN32)
    const char* native = "win32";
#else
    const char* native = "x11";
#endif
    EXPECT_TRUE(gui->is_api_supported(p->plugin(), native, false));
    EXPECT_FALSE(gui->is_api_supported(p->plugin(), native, true));
    EXPECT_FALSE(gui->is_api_supported(p->plugin(), "cocoa", false));
    const char* api = nullptr;
    bool floating = true;
    ASSERT_TRUE(gui->get_preferred_api(p->plugin(), &api, &floating));
    EXPECT_STREQ(api, native);
    EXPECT_FALSE(floating);
    EXPECT_FALSE(gui->create(p->plugin(), "cocoa", false));
    ASSERT_TRUE(gui->create(p->plugin(), native, false));
    std::uint32_t w = 0, h = 0;
    ASSERT_TRUE(gui->get_size(p->plugin(), &w, &h));
    EXPECT_EQ(w, 200u);
    EXPECT_EQ(h, 236u);
    EXPECT_FALSE(gui->can_resize(p->plugin()));
    EXPECT_TRUE(gui->set_size(p->plugin(), 200, 236));
    EXPECT_FALSE(gui->set_size(p->plugin(), 400, 236));
    EXPECT_FALSE(gui->show(p->plugin()));  // no parent yet
    clap_window_t none{native, {nullptr}};
    EXPECT_FALSE(gui->set_parent(p->plugin(), &none));
    gui->destroy(p->plugin());
}

TEST(Clap, ParametersFromASecondThreadWhileProcessing) {
    // The audio thread processes with automation events; the main thread
    // meanwhile reads values and texts and saves state, as a host's window does.
    auto p = clap_started(44100.0, 256);
    std::atomic<bool> done{false};
    std::atomic<long> reads{0};
    std::thread main_thread([&] {
        std::vector<std::uint8_t> bytes;
        while (!done.load()) {
            const double v = p->param_value(reads % 2);
            if (v < 0.0 || v > 1.0) ADD_FAILURE() << v;
            (void)p->param_text(1, p->param_value(1));
            p->save_state(&bytes);
            reads.fetch_add(1);
        }
    });
    for (int wait = 0; wait < 5000 && reads.load() == 0; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto in = noise(256, 4);
    std::vector<float> l(256), r(256);
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    bool finite = true;
    for (int block = 0; block < 2000 && finite; ++block) {
        p->queue_value(1, u(rng), static_cast<std::uint32_t>(block % 256));
        if (block % 50 == 0) p->queue_value(0, block % 100 ? 1.0 : 0.0, 200);
        p->process(in.data(), l.data(), r.data(), 256);
        for (std::size_t i = 0; i < l.size(); ++i) finite = finite && std::isfinite(l[i]) && l[i] == r[i];
    }
    done = true;
    main_thread.join();
    EXPECT_TRUE(finite);
    EXPECT_GT(reads.load(), 0);
}
