// The editor as a host drives it: zelo.so through the test host, a parent
// window on an Xvfb display of the test's own, the panel read back from the
// server and compared with what the toolkit composes for the same state.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "core/command.h"
#include "gui/controls.h"
#include "gui/win.h"
#include "editor_reference.h"
#include "plugin_env.h"
#include "tests/gui/panel.h"
#include "tests/gui/x11_readback.h"
#include "tests/gui/xvfb.h"

using namespace plugtest;
using gui_test::Panel;
using gui_test::Xvfb_Server;

namespace {

const ::testing::Environment* const quiet = ::testing::AddGlobalTestEnvironment(new QuietTrace);

class Editor : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Xvfb_Server::available()) GTEST_SKIP() << "no Xvfb binary";
        ASSERT_TRUE(Xvfb_Server::get().running()) << "Xvfb did not start";
        ASSERT_TRUE(Panel::artwork_present());
        setenv("DISPLAY", Xvfb_Server::get().name().c_str(), 1);
        for (int i = 0; i < 50 && !dpy; ++i) {
            dpy = XOpenDisplay(Xvfb_Server::get().name().c_str());
            if (!dpy) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_NE(dpy, nullptr);
        parent = new_parent();
        plugin = started();
        ASSERT_TRUE(plugin);
    }
    void TearDown() override {
        if (plugin && !plugin->closed()) plugin->close();
        plugin.reset();
        if (dpy) XCloseDisplay(dpy);
        unsetenv("DISPLAY");
    }

    Window new_parent() {
        const Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 37, 41, 300, 300, 0, 0, 0x204060);
        XMapWindow(dpy, w);
        XSync(dpy, False);
        return w;
    }
    bool open(Window w) { return plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(w)) == 1; }

    Window child_of(Window w) {
        Window root_ret, parent_ret, *kids = nullptr;
        unsigned n = 0;
        Window c = 0;
        if (XQueryTree(dpy, w, &root_ret, &parent_ret, &kids, &n) && n == 1) c = kids[0];
        if (kids) XFree(kids);
        return c;
    }
    unsigned children(Window w) {
        Window root_ret, parent_ret, *kids = nullptr;
        unsigned n = 0;
        XQueryTree(dpy, w, &root_ret, &parent_ret, &kids, &n);
        if (kids) XFree(kids);
        return n;
    }

    // Pixels of the editor that differ from the reference (colour only).
    int differences(Window w, const QZ_Picture& expect) { return gui_test::x11_differences(dpy, w, expect); }
    // Waits up to three seconds for the editor to show the reference, calling
    // effEditIdle only ten times a second as a slow host does.
    int settle(const QZ_Picture& expect) {
        int d = -1;
        for (int i = 0; i < 30; ++i) {
            plugin->dispatch(effEditIdle);
            const Window c = child_of(parent);
            d = c ? differences(c, expect) : -1;
            if (d == 0) return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return d;
    }
    // Waits for a condition the module's own thread brings about.
    template <class F>
    bool eventually(F done) {
        for (int i = 0; i < 300; ++i) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    void send_button(Window w, int type, int x, int y, unsigned state) {
        gui_test::x11_send_button(dpy, w, type, x, y, state);
    }
    void send_motion(Window w, int x, int y, unsigned state) { gui_test::x11_send_motion(dpy, w, x, y, state); }

    Display* dpy = nullptr;
    Window parent = 0;
    std::unique_ptr<Plugin> plugin;
};

}  // namespace

TEST_F(Editor, RectAndFlagsAreThereBeforeAnyOpen) {
    EXPECT_EQ(plugin->effect()->flags, effFlagsHasEditor | effFlagsCanReplacing);
    ERect* r = nullptr;
    ASSERT_EQ(plugin->dispatch(effEditGetRect, 0, 0, &r), 1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->top, 0);
    EXPECT_EQ(r->left, 0);
    EXPECT_EQ(r->bottom, 236);
    EXPECT_EQ(r->right, 200);
}

TEST_F(Editor, OpenSizesTheParentInPlaceAndPaintsThePanel) {
    Reference ref(true, 1500.0f);  // the value text reads "130 Hz", not "value"
    ASSERT_TRUE(open(parent));
    XSync(dpy, False);
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(dpy, parent, &a));
    EXPECT_EQ(a.width, 200);
    EXPECT_EQ(a.height, 236);
    EXPECT_EQ(a.x, 37);
    EXPECT_EQ(a.y, 41);
    EXPECT_EQ(children(parent), 1u);
    EXPECT_EQ(settle(ref.win.image), 0);
    // The host's display agrees with the panel: the cutoff in whole hertz.
    EXPECT_EQ(plugin->parameter_display(1).text, "130");
    EXPECT_EQ(plugin->parameter_label(1).text, "Hz");
    plugin->dispatch(effEditClose);
    XSync(dpy, False);
    EXPECT_EQ(children(parent), 0u);
}

