// zelo.clap's editor as a CLAP host embeds it: gui create, set_parent on a
// window of an Xvfb display of the test's own, show, a knob drag that the host
// hears of (a flush request, then the value as an output event), hide and
// destroy leaving no windows behind.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "host/claphost/claphost.h"
#include "editor_reference.h"
#include "plugin_env.h"
#include "tests/gui/x11_readback.h"
#include "tests/gui/xvfb.h"

using gui_test::Xvfb_Server;
namespace clap = zelo::claphost;
using zelo::claphost::OutEvent;

namespace {

const ::testing::Environment* const quiet = ::testing::AddGlobalTestEnvironment(new plugtest::QuietTrace);

class ClapEditor : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Xvfb_Server::available()) GTEST_SKIP() << "no Xvfb binary";
        ASSERT_TRUE(Xvfb_Server::get().running()) << "Xvfb did not start";
        setenv("DISPLAY", Xvfb_Server::get().name().c_str(), 1);
        for (int i = 0; i < 50 && !dpy; ++i) {
            dpy = XOpenDisplay(Xvfb_Server::get().name().c_str());
            if (!dpy) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_NE(dpy, nullptr);
        parent = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 10, 10, 300, 300, 0, 0, 0x204060);
        XMapWindow(dpy, parent);
        XSync(dpy, False);
        std::string error;
        module = clap::Module::load(ZELO_CLAP_PATH, &error);
        ASSERT_TRUE(module) << error;
        plugin = clap::Plugin::create(*module, &error);
        ASSERT_TRUE(plugin) << error;
        ASSERT_TRUE(plugin->start(44100.0, 512));
        gui = plugin->gui();
        ASSERT_NE(gui, nullptr);
    }
    void TearDown() override {
        plugin.reset();
        module.reset();
        if (dpy) XCloseDisplay(dpy);
        unsetenv("DISPLAY");
    }

    unsigned children(Window w) {
        Window root_ret, parent_ret, *kids = nullptr;
        unsigned n = 0;
        XQueryTree(dpy, w, &root_ret, &parent_ret, &kids, &n);
        if (kids) XFree(kids);
        return n;
    }
    Window child_of(Window w) {
        Window root_ret, parent_ret, *kids = nullptr;
        unsigned n = 0;
        Window c = 0;
        if (XQueryTree(dpy, w, &root_ret, &parent_ret, &kids, &n) && n == 1) c = kids[0];
        if (kids) XFree(kids);
        return c;
    }
    template <class F>
    bool eventually(F done) {
        for (int i = 0; i < 300; ++i) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // The editor's thread tells the host just after it stores a value: waits
    // until a request came and no more follow.
    void settled() {
        int seen = -1;
        for (int i = 0; i < 100; ++i) {
            const int now = plugin->flush_requests();
            if (now > flush_seen && now == seen) break;
            seen = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_GT(plugin->flush_requests(), flush_seen);
        flush_seen = plugin->flush_requests();
    }
    int flush_seen = 0;

    // Waits up to three seconds for the editor to show the picture.
    int settle(Window c, const QZ_Picture& expect) {
        int d = -1;
        for (int i = 0; i < 30; ++i) {
            d = gui_test::x11_differences(dpy, c, expect);
            if (d == 0) return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return d;
    }

    bool embed() {
        clap_window_t w{CLAP_WINDOW_API_X11, {nullptr}};
        w.x11 = parent;
        return gui->create(plugin->plugin(), CLAP_WINDOW_API_X11, false) && gui->set_parent(plugin->plugin(), &w) &&
               gui->show(plugin->plugin());
    }

    Display* dpy = nullptr;
    Window parent = 0;
    std::unique_ptr<clap::Module> module;
    std::unique_ptr<clap::Plugin> plugin;
    const clap_plugin_gui_t* gui = nullptr;
};

}  // namespace

TEST_F(ClapEditor, EmbedsInTheParentAndGoesAway) {
    ASSERT_TRUE(embed());
    XSync(dpy, False);
    EXPECT_EQ(children(parent), 1u);
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(dpy, child_of(parent), &a));
    EXPECT_EQ(a.width, 200);
    EXPECT_EQ(a.height, 236);
    EXPECT_EQ(a.map_state, IsViewable);
    // A second create while one exists is refused.
    EXPECT_FALSE(gui->create(plugin->plugin(), CLAP_WINDOW_API_X11, false));
    // Hidden, the window goes; shown again, it comes back in the same parent.
    EXPECT_TRUE(gui->hide(plugin->plugin()));
    XSync(dpy, False);
    EXPECT_EQ(children(parent), 0u);
    EXPECT_TRUE(gui->show(plugin->plugin()));
    XSync(dpy, False);
    EXPECT_EQ(children(parent), 1u);
    gui->destroy(plugin->plugin());
    XSync(dpy, False);
    EXPECT_EQ(children(parent), 0u);
    EXPECT_EQ(plugin->timer_period(), 0u);  // its timer goes with it
    // And again, as hosts do when the user reopens the editor.
    ASSERT_TRUE(embed());
    XSync(dpy, False);
    EXPECT_EQ(children(parent), 1u);
    gui->destroy(plugin->plugin());
    // Destroying the plug-in with its editor open also leaves nothing behind.
    ASSERT_TRUE(embed());
    plugin.reset();
    XSync(dpy, False);
    EXPECT_EQ(children(parent), 0u);
}

