// The host logic with simulated drivers and effects: the menu model after each
// action, driver and mode changes, and the block callback's mix.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "host/host_logic.h"
#include "host_sim.h"

using host_sim::Sim_Class;
using host_sim::Sim_Driver;
using host_sim::Sim_Effect;

namespace {

std::vector<std::string> g_reports;
void capture(int, const char* proc, const char* text) { g_reports.push_back(std::string(proc) + ": " + text); }

struct Fixture : ::testing::Test {
    std::unique_ptr<QZ_Host> host;
    void SetUp() override {
        g_reports.clear();
        Sim_Effect::log().clear();
        Sim_Effect::created() = 0;
    }
    void TearDown() override {
        if (host) host->shutdown();
        host.reset();
        EXPECT_EQ(Sim_Effect::alive().load(), 0);
        EXPECT_EQ(QZ_Rts_instances.count, 0);
    }
    QZ_Host& start(void* window = reinterpret_cast<void*>(0x1234)) {
        host = std::make_unique<QZ_Host>(&Sim_Effect::entry);
        host->report_fn = &capture;
        host->start({Sim_Class::cls()});
        host->set_effect_window(window);
        EXPECT_TRUE(host->command(QZ_Host::CMD_ADD));
        return *host;
    }
    const QZ_Host::Menu_Item& item(QZ_Host::Menu_Id m, int id) {
        const QZ_Host::Menu& menu = host->menu(m);
        const int at = menu.find(id);
        EXPECT_GE(at, 0) << std::hex << id;
        static QZ_Host::Menu_Item none;
        return at >= 0 ? menu.items[static_cast<std::size_t>(at)] : none;
    }
    std::vector<std::string> texts(QZ_Host::Menu_Id m) {
        std::vector<std::string> t;
        for (const auto& it : host->menu(m).items) t.push_back(it.text);
        return t;
    }
};

using V = std::vector<std::string>;

}  // namespace

TEST_F(Fixture, MenuBarAndFirstInstance) {
    Sim_Driver* a = Sim_Class::add("Sim A", 2, {{48000, 32, 480, 2}, {44100, 16, 441, 4}});
    Sim_Class::add("Sim B", 1, {{96000, 24, 64, 2}});
    QZ_Host& h = start();
    EXPECT_EQ(texts(QZ_Host::MENU_BAR), (V{"&Audio", "&Channel", "&Help (online)"}));
    EXPECT_EQ(item(QZ_Host::MENU_BAR, QZ_Host::CMD_HELP).id, 0x7000);
    EXPECT_EQ(texts(QZ_Host::MENU_AUDIO), (V{"Sim A", "Sim B", "", "&Mode"}));
    EXPECT_EQ(texts(QZ_Host::MENU_MODE), (V{" 48.0 kHz, 32 bit, stereo", " 44.1 kHz, 16 bit, quadro"}));
    EXPECT_EQ(texts(QZ_Host::MENU_CHANNEL), (V{"1. In 1", "", "&Input", "", "&Add", "&Delete"}));
    EXPECT_EQ(texts(QZ_Host::MENU_INPUT), (V{"In 1", "In 2"}));
    // Radio checks: driver 0, mode 0, instance 0 and its input; "&Delete" greyed with one instance.
    EXPECT_TRUE(item(QZ_Host::MENU_AUDIO, 0x1000).checked);
    EXPECT_FALSE(item(QZ_Host::MENU_AUDIO, 0x1001).checked);
    EXPECT_TRUE(item(QZ_Host::MENU_AUDIO, 0x1000).radio);
    EXPECT_TRUE(item(QZ_Host::MENU_MODE, 0x2000).checked);
    EXPECT_TRUE(item(QZ_Host::MENU_CHANNEL, 0x5000).checked);
    EXPECT_TRUE(item(QZ_Host::MENU_INPUT, 0x6000).checked);
    EXPECT_FALSE(item(QZ_Host::MENU_INPUT, 0x6001).checked);
    EXPECT_TRUE(item(QZ_Host::MENU_CHANNEL, QZ_Host::CMD_DELETE).greyed);
    EXPECT_FALSE(item(QZ_Host::MENU_CHANNEL, QZ_Host::CMD_ADD).greyed);
    EXPECT_EQ(a->mode_calls, 1);
    EXPECT_EQ(h.block_frames(), 480);
    EXPECT_EQ(Sim_Effect::of(h, 0)->rate, 48000.0f);
    EXPECT_TRUE(Sim_Effect::of(h, 0)->editor_open);
    EXPECT_EQ(Sim_Effect::of(h, 0)->parent, reinterpret_cast<void*>(0x1234));
    int w = 0, hh = 0;
    EXPECT_TRUE(h.editor_rect(&w, &hh));
    EXPECT_EQ(w, 200);
    EXPECT_EQ(hh, 236);
    EXPECT_EQ(h.effect_name(), "sim effect");
    char vendor[64] = {};
    EXPECT_EQ(QZ_Host::host_callback(nullptr, audioMasterGetVendorString, 0, 0, vendor, 0), 1);
    EXPECT_STREQ(vendor, "Steinberg Media Technologies");
    EXPECT_EQ(QZ_Host::host_callback(nullptr, audioMasterVersion, 0, 0, nullptr, 0), 2400);
    EXPECT_EQ(QZ_Host::host_callback(nullptr, audioMasterSizeWindow, 200, 236, nullptr, 0), 0);
    EXPECT_EQ(QZ_Host::host_callback(nullptr, audioMasterIdle, 0, 0, nullptr, 0), 0);
}

