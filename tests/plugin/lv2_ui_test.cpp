// The LV2 UI as a host drives it, on an Xvfb display of the test's own: the
// editor embedded in the host's window, the knob, the switch and the LOAD
// button written to the ports in hertz and on/off at the host's idle calls,
// and port values from the host taken without being written back. The last test has the editor's event thread
// turn the knob while the host's thread sends port values and idles (run
// under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <dlfcn.h>
#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/lv2_ports.h"
#include "tests/gui/x11_readback.h"
#include "tests/gui/xvfb.h"

using gui_test::Xvfb_Server;

namespace {

struct Write {
    std::uint32_t port;
    float value;
};

// What the UI told its host, in order.
struct Host_Record {
    std::mutex m;
    std::vector<Write> writes;
    std::vector<std::pair<std::uint32_t, bool>> touches;
    std::vector<std::string> told;  // writes and touches in the order they came
    int width = 0, height = 0;
    std::thread::id ui_thread;
    bool off_thread = false;

    std::vector<Write> take_writes() {
        std::lock_guard<std::mutex> l(m);
        auto w = writes;
        writes.clear();
        return w;
    }
};

void write_function(LV2UI_Controller c, std::uint32_t port, std::uint32_t size, std::uint32_t format,
                    const void* buffer) {
    auto* r = static_cast<Host_Record*>(c);
    std::lock_guard<std::mutex> l(r->m);
    if (std::this_thread::get_id() != r->ui_thread) r->off_thread = true;
    if (format == 0 && size == sizeof(float)) r->writes.push_back({port, *static_cast<const float*>(buffer)});
    r->told.push_back("write " + std::to_string(port));
}
int ui_resize(LV2UI_Feature_Handle h, int w, int hh) {
    auto* r = static_cast<Host_Record*>(h);
    r->width = w;
    r->height = hh;
    return 0;
}
void ui_touch(LV2UI_Feature_Handle h, std::uint32_t port, bool grabbed) {
    auto* r = static_cast<Host_Record*>(h);
    std::lock_guard<std::mutex> l(r->m);
    if (std::this_thread::get_id() != r->ui_thread) r->off_thread = true;
    r->touches.emplace_back(port, grabbed);
    r->told.push_back(std::string(grabbed ? "touch " : "release ") + std::to_string(port));
}

const LV2UI_Descriptor* ui_descriptor() {
    static void* so = dlopen(ZELO_LV2_BUNDLE "/zelo_lv2_ui.so", RTLD_NOW | RTLD_LOCAL);
    if (!so) {
        ADD_FAILURE() << dlerror();
        return nullptr;
    }
    auto entry = reinterpret_cast<const LV2UI_Descriptor* (*)(std::uint32_t)>(dlsym(so, "lv2ui_descriptor"));
    return entry ? entry(0) : nullptr;
}

class Lv2Ui : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Xvfb_Server::available()) GTEST_SKIP() << "no Xvfb binary";
        ASSERT_TRUE(Xvfb_Server::get().running()) << "Xvfb did not start";
        setenv("DISPLAY", Xvfb_Server::get().name().c_str(), 1);
        setenv("ZELO_VST_TRACE", "0", 1);
        for (int i = 0; i < 50 && !dpy; ++i) {
            dpy = XOpenDisplay(Xvfb_Server::get().name().c_str());
            if (!dpy) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_NE(dpy, nullptr);
        parent = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 10, 10, 320, 320, 0, 0, 0x204060);
        XMapWindow(dpy, parent);
        XSync(dpy, False);
        d = ui_descriptor();
        ASSERT_TRUE(d);
        record.ui_thread = std::this_thread::get_id();
    }
    void TearDown() override {
        if (ui) d->cleanup(ui);
        if (dpy) XCloseDisplay(dpy);
        unsetenv("DISPLAY");
    }

    LV2UI_Handle instantiate(const char* uri = ZELO_LV2_URI, bool with_parent = true) {
        parent_feature = {LV2_UI__parent, reinterpret_cast<void*>(parent)};
        resize = {&record, &ui_resize};
        resize_feature = {LV2_UI__resize, &resize};
        touch = {&record, &ui_touch};
        touch_feature = {LV2_UI__touch, &touch};
        const LV2_Feature* features[] = {with_parent ? &parent_feature : &resize_feature, &resize_feature,
                                         &touch_feature, nullptr};
        return d->instantiate(d, uri, ZELO_LV2_BUNDLE, &write_function, &record, &widget, features);
    }
    int idle() {
        auto* i = static_cast<const LV2UI_Idle_Interface*>(d->extension_data(LV2_UI__idleInterface));
        return i ? i->idle(ui) : -1;
    }
    void port_event(std::uint32_t port, float v) { d->port_event(ui, port, sizeof v, 0, &v); }

    // Idles as a host does (every 10 ms) until `done` holds or 3 s pass.
    bool idle_until(const std::function<bool()>& done) {
        for (int i = 0; i < 300; ++i) {
            idle();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    Window child() {
        Window root_ret, parent_ret, *kids = nullptr;
        unsigned n = 0;
        Window c = 0;
        if (XQueryTree(dpy, parent, &root_ret, &parent_ret, &kids, &n) && n == 1) c = kids[0];
        if (kids) XFree(kids);
        return c;
    }
    void click(Window w, int x, int y) {
        gui_test::x11_send_button(dpy, w, ButtonPress, x, y, 0);
        gui_test::x11_send_button(dpy, w, ButtonRelease, x, y, Button1Mask);
        XFlush(dpy);
    }
    void drag_knob(Window w, int dx) {
        const int cx = 66 + 32, cy = 126 + 32;  // the knob's centre
        gui_test::x11_send_button(dpy, w, ButtonPress, cx, cy, 0);
        for (int k = 1; k <= 4; ++k) gui_test::x11_send_motion(dpy, w, cx + dx * k / 4, cy, Button1Mask);
        gui_test::x11_send_button(dpy, w, ButtonRelease, cx + dx, cy, Button1Mask);
        XFlush(dpy);
    }

    Display* dpy = nullptr;
    Window parent = 0;
    const LV2UI_Descriptor* d = nullptr;
    LV2UI_Handle ui = nullptr;
    LV2UI_Widget widget = nullptr;
    Host_Record record;
    LV2_Feature parent_feature{}, resize_feature{}, touch_feature{};
    LV2UI_Resize resize{};
    LV2UI_Touch touch{};
};

}  // namespace