TEST_F(Editor, StateOffGreysTheCutoffPartOnly) {
    ASSERT_TRUE(open(parent));
    plugin->set_parameter(0, 0.0f);
    Reference off(false, 1500.0f);
    EXPECT_EQ(settle(off.win.image), 0);
    plugin->set_parameter(0, 1.0f);
    Reference on(true, 1500.0f);
    EXPECT_EQ(settle(on.win.image), 0);
}

TEST_F(Editor, DraggingTheKnobMovesParameterFilterAndPanel) {
    ASSERT_TRUE(open(parent));
    {
        Reference start(true, 1500.0f);
        ASSERT_EQ(settle(start.win.image), 0);  // knob at frame 19
    }
    const Window c = child_of(parent);
    ASSERT_NE(c, 0u);
    const int cx = 66 + 32, cy = 126 + 32;
    send_button(c, ButtonPress, cx, cy, 0);
    send_motion(c, cx + 20, cy, Button1Mask);
    send_motion(c, cx + 40, cy, Button1Mask);
    send_button(c, ButtonRelease, cx + 40, cy, Button1Mask);
    XFlush(dpy);
    // Frame 59's value, and the knob settles on frame 59 (not 58).
    const float want = knob_value_of_frame(59);
    EXPECT_TRUE(eventually([&] { return std::fabs(plugin->get_parameter(1) - (want - 20.0f) / 19980.0f) < 1e-6f; }))
        << plugin->get_parameter(1);
    // The host hears of the change (from the editor's thread, just after the
    // value is stored), last with the value it now reads back.
    const auto last_told = [&] {
        float last = -1.0f;
        for (const auto& c : plugin->calls())
            if (c.opcode == audioMasterAutomate && c.index == 1) last = c.opt;
        return last;
    };
    EXPECT_TRUE(eventually([&] { return last_told() == plugin->get_parameter(1); })) << last_told();
    Reference moved(true, want, 59);
    // The pointer still rests on the knob, which is drawn highlighted: leave first.
    XEvent e{};
    e.xcrossing.type = LeaveNotify;
    e.xcrossing.display = dpy;
    e.xcrossing.window = c;
    XSendEvent(dpy, c, False, 0, &e);
    XFlush(dpy);
    EXPECT_EQ(settle(moved.win.image), 0);

    // The filter runs at the cutoff of the new knob value.
    LowpassModel model;
    model.set(cutoff_of_knob(want), 44100);
    plugin->dispatch(effOpen);  // a clean filter state for the comparison
    std::vector<float> in(2000), l, r;
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = (i / 50) % 2 ? 0.5f : -0.5f;
    plugin->render(in, l, r, 512);
    const std::vector<float> expect = model.run(in);
    EXPECT_EQ(l, expect);
}

// What the host hears of the user's hands: a knob drag and a switch click are
// each one gesture, begun before their changes and ended after them.
TEST_F(Editor, KnobDragAndSwitchClickAreGesturesAroundTheirChanges) {
    ASSERT_TRUE(open(parent));
    const Window c = child_of(parent);
    ASSERT_NE(c, 0u);
    // The host's own parameter changes are no gestures of the user's.
    plugin->set_parameter(1, 0.3f);
    plugin->set_parameter(0, 1.0f);
    plugin->clear_calls();
    const auto heard = [&] {
        std::vector<std::string> got;
        for (const auto& h : plugin->calls()) {
            const char* what = h.opcode == audioMasterBeginEdit  ? "begin"
                               : h.opcode == audioMasterEndEdit  ? "end"
                               : h.opcode == audioMasterAutomate ? "value"
                                                                 : nullptr;
            if (what) got.push_back(std::string(what) + " " + std::to_string(h.index));
        }
        return got;
    };
    const auto ended = [&](int index) {
        const auto got = heard();
        return !got.empty() && got.back() == "end " + std::to_string(index);
    };
    const int cx = 66 + 32, cy = 126 + 32;
    send_button(c, ButtonPress, cx, cy, 0);
    XFlush(dpy);
    // Taking hold of the knob begins the gesture before any change.
    EXPECT_TRUE(eventually([&] { return !heard().empty(); }));
    EXPECT_EQ(heard(), std::vector<std::string>{"begin 1"});
    send_motion(c, cx + 10, cy, Button1Mask);
    send_motion(c, cx + 20, cy, Button1Mask);
    send_motion(c, cx + 30, cy, Button1Mask);
    send_button(c, ButtonRelease, cx + 30, cy, Button1Mask);
    XFlush(dpy);
    ASSERT_TRUE(eventually([&] { return ended(1); })) << ::testing::PrintToString(heard());
    std::vector<std::string> got = heard();
    // Moves that arrive together may be taken as one: at least one value.
    ASSERT_GE(got.size(), 3u) << ::testing::PrintToString(got);
    EXPECT_EQ(got.front(), "begin 1");
    for (std::size_t k = 1; k + 1 < got.size(); ++k) EXPECT_EQ(got[k], "value 1") << k;
    EXPECT_LE(got.size(), 5u) << ::testing::PrintToString(got);

    // The editor closed while the knob is held: the host still hears the end.
    plugin->clear_calls();
    send_motion(c, cx, cy, 0);  // the pointer comes back to the knob
    send_button(c, ButtonPress, cx, cy, 0);
    send_motion(c, cx + 5, cy, Button1Mask);
    XFlush(dpy);
    ASSERT_TRUE(eventually([&] { return heard().size() >= 2; })) << ::testing::PrintToString(heard());
    plugin->dispatch(effEditClose);
    got = heard();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front(), "begin 1");
    EXPECT_EQ(got.back(), "end 1");
    EXPECT_EQ(std::count(got.begin(), got.end(), "end 1"), 1);

    // A click on the switch: begin, its value, end.
    ASSERT_TRUE(open(parent));
    const Window c2 = child_of(parent);
    ASSERT_NE(c2, 0u);
    plugin->clear_calls();
    send_motion(c2, 10 + 11 + 20, 56 + 11 + 12, 0);
    send_button(c2, ButtonPress, 10 + 11 + 20, 56 + 11 + 12, 0);
    send_button(c2, ButtonRelease, 10 + 11 + 20, 56 + 11 + 12, Button1Mask);
    XFlush(dpy);
    ASSERT_TRUE(eventually([&] { return ended(0); })) << ::testing::PrintToString(heard());
    EXPECT_EQ(heard(), (std::vector<std::string>{"begin 0", "value 0", "end 0"}));
    EXPECT_EQ(plugin->get_parameter(0), 0.0f);
}