TEST_F(Fixture, AddDeleteAndConnect) {
    Sim_Class::add("Sim A", 2, {{48000, 32, 480, 2}});
    QZ_Host& h = start();
    // The second instance takes the free second input; "&Delete" becomes available.
    ASSERT_TRUE(h.command(QZ_Host::CMD_ADD));
    EXPECT_EQ(texts(QZ_Host::MENU_CHANNEL), (V{"1. In 1", "2. In 2", "", "&Input", "", "&Add", "&Delete"}));
    EXPECT_FALSE(item(QZ_Host::MENU_CHANNEL, QZ_Host::CMD_DELETE).greyed);
    EXPECT_EQ(h.selected(), 1);
    EXPECT_TRUE(item(QZ_Host::MENU_CHANNEL, 0x5001).checked);
    EXPECT_FALSE(item(QZ_Host::MENU_CHANNEL, 0x5000).checked);
    EXPECT_TRUE(item(QZ_Host::MENU_INPUT, 0x6001).checked);
    EXPECT_FALSE(item(QZ_Host::MENU_INPUT, 0x6000).checked);
    EXPECT_FALSE(Sim_Effect::of(h, 0)->editor_open);
    EXPECT_TRUE(Sim_Effect::of(h, 1)->editor_open);
    // Every input in use: the third is unconnected.
    ASSERT_TRUE(h.command(QZ_Host::CMD_ADD));
    EXPECT_STREQ(h.instance(2).text, "3. Unconnected");
    EXPECT_EQ(h.instance(2).input, -1);
    EXPECT_FALSE(item(QZ_Host::MENU_INPUT, 0x6000).checked);
    EXPECT_FALSE(item(QZ_Host::MENU_INPUT, 0x6001).checked);
    // Connecting it to input 1: shared inputs are allowed.
    ASSERT_TRUE(h.command(QZ_Host::CMD_INPUT + 0));
    EXPECT_STREQ(h.instance(2).text, "3. In 1");
    EXPECT_EQ(h.input(0).uses, 2);
    EXPECT_TRUE(item(QZ_Host::MENU_INPUT, 0x6000).checked);
    ASSERT_TRUE(h.command(QZ_Host::CMD_INPUT + 1));
    EXPECT_EQ(h.input(0).uses, 1);
    EXPECT_EQ(h.input(1).uses, 2);
    EXPECT_FALSE(item(QZ_Host::MENU_INPUT, 0x6000).checked);

    // Deleting instance 0 of three: the others move down and are renumbered, the
    // former second one is selected with its editor open.
    ASSERT_TRUE(h.command(QZ_Host::CMD_INSTANCE + 0));
    Sim_Effect* second = Sim_Effect::of(h, 1);
    Sim_Effect::log().clear();
    ASSERT_TRUE(h.command(QZ_Host::CMD_DELETE));
    EXPECT_EQ(Sim_Effect::log(), (V{"close 1", "open 2", "close-effect 1"}));
    EXPECT_EQ(h.instance_count(), 2);
    EXPECT_EQ(texts(QZ_Host::MENU_CHANNEL), (V{"1. In 2", "2. In 2", "", "&Input", "", "&Add", "&Delete"}));
    EXPECT_EQ(item(QZ_Host::MENU_CHANNEL, 0x5001).text, "2. In 2");
    EXPECT_EQ(h.menu(QZ_Host::MENU_CHANNEL).find(0x5002), -1);
    EXPECT_EQ(h.selected(), 0);
    EXPECT_EQ(Sim_Effect::of(h, 0), second);
    EXPECT_TRUE(second->editor_open);
    EXPECT_EQ(h.input(0).uses, 0);
    EXPECT_EQ(h.input(1).uses, 2);
    EXPECT_FALSE(item(QZ_Host::MENU_CHANNEL, QZ_Host::CMD_DELETE).greyed);
    // Down to one: greyed again, and a further delete changes nothing.
    ASSERT_TRUE(h.command(QZ_Host::CMD_DELETE));
    EXPECT_EQ(h.instance_count(), 1);
    EXPECT_TRUE(item(QZ_Host::MENU_CHANNEL, QZ_Host::CMD_DELETE).greyed);
    ASSERT_TRUE(h.command(QZ_Host::CMD_DELETE));
    EXPECT_EQ(h.instance_count(), 1);
    EXPECT_TRUE(Sim_Effect::of(h, 0)->editor_open);
}