TEST_F(ClapEditor, KnobDragReachesTheHostAsARequestAndAnEvent) {
    ASSERT_TRUE(embed());
    XSync(dpy, False);
    const Window c = child_of(parent);
    ASSERT_NE(c, 0u);
    const double before = plugin->param_value(1);
    const int cx = 66 + 32, cy = 126 + 32;
    gui_test::x11_send_button(dpy, c, ButtonPress, cx, cy, 0);
    gui_test::x11_send_motion(dpy, c, cx + 20, cy, Button1Mask);
    gui_test::x11_send_motion(dpy, c, cx + 40, cy, Button1Mask);
    gui_test::x11_send_button(dpy, c, ButtonRelease, cx + 40, cy, Button1Mask);
    XFlush(dpy);
    settled();
    // The next block takes the editor's value into the sound and carries it to
    // the host, once: frame 59 of the knob, as the VST editor test finds it.
    std::vector<float> in(64, 0.0f), l(64), r(64);
    plugin->process(in.data(), l.data(), r.data(), 64);
    const double want = static_cast<float>((20.0 + 59 / 264.0 * 19980.0 - 20.0) / 19980.0);
    EXPECT_NEAR(plugin->param_value(1), want, 1e-6) << before;
    // The whole drag came before the block: its gesture around its last value.
    auto events = plugin->out_events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(events[1].type, CLAP_EVENT_PARAM_VALUE);
    EXPECT_EQ(events[1].value, plugin->param_value(1));
    EXPECT_EQ(events[2].type, CLAP_EVENT_PARAM_GESTURE_END);
    for (const OutEvent& e : events) EXPECT_EQ(e.param_id, 1u);
    plugin->clear_out_events();
    plugin->process(in.data(), l.data(), r.data(), 64);
    EXPECT_TRUE(plugin->out_events().empty());

    // A drag across blocks: the begin with the first values, values while it
    // goes on, the end in the block after the release, once each.
    gui_test::x11_send_button(dpy, c, ButtonPress, cx, cy, 0);
    gui_test::x11_send_motion(dpy, c, cx - 10, cy, Button1Mask);
    XFlush(dpy);
    settled();
    plugin->process(in.data(), l.data(), r.data(), 64);
    gui_test::x11_send_motion(dpy, c, cx - 20, cy, Button1Mask);
    XFlush(dpy);
    settled();
    plugin->process(in.data(), l.data(), r.data(), 64);
    gui_test::x11_send_button(dpy, c, ButtonRelease, cx - 20, cy, Button1Mask);
    XFlush(dpy);
    settled();
    plugin->process(in.data(), l.data(), r.data(), 64);
    plugin->process(in.data(), l.data(), r.data(), 64);
    events = plugin->out_events();
    std::vector<std::uint16_t> types;
    for (const OutEvent& e : events) types.push_back(e.type);
    EXPECT_EQ(types, (std::vector<std::uint16_t>{CLAP_EVENT_PARAM_GESTURE_BEGIN, CLAP_EVENT_PARAM_VALUE,
                                                 CLAP_EVENT_PARAM_VALUE, CLAP_EVENT_PARAM_GESTURE_END}));
    ASSERT_EQ(events.size(), 4u);
    EXPECT_LT(events[2].value, events[1].value);  // dragged left: lower
    EXPECT_EQ(events[2].value, plugin->param_value(1));
    plugin->clear_out_events();

    // The switch, told through flush when the host is not processing.
    plugin->stop();
    gui_test::x11_send_button(dpy, c, ButtonPress, 10 + 11 + 20, 56 + 11 + 12, 0);
    gui_test::x11_send_button(dpy, c, ButtonRelease, 10 + 11 + 20, 56 + 11 + 12, Button1Mask);
    XFlush(dpy);
    settled();
    plugin->flush();
    EXPECT_EQ(plugin->param_value(0), 0.0);
    events = plugin->out_events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(events[1].type, CLAP_EVENT_PARAM_VALUE);
    EXPECT_EQ(events[1].value, 0.0);
    EXPECT_EQ(events[2].type, CLAP_EVENT_PARAM_GESTURE_END);
    for (const OutEvent& e : events) EXPECT_EQ(e.param_id, 0u);
}

TEST_F(ClapEditor, HostChangesAndStateLoadsShowInTheOpenEditor) {
    ASSERT_TRUE(embed());
    XSync(dpy, False);
    const Window c = child_of(parent);
    ASSERT_NE(c, 0u);
    // Automation in a block: the plug-in asks for the main thread, where the
    // editor follows; hosts that never call back tick the editor's timer.
    EXPECT_EQ(plugin->timer_period(), 30u);
    std::vector<float> in(64, 0.0f), l(64), r(64);
    plugin->queue_value(1, 0.75, 10);
    plugin->process(in.data(), l.data(), r.data(), 64);
    EXPECT_GT(plugin->callback_requests(), 0);
    EXPECT_TRUE(plugin->main_thread_callback());
    {
        plugtest::Reference ref(true, 20.0f + 0.75f * 19980.0f);
        EXPECT_EQ(settle(c, ref.win.image), 0);
    }
    plugin->queue_value(1, 0.5, 0);
    plugin->process(in.data(), l.data(), r.data(), 64);
    plugin->tick_timers();
    {
        plugtest::Reference ref(true, 20.0f + 0.5f * 19980.0f);
        EXPECT_EQ(settle(c, ref.win.image), 0);
    }
    // A state loaded while the editor is open shows there too.
    auto other = clap::Plugin::create(*module);
    ASSERT_TRUE(other);
    other->queue_value(0, 0.0);
    other->queue_value(1, 0.25);
    other->flush();
    std::vector<std::uint8_t> state;
    ASSERT_TRUE(other->save_state(&state));
    ASSERT_TRUE(plugin->load_state(state));
    plugtest::Reference off(false, 20.0f + 0.25f * 19980.0f);
    EXPECT_EQ(settle(c, off.win.image), 0);
    EXPECT_TRUE(plugin->out_events().empty());  // the host made these changes: nothing to tell it
}