TEST_F(Editor, HostParameterChangesRepaintTheOpenPanel) {
    ASSERT_TRUE(open(parent));
    plugin->set_parameter(1, 0.75f);
    Reference ref(true, 20.0f + 0.75f * 19980.0f);
    EXPECT_EQ(settle(ref.win.image), 0);
    EXPECT_EQ(plugin->parameter_display(1).text, std::to_string(static_cast<int>(std::lround(
                                                      Reference::cutoff_exact(20.0f + 0.75f * 19980.0f)))));
    // Closed, the widgets keep taking values; the next open shows them.
    plugin->dispatch(effEditClose);
    plugin->set_parameter(1, 0.25f);
    ASSERT_TRUE(open(parent));
    Reference later(true, 20.0f + 0.25f * 19980.0f);
    EXPECT_EQ(settle(later.win.image), 0);
}

TEST_F(Editor, OpenTwiceMovesOrKeepsTheOneWindow) {
    ASSERT_TRUE(open(parent));
    ASSERT_TRUE(open(parent));  // no close in between
    XSync(dpy, False);
    EXPECT_EQ(children(parent), 1u);
    const Window other = new_parent();
    ASSERT_TRUE(open(other));
    XSync(dpy, False);
    EXPECT_EQ(children(parent), 0u);
    EXPECT_EQ(children(other), 1u);
    Reference ref(true, 1500.0f);
    parent = other;
    EXPECT_EQ(settle(ref.win.image), 0);
}

TEST_F(Editor, AHostThatDestroysItsWindowFirstCanOpenAgain) {
    ASSERT_TRUE(open(parent));
    XDestroyWindow(dpy, parent);
    XSync(dpy, False);
    plugin->set_parameter(1, 0.6f);  // repaints into a window that is gone
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    plugin->dispatch(effEditClose);
    parent = new_parent();
    ASSERT_TRUE(open(parent));
    Reference ref(true, 20.0f + 0.6f * 19980.0f);
    EXPECT_EQ(settle(ref.win.image), 0);
}

TEST_F(Editor, ABadParentIsRefused) {
    EXPECT_EQ(plugin->dispatch(effEditOpen, 0, 0, nullptr), 0);
    EXPECT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(0x7FFFFF0)), 0);
    ASSERT_TRUE(open(parent));
}

// Opening and closing while an audio thread processes and a host thread sets
// both parameters; also run under ThreadSanitizer.
TEST_F(Editor, OpenCloseWithAudioAndParameterThreads) {
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> in(256, 0.25f), l(256), r(256);
        while (!stop.load()) plugin->process(in.data(), l.data(), r.data(), 256);
    });
    std::thread params([&] {
        float x = 0.0f;
        while (!stop.load()) {
            plugin->set_parameter(1, x);
            plugin->set_parameter(0, x < 0.5f ? 1.0f : 0.0f);
            x = x > 0.99f ? 0.0f : x + 0.013f;
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(open(parent)) << i;
        if (i % 5 == 0) {
            const Window c = child_of(parent);
            send_button(c, ButtonPress, 98, 158, 0);
            send_motion(c, 98 + i, 158, Button1Mask);
            send_button(c, ButtonRelease, 98 + i, 158, Button1Mask);
            XFlush(dpy);
        }
        plugin->dispatch(effEditIdle);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        plugin->dispatch(effEditClose);
    }
    // Closing the effect with its editor open.
    ASSERT_TRUE(open(parent));
    stop = true;
    audio.join();
    params.join();
    EXPECT_EQ(plugin->close(), 1);
}