TEST_F(Fixture, FirstDriverThatStartsIsTaken) {
    Sim_Driver* a = Sim_Class::add("Server", 2, {{48000, 32, 256, 2}});
    Sim_Driver* b = Sim_Class::add("Device", 2, {{44100, 16, 441, 2}});
    a->fail_init = true;
    QZ_Host& h = start();
    EXPECT_EQ(g_reports, (V{"menu_driver: Cannot open audio device"}));
    EXPECT_EQ(h.current_driver(), 1);
    EXPECT_EQ(h.current_mode(), 0);
    EXPECT_FALSE(item(QZ_Host::MENU_AUDIO, 0x1000).checked);
    EXPECT_TRUE(item(QZ_Host::MENU_AUDIO, 0x1001).checked);
    EXPECT_EQ(texts(QZ_Host::MENU_INPUT), (V{"In 1", "In 2"}));
    EXPECT_STREQ(h.instance(0).text, "1. In 1");
    EXPECT_EQ(a->exit_calls, 1);
    EXPECT_EQ(b->mode_calls, 1);
}

TEST_F(Fixture, NoDriverAndTheTableLimit) {
    QZ_Host& h = start();
    ASSERT_EQ(g_reports, (V{"WinMain: No audio drivers found"}));
    EXPECT_EQ(texts(QZ_Host::MENU_AUDIO), (V{"", "&Mode"}));
    EXPECT_STREQ(h.instance(0).text, "1. Unconnected");
    h.block();  // no mode: nothing to run, nothing touched
    EXPECT_EQ(h.blocks_run(), 0u);
    for (int k = 1; k < 40; ++k) h.command(QZ_Host::CMD_ADD);
    EXPECT_EQ(h.instance_count(), 32);
    EXPECT_STREQ(h.instance(31).text, "32. Unconnected");
    EXPECT_TRUE(item(QZ_Host::MENU_CHANNEL, QZ_Host::CMD_ADD).greyed);
    EXPECT_EQ(Sim_Effect::alive().load(), 32);
    ASSERT_TRUE(h.command(QZ_Host::CMD_DELETE));
    EXPECT_FALSE(item(QZ_Host::MENU_CHANNEL, QZ_Host::CMD_ADD).greyed);
}