TEST_F(Lv2Ui, RefusesAnotherPluginAndAHostWithoutAParentWindow) {
    EXPECT_EQ(instantiate("https://zelo.audio/plugins/other"), nullptr);
    EXPECT_EQ(instantiate(ZELO_LV2_URI, false), nullptr);
    EXPECT_EQ(child(), 0u);
}

TEST_F(Lv2Ui, EmbedsTheEditorInTheHostsWindowAtItsSize) {
    ui = instantiate();
    ASSERT_TRUE(ui);
    EXPECT_EQ(record.width, 200);
    EXPECT_EQ(record.height, 236);
    const Window c = child();
    ASSERT_NE(c, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(widget), c);
    XWindowAttributes a{};
    XGetWindowAttributes(dpy, c, &a);
    EXPECT_EQ(a.width, 200);
    EXPECT_EQ(a.height, 236);
    EXPECT_EQ(idle(), 0);
    EXPECT_TRUE(record.take_writes().empty()) << "nothing changed, nothing written";
    d->cleanup(ui);
    ui = nullptr;
    XSync(dpy, False);
    EXPECT_EQ(child(), 0u);
}

TEST_F(Lv2Ui, KnobAndSwitchAreWrittenInHertzAndOnOffAtIdle) {
    ui = instantiate();
    ASSERT_TRUE(ui);
    const Window c = child();
    ASSERT_NE(c, 0u);
    // The host's value first: the editor takes it and writes nothing back.
    port_event(QZ_LV2_FREQUENCY, 5015.0f);
    port_event(QZ_LV2_STATE, 1.0f);
    idle();
    EXPECT_TRUE(record.take_writes().empty());

    drag_knob(c, 40);
    std::vector<Write> got;
    ASSERT_TRUE(idle_until([&] {
        for (const Write& w : record.take_writes()) got.push_back(w);
        return !got.empty() && got.back().value > 5015.0f;
    }));
    for (const Write& w : got) {
        EXPECT_EQ(w.port, QZ_LV2_FREQUENCY);
        EXPECT_GT(w.value, 5015.0f) << "dragged right from 5015 Hz";
        EXPECT_LE(w.value, 20000.0f);
    }
    {
        std::lock_guard<std::mutex> l(record.m);
        EXPECT_FALSE(record.off_thread) << "the host was called from the editor's thread";
    }

    // The switch: off, then on again.
    for (float want : {0.0f, 1.0f}) {
        click(c, 21 + 20, 67 + 12);
        std::vector<Write> w;
        ASSERT_TRUE(idle_until([&] {
            for (const Write& x : record.take_writes()) w.push_back(x);
            return !w.empty();
        }));
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(w[0].port, QZ_LV2_STATE);
        EXPECT_EQ(w[0].value, want);
    }
}