TEST_F(Fixture, DriverAndModeChanges) {
    Sim_Driver* a = Sim_Class::add("Sim A", 3, {{48000, 32, 480, 2}, {44100, 16, 441, 4}});
    Sim_Driver* b = Sim_Class::add("Sim B", 1, {{96000, 24, 64, 2}});
    QZ_Host& h = start();
    h.command(QZ_Host::CMD_ADD);
    h.command(QZ_Host::CMD_ADD);
    ASSERT_EQ(texts(QZ_Host::MENU_CHANNEL)[2], "3. In 3");
    // The current mode again: the driver is stopped and started in it anew.
    ASSERT_TRUE(h.command(QZ_Host::CMD_MODE + 1));
    EXPECT_EQ(a->free_calls, 1);
    EXPECT_EQ(h.block_frames(), 441);
    EXPECT_EQ(Sim_Effect::of(h, 2)->rate, 44100.0f);
    EXPECT_FALSE(item(QZ_Host::MENU_MODE, 0x2000).checked);
    EXPECT_TRUE(item(QZ_Host::MENU_MODE, 0x2001).checked);
    ASSERT_TRUE(h.command(QZ_Host::CMD_MODE + 1));
    EXPECT_EQ(a->free_calls, 2);
    EXPECT_EQ(a->mode_calls, 3);
    EXPECT_TRUE(item(QZ_Host::MENU_MODE, 0x2001).checked);
    // The current driver again: released, initialised anew, mode 0 started.
    ASSERT_TRUE(h.command(QZ_Host::CMD_DRIVER + 0));
    EXPECT_EQ(a->exit_calls, 1);
    EXPECT_EQ(a->init_calls, 2);
    EXPECT_EQ(h.current_mode(), 0);
    EXPECT_EQ(texts(QZ_Host::MENU_MODE).size(), 2u);
    EXPECT_EQ(texts(QZ_Host::MENU_INPUT), (V{"In 1", "In 2", "In 3"}));
    EXPECT_EQ(texts(QZ_Host::MENU_CHANNEL)[2], "3. In 3");
    // A driver with fewer inputs: instances on missing inputs become unconnected,
    // nobody is renumbered, the menus show the new driver's modes and inputs.
    ASSERT_TRUE(h.command(QZ_Host::CMD_DRIVER + 1));
    EXPECT_EQ(texts(QZ_Host::MENU_CHANNEL),
              (V{"1. In 1", "2. Unconnected", "3. Unconnected", "", "&Input", "", "&Add", "&Delete"}));
    EXPECT_EQ(texts(QZ_Host::MENU_MODE), (V{" 96.0 kHz, 24 bit, stereo"}));
    EXPECT_EQ(texts(QZ_Host::MENU_INPUT), (V{"In 1"}));
    EXPECT_FALSE(item(QZ_Host::MENU_AUDIO, 0x1000).checked);
    EXPECT_TRUE(item(QZ_Host::MENU_AUDIO, 0x1001).checked);
    EXPECT_EQ(a->exit_calls, 2);
    EXPECT_EQ(b->mode_calls, 1);
    EXPECT_EQ(h.block_frames(), 64);

    // A driver that fails to start is reported, and the one before plays on
    // with its own menus; instances added meanwhile find its inputs taken.
    a->fail_init = true;
    ASSERT_TRUE(h.command(QZ_Host::CMD_DRIVER + 0));
    EXPECT_EQ(g_reports, (V{"menu_driver: Cannot open audio device"}));
    EXPECT_EQ(h.current_driver(), 1);
    EXPECT_EQ(h.current_mode(), 0);
    EXPECT_EQ(texts(QZ_Host::MENU_MODE), (V{" 96.0 kHz, 24 bit, stereo"}));
    EXPECT_EQ(texts(QZ_Host::MENU_INPUT), (V{"In 1"}));
    EXPECT_FALSE(item(QZ_Host::MENU_AUDIO, 0x1000).checked);
    EXPECT_TRUE(item(QZ_Host::MENU_AUDIO, 0x1001).checked);
    EXPECT_EQ(b->mode_calls, 2);
    ASSERT_TRUE(h.command(QZ_Host::CMD_ADD));
    EXPECT_STREQ(h.instance(0).text, "1. In 1");
    EXPECT_STREQ(h.instance(3).text, "4. Unconnected");
    a->fail_init = false;
    ASSERT_TRUE(h.command(QZ_Host::CMD_DRIVER + 0));
    EXPECT_EQ(h.current_mode(), 0);
    // A mode that cannot start: reported, no mode current.
    a->fail_mode = true;
    ASSERT_TRUE(h.command(QZ_Host::CMD_MODE + 1));
    EXPECT_EQ(h.current_mode(), -1);
    EXPECT_EQ(g_reports.back(), "menu_mode: Audio operating error");
    EXPECT_FALSE(item(QZ_Host::MENU_MODE, 0x2001).checked);
    EXPECT_FALSE(item(QZ_Host::MENU_MODE, 0x2000).checked);
}

// A driver that starts but offers nothing to play (ALSA without a sound card)
// is reported, and the driver before it comes back in its mode with its
// instances on their inputs. With nothing to come back to, the Mode menu says
// that there are no modes instead of showing an empty strip.
TEST_F(Fixture, ADriverWithoutModesIsReportedAndThePreviousOnePlaysOn) {
    Sim_Driver* a = Sim_Class::add("Server", 2, {{48000, 32, 256, 2}, {44100, 32, 441, 2}});
    Sim_Driver* b = Sim_Class::add("Card", 2, {});
    Sim_Driver* c = Sim_Class::add("Busy", 1, {{48000, 16, 64, 2}});
    QZ_Host& h = start();
    ASSERT_TRUE(h.command(QZ_Host::CMD_ADD));
    ASSERT_TRUE(h.command(QZ_Host::CMD_INPUT + 1));  // instance 1 on In 2
    ASSERT_TRUE(h.command(QZ_Host::CMD_MODE + 1));
    ASSERT_TRUE(g_reports.empty());

    ASSERT_TRUE(h.command(QZ_Host::CMD_DRIVER + 1));
    EXPECT_EQ(g_reports, (V{"menu_driver: The driver \"Card\" offers no modes: nothing can play through it"}));
    EXPECT_EQ(b->exit_calls, 1);
    EXPECT_EQ(h.current_driver(), 0);
    EXPECT_EQ(h.current_mode(), 1);
    EXPECT_EQ(h.block_frames(), 441);
    EXPECT_TRUE(item(QZ_Host::MENU_AUDIO, 0x1000).checked);
    EXPECT_FALSE(item(QZ_Host::MENU_AUDIO, 0x1001).checked);
    EXPECT_EQ(texts(QZ_Host::MENU_MODE).size(), 2u);
    EXPECT_TRUE(item(QZ_Host::MENU_MODE, 0x2001).checked);
    EXPECT_STREQ(h.instance(0).text, "1. In 1");
    EXPECT_STREQ(h.instance(1).text, "2. In 2");
    EXPECT_TRUE(item(QZ_Host::MENU_INPUT, 0x6001).checked);

    // A mode that cannot start counts the same.
    g_reports.clear();
    c->fail_mode = true;
    ASSERT_TRUE(h.command(QZ_Host::CMD_DRIVER + 2));
    EXPECT_EQ(g_reports, (V{"menu_mode: Audio operating error"}));
    EXPECT_EQ(h.current_driver(), 0);
    EXPECT_EQ(h.current_mode(), 1);

    // Nothing to come back to: no driver plays, the Mode menu holds one greyed
    // item, and the instances are unconnected.
    g_reports.clear();
    a->fail_init = true;
    ASSERT_TRUE(h.command(QZ_Host::CMD_DRIVER + 1));
    EXPECT_EQ(g_reports.size(), 2u);
    EXPECT_EQ(g_reports.back(), "menu_driver: Cannot open audio device");
    EXPECT_EQ(h.current_driver(), -1);
    EXPECT_EQ(h.current_mode(), -1);
    ASSERT_EQ(texts(QZ_Host::MENU_MODE), (V{"(no modes)"}));
    EXPECT_TRUE(h.menu(QZ_Host::MENU_MODE).items[0].greyed);
    EXPECT_EQ(h.menu(QZ_Host::MENU_MODE).items[0].id, 0);
    EXPECT_STREQ(h.instance(0).text, "1. Unconnected");
    h.block();
    EXPECT_EQ(h.blocks_run(), 0u);
}