// With the host's touch feature, a knob drag and a switch click each come as
// a touch, the values written, and a release, on the host's UI thread.
TEST_F(Lv2Ui, DragsAndClicksAreTouchedAroundTheirWrites) {
    ui = instantiate();
    ASSERT_TRUE(ui);
    const Window c = child();
    ASSERT_NE(c, 0u);
    const auto told = [&] {
        std::lock_guard<std::mutex> l(record.m);
        return record.told;
    };
    const auto clear = [&] {
        std::lock_guard<std::mutex> l(record.m);
        record.told.clear();
    };
    const std::string f = std::to_string(QZ_LV2_FREQUENCY), st = std::to_string(QZ_LV2_STATE);
    drag_knob(c, -40);
    ASSERT_TRUE(idle_until([&] {
        const auto t = told();
        return !t.empty() && t.back() == "release " + f;
    })) << ::testing::PrintToString(told());
    std::vector<std::string> t = told();
    ASSERT_GE(t.size(), 3u);
    EXPECT_EQ(t.front(), "touch " + f);
    for (std::size_t k = 1; k + 1 < t.size(); ++k) EXPECT_EQ(t[k], "write " + f) << k;
    {
        std::lock_guard<std::mutex> l(record.m);
        EXPECT_FALSE(record.off_thread) << "the host was called from the editor's thread";
    }

    clear();
    click(c, 21 + 20, 67 + 12);
    ASSERT_TRUE(idle_until([&] {
        const auto x = told();
        return !x.empty() && x.back() == "release " + st;
    })) << ::testing::PrintToString(told());
    EXPECT_EQ(told(), (std::vector<std::string>{"touch " + st, "write " + st, "release " + st}));
    // Nothing more at later idles.
    clear();
    for (int i = 0; i < 5; ++i) idle();
    EXPECT_TRUE(told().empty()) << ::testing::PrintToString(told());
}

TEST_F(Lv2Ui, LoadButtonWritesThePresetsValues) {
    // A preset file of the effect: State off, Frequency knob 10010 (5015 Hz).
    char dir_template[] = "/tmp/zelo-lv2-ui-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir_template));
    const std::string dir = dir_template;
    const std::string preset = dir + "/p.zelo";
    {
        std::ofstream f(preset, std::ios::binary);
        const char header[] = "zelo.audio 1-st order low-pass";
        f.write(header, sizeof header);
        const unsigned char values[8] = {0, 0, 0, 0, 0x00, 0x68, 0x1C, 0x46};  // 0, 10010.0f
        f.write(reinterpret_cast<const char*>(values), sizeof values);
    }
    // The file dialog's helper program, answering with that file.
    const std::string zenity = dir + "/zenity";
    {
        std::ofstream z(zenity);
        z << "#!/bin/sh\necho '" << preset << "'\n";
    }
    chmod(zenity.c_str(), 0755);
    const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (dir + ":" + old_path).c_str(), 1);

    ui = instantiate();
    ASSERT_TRUE(ui);
    const Window c = child();
    ASSERT_NE(c, 0u);
    click(c, 10 + 14 + 20, 56 + 128 + 12);  // LOAD
    std::vector<Write> got;
    const bool done = idle_until([&] {
        for (const Write& w : record.take_writes()) got.push_back(w);
        return got.size() >= 2;
    });
    setenv("PATH", old_path.c_str(), 1);
    std::remove(zenity.c_str());
    std::remove(preset.c_str());
    rmdir(dir.c_str());
    ASSERT_TRUE(done) << got.size() << " write(s)";
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].port, QZ_LV2_STATE);
    EXPECT_EQ(got[0].value, 0.0f);
    EXPECT_EQ(got[1].port, QZ_LV2_FREQUENCY);
    EXPECT_EQ(got[1].value, 5015.0f);
}

TEST_F(Lv2Ui, ThreadsHostPortEventsWhileTheEditorsThreadTurnsTheKnob) {
    ui = instantiate();
    ASSERT_TRUE(ui);
    const Window c = child();
    ASSERT_NE(c, 0u);
    // A second connection sends drags for the editor's thread to handle while
    // this thread, the host's, sends port values and idles.
    std::atomic<bool> stop{false};
    std::thread pointer([&] {
        Display* other = XOpenDisplay(Xvfb_Server::get().name().c_str());
        if (!other) return;
        int k = 0;
        while (!stop.load()) {
            const int cx = 66 + 32, cy = 126 + 32, dx = (k++ % 2) ? 30 : -30;
            gui_test::x11_send_button(other, c, ButtonPress, cx, cy, 0);
            gui_test::x11_send_motion(other, c, cx + dx, cy, Button1Mask);
            gui_test::x11_send_button(other, c, ButtonRelease, cx + dx, cy, Button1Mask);
            XFlush(other);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        XCloseDisplay(other);
    });
    std::vector<Write> got;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    int k = 0;
    while (std::chrono::steady_clock::now() < until) {
        port_event(QZ_LV2_FREQUENCY, 20.0f + static_cast<float>(k % 200) * 99.0f);
        port_event(QZ_LV2_STATE, 1.0f);
        idle();
        for (const Write& w : record.take_writes()) got.push_back(w);
        ++k;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    pointer.join();
    for (int i = 0; i < 30; ++i) {  // a few more idles: the last drags
        idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (const Write& w : record.take_writes()) got.push_back(w);
    EXPECT_FALSE(got.empty()) << "the drags reached the host";
    for (const Write& w : got) {
        ASSERT_EQ(w.port, QZ_LV2_FREQUENCY);
        ASSERT_GE(w.value, 20.0f);
        ASSERT_LE(w.value, 20000.0f);
    }
    std::lock_guard<std::mutex> l(record.m);
    EXPECT_FALSE(record.off_thread);
}