TEST_F(Fixture, BlockCallbackMix) {
    Sim_Driver* a = Sim_Class::add("Sim A", 2, {{48000, 32, 8, 4}});
    QZ_Host& h = start();
    h.command(QZ_Host::CMD_ADD);  // instance gains 1 and 2 on inputs 1 and 2
    const int g0 = static_cast<int>(Sim_Effect::of(h, 0)->gain), g1 = static_cast<int>(Sim_Effect::of(h, 1)->gain);
    for (int i = 0; i < 8; ++i) {
        a->in_store[0][i] = 0.01f * i;
        a->in_store[1][i] = -0.02f * i;
    }
    for (auto& o : a->out_store) std::fill(o.begin(), o.end(), 0.5f);
    // Input 2 has no data yet: only instance 0 contributes.
    a->pump(Sim_Class::callback(), {0});
    for (int i = 0; i < 8; ++i) {
        EXPECT_FLOAT_EQ(a->out_store[0][i], g0 * 0.01f * i);
        EXPECT_FLOAT_EQ(a->out_store[1][i], 2 * g0 * 0.01f * i);
        // A four-channel mode gets the mix on its first two channels only.
        EXPECT_EQ(a->out_store[2][i], 0.5f);
        EXPECT_EQ(a->out_store[3][i], 0.5f);
    }
    a->pump(Sim_Class::callback(), {0, 1});
    for (int i = 0; i < 8; ++i)
        EXPECT_FLOAT_EQ(a->out_store[0][i], g0 * 0.01f * i + g1 * -0.02f * i);
    // While a menu action holds the mutex the block is skipped and the outputs stay.
    const std::uint64_t run = h.blocks_run();
    for (auto& o : a->out_store) std::fill(o.begin(), o.end(), 0.25f);
    h.mutex().lock();
    a->pump(Sim_Class::callback(), {0, 1});
    h.mutex().unlock();
    EXPECT_EQ(h.blocks_run(), run);
    EXPECT_EQ(h.blocks_skipped(), 1u);
    EXPECT_EQ(a->out_store[0][3], 0.25f);
    // An unconnected instance adds nothing: connect instance 1 (selected) away and back.
    h.command(QZ_Host::CMD_ADD);  // third, unconnected
    a->pump(Sim_Class::callback(), {0, 1});
    EXPECT_FLOAT_EQ(a->out_store[0][5], g0 * 0.05f + g1 * -0.10f);
    // The mix is clamped to full scale on the way out, like every conversion.
    for (int i = 0; i < 8; ++i) a->in_store[0][i] = 0.9f;
    a->pump(Sim_Class::callback(), {0});
    EXPECT_EQ(a->out_store[1][0], 1.0f);  // 2 x 0.9
    // A NaN from the device reaches the effect as -1, as the general conversion gives it.
    a->in_store[0][1] = std::nanf("");
    a->pump(Sim_Class::callback(), {0});
    EXPECT_EQ(a->out_store[0][1], -1.0f);
    // The level meter reads the mix before its clamping, and starts again once read.
    float l = 0, r = 0;
    h.take_peaks(&l, &r);
    EXPECT_EQ(l, static_cast<float>(g0));
    EXPECT_FLOAT_EQ(r, 2.0f * g0);
    h.take_peaks(&l, &r);
    EXPECT_EQ(l, 0.0f);
    EXPECT_EQ(r, 0.0f);
}

namespace {

// An effect that keeps what it was given and plays two set blocks, so that a
// test chooses every sample the host clamps and meters on the way out.
struct Probe {
    static std::vector<float>& got() {
        static std::vector<float> v;
        return v;
    }
    static std::vector<float>& play(int c) {
        static std::vector<float> v[2];
        return v[c];
    }
    static VstIntPtr VSTCALLBACK dispatch(AEffect* a, VstInt32 op, VstInt32, VstIntPtr, void*, float) {
        if (op == effClose) delete a;
        return 0;
    }
    static void VSTCALLBACK process(AEffect*, float** in, float** out, VstInt32 n) {
        got().assign(in[0], in[0] + n);
        for (int c = 0; c < 2; ++c) std::copy(play(c).begin(), play(c).begin() + n, out[c]);
    }
    static AEffect* VSTCALLBACK entry(audioMasterCallback) {
        AEffect* e = new AEffect{};
        e->magic = kEffectMagic;
        e->dispatcher = &dispatch;
        e->processReplacing = &process;
        e->numInputs = 1;
        e->numOutputs = 2;
        return e;
    }
};

std::uint32_t bits(float x) {
    std::uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

}  // namespace

// The block's clamping and metering run in vector loops with a plain tail; at
// every vector width and many block lengths they give the bits the plain rule
// gives: NaN of either sign to -1, infinities and overs to full scale, -0 and
// denormals kept; the meter skips NaN and counts infinity.
TEST_F(Fixture, ClampingAndMeteringGiveTheRuleAtEveryWidthAndLength) {
    const std::vector<int> lengths = {1, 3, 4, 5, 7, 8, 9, 15, 16, 17, 24, 31, 33, 47, 67};
    std::vector<host_sim::Mode_Spec> modes;
    for (int n : lengths) modes.push_back({48000, 32, n, 2});
    Sim_Driver* a = Sim_Class::add("Sim P", 1, modes);
    host = std::make_unique<QZ_Host>(&Probe::entry);
    host->report_fn = &capture;
    host->start({Sim_Class::cls()});
    ASSERT_TRUE(host->command(QZ_Host::CMD_ADD));
    const float inf = std::numeric_limits<float>::infinity(), den = std::numeric_limits<float>::denorm_min();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> special = {0.25f, -nan, 1.0000001f, -0.0f, den, -inf, 0.0f,   -1.0f, 3e38f,
                                        nan,   -den, inf,        1.0f,  -2.5f, 0.75f, -0.999f, 1e-30f};
    const auto rule = [](float x) { return x > 1.0f ? 1.0f : (x >= -1.0f ? x : -1.0f); };
    const auto magnitude = [](float peak, float x) { return std::fabs(x) > peak ? std::fabs(x) : peak; };
    for (int width : {0, 128, 256}) {
        QZ_Host::limit_vector_width(width);
        for (std::size_t m = 0; m < lengths.size(); ++m) {
            ASSERT_TRUE(host->command(QZ_Host::CMD_MODE + static_cast<int>(m)));
            const int n = lengths[m];
            // Where in the block the special values fall shifts with the length
            // and the channel: in the vector body, in the tail, at either end.
            for (int shift = 0; shift < 3; ++shift) {
                float peak[2] = {0.0f, 0.0f};
                for (int c = 0; c < 2; ++c) Probe::play(c).assign(static_cast<std::size_t>(n), 0.0f);
                for (int i = 0; i < n; ++i) {
                    const std::size_t at = static_cast<std::size_t>(i + shift * 5);
                    a->in_store[0][static_cast<std::size_t>(i)] = special[(at * 7) % special.size()];
                    for (int c = 0; c < 2; ++c) {
                        const float x = special[(at + static_cast<std::size_t>(c) * 3) % special.size()];
                        Probe::play(c)[static_cast<std::size_t>(i)] = x;
                        peak[c] = magnitude(peak[c], x);
                    }
                }
                float l = -1, r = -1;
                host->take_peaks(&l, &r);
                a->pump(Sim_Class::callback(), {0});
                ASSERT_EQ(Probe::got().size(), static_cast<std::size_t>(n));
                for (int i = 0; i < n; ++i) {
                    const std::size_t k = static_cast<std::size_t>(i);
                    EXPECT_EQ(bits(Probe::got()[k]), bits(rule(a->in_store[0][k])))
                        << "width " << width << " length " << n << " input " << i;
                    for (int c = 0; c < 2; ++c)
                        EXPECT_EQ(bits(a->out_store[static_cast<std::size_t>(c)][k]), bits(rule(Probe::play(c)[k])))
                            << "width " << width << " length " << n << " output " << c << " sample " << i;
                }
                host->take_peaks(&l, &r);
                EXPECT_EQ(bits(l), bits(peak[0])) << "width " << width << " length " << n;
                EXPECT_EQ(bits(r), bits(peak[1])) << "width " << width << " length " << n;
            }
        }
    }
    QZ_Host::limit_vector_width(256);
}

TEST_F(Fixture, ThirtyTwoInstancesSum) {
    Sim_Driver* a = Sim_Class::add("Sim A", 1, {{48000, 32, 16, 2}});
    QZ_Host& h = start(nullptr);
    for (int k = 1; k < 32; ++k) h.command(QZ_Host::CMD_ADD);
    ASSERT_EQ(h.instance_count(), 32);
    float gains = 0;
    for (int k = 0; k < 32; ++k) {
        h.command(QZ_Host::CMD_INSTANCE + k);
        h.command(QZ_Host::CMD_INPUT + 0);
        gains += Sim_Effect::of(h, k)->gain;
        EXPECT_FALSE(Sim_Effect::of(h, k)->editor_open);  // no effect window, no editor
    }
    EXPECT_EQ(h.input(0).uses, 32);
    for (int i = 0; i < 16; ++i) a->in_store[0][i] = 1e-4f * (i - 8);
    a->pump(Sim_Class::callback(), {0});
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(a->out_store[0][i], gains * 1e-4f * (i - 8), 1e-6);
        EXPECT_NEAR(a->out_store[1][i], 2 * gains * 1e-4f * (i - 8), 1e-6);
    }
}

TEST_F(Fixture, ShutdownOrder) {
    Sim_Driver* a = Sim_Class::add("Sim A", 2, {{48000, 32, 480, 2}});
    QZ_Host& h = start();
    h.command(QZ_Host::CMD_ADD);
    Sim_Effect::log().clear();
    h.shutdown();
    EXPECT_EQ(Sim_Effect::log(), (V{"close 2", "close-effect 1", "close-effect 2"}));
    // The simulated class is gone with its drivers, so `a` is no longer there to ask.
    (void)a;
    EXPECT_EQ(QZ_Rts_instances.count, 0);
    EXPECT_EQ(h.instance_count(), 0);
    h.block();  // after shutdown: nothing happens
    EXPECT_EQ(h.blocks_run(), 0u);
}

// A menu action waits for the mutex at most a second, then gives up.
TEST_F(Fixture, MenuActionGivesUpAfterASecond) {
    Sim_Class::add("Sim A", 2, {{48000, 32, 480, 2}});
    QZ_Host& h = start();
    std::thread holder([&] {
        h.mutex().lock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        h.mutex().unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(h.command(QZ_Host::CMD_ADD));
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    holder.join();
    EXPECT_GT(waited, 0.9);
    EXPECT_LT(waited, 1.25);
    EXPECT_EQ(h.instance_count(), 1);
}
