// The editor's threads against the host's: the effect linked into this program
// (so the test can hold the editor's paint lock), its editor open on an Xvfb
// display of the test's own, the panel read back from the server.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/error.h"
#include "gui/dlg_file.h"
#include "gui/win.h"
#include "host/vsthost/vsthost.h"
#include "plugin/editor.h"
#include "plugin/main_vst.h"
#include "editor_reference.h"
#include "tests/gui/xvfb.h"

namespace fs = std::filesystem;
using plugtest::Reference;
using zelo::vsthost::Module;
using zelo::vsthost::Plugin;

namespace {

using Clock = std::chrono::steady_clock;

class EditorThreads : public ::testing::Test {
protected:
    void SetUp() override {
        auto& x = gui_test::Xvfb_Server::get();
        if (!x.available()) GTEST_SKIP() << "no Xvfb";
        ASSERT_TRUE(x.running());
        setenv("DISPLAY", x.name().c_str(), 1);
        setenv("ZELO_VST_TRACE", "0", 1);
        for (int i = 0; i < 50 && !dpy; ++i) {
            dpy = XOpenDisplay(x.name().c_str());
            if (!dpy) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_NE(dpy, nullptr);
        parent = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 20, 30, 300, 300, 0, 0, 0);
        XMapWindow(dpy, parent);
        XSync(dpy, False);
        self = Module::self();
        ASSERT_TRUE(self);
        plugin = Plugin::create(*self);
        ASSERT_TRUE(plugin);
        plugin->start(44100.0f, 512);
        vst = dynamic_cast<QZ_Main_Vst*>(static_cast<AudioEffect*>(plugin->effect()->object));
        ASSERT_NE(vst, nullptr);
        ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(parent)), 1);
        Window r, p, *kids = nullptr;
        unsigned n = 0;
        XQueryTree(dpy, parent, &r, &p, &kids, &n);
        if (n == 1) child = kids[0];
        if (kids) XFree(kids);
        ASSERT_NE(child, 0u);
    }
    void TearDown() override {
        QZ_Dlg_File_Base::script(nullptr);
        if (plugin) {
            plugin->dispatch(effEditClose);
            plugin->close();
        }
        plugin.reset();
        if (dpy) {
            XDestroyWindow(dpy, parent);
            XCloseDisplay(dpy);
        }
    }

    QZ_Win* frame() {
        auto* ed = static_cast<QZ_Main_Vst_Editor*>(vst->getEditor());
        return ed ? ed->frame_window() : nullptr;
    }
    // Whether a preset button shows pressed (an action still under way); read
    // under the lock the editor's thread changes it under.
    bool pressed(int slot) {
        QZ_Win* win = frame();
        auto* b = QZ_object_as<QZ_Wid_Butt>(vst->widgets[slot]);
        if (!win || !b) return false;
        std::lock_guard<std::recursive_timed_mutex> lock(win->paint_mutex());
        return b->state;
    }
    // Pixels of the editor's rows [0, rows) differing from the reference.
    int differences(const QZ_Picture& want, int rows) {
        XImage* img = XGetImage(dpy, child, 0, 0, 200, static_cast<unsigned>(rows), AllPlanes, ZPixmap);
        if (!img) return -1;
        int d = 0;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < 200; ++x) {
                const QZ_Pix_A32 q = want.at(x, y);
                d += (XGetPixel(img, x, y) & 0xFFFFFF) != (static_cast<unsigned long>(q.r) << 16 | q.g << 8 | q.b);
            }
        XDestroyImage(img);
        return d;
    }
    // Waits up to three seconds for the rows to match; the last count.
    int settle(const QZ_Picture& want, int rows = 236) {
        int d = -1;
        for (int i = 0; i < 300; ++i) {
            d = differences(want, rows);
            if (d == 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return d;
    }
    // A top-level window of that name once it is shown (0 after three seconds).
    Window wait_for_window(const char* wanted) {
        for (int i = 0; i < 300; ++i) {
            Window r, p, *kids = nullptr, found = 0;
            unsigned n = 0;
            XQueryTree(dpy, DefaultRootWindow(dpy), &r, &p, &kids, &n);
            for (unsigned k = 0; k < n && !found; ++k) {
                char* name = nullptr;
                XWindowAttributes a;
                if (XFetchName(dpy, kids[k], &name) && name && std::string(name) == wanted &&
                    XGetWindowAttributes(dpy, kids[k], &a) && a.map_state == IsViewable)
                    found = kids[k];
                if (name) XFree(name);
            }
            if (kids) XFree(kids);
            if (found) return found;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return 0;
    }
    void click(int x, int y) {
        for (int type : {ButtonPress, ButtonRelease}) {
            XEvent e{};
            e.xbutton.type = type;
            e.xbutton.window = child;
            e.xbutton.x = x;
            e.xbutton.y = y;
            e.xbutton.button = Button1;
            e.xbutton.same_screen = True;
            XSendEvent(dpy, child, False, 0, &e);
        }
        XFlush(dpy);
    }
    void key(Window w, KeySym sym) {
        XEvent k{};
        k.xkey.type = KeyPress;
        k.xkey.window = w;
        k.xkey.keycode = XKeysymToKeycode(dpy, sym);
        k.xkey.same_screen = True;
        XSendEvent(dpy, w, False, KeyPressMask, &k);
        XFlush(dpy);
    }
    // Moves a dialog off the editor (it shows above it at first).
    void move_away(Window w) {
        XMoveWindow(dpy, w, 500, 400);
        XSync(dpy, False);
    }
    // Covers the editor with a window of another colour, then uncovers it: what
    // shows afterwards is what the editor repainted.
    void cover_and_uncover() {
        const Window cover = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 400, 400, 0, 0, 0xFF00FF);
        XSetWindowAttributes a;
        a.override_redirect = True;
        XChangeWindowAttributes(dpy, cover, CWOverrideRedirect, &a);
        XMapRaised(dpy, cover);
        XSync(dpy, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        XDestroyWindow(dpy, cover);
        XSync(dpy, False);
    }

    Display* dpy = nullptr;
    Window parent = 0, child = 0;
    std::unique_ptr<Module> self;
    std::unique_ptr<Plugin> plugin;
    QZ_Main_Vst* vst = nullptr;
};

}  // namespace

// A host automating from its audio thread while the editor is open: the call
// stores the value and returns, even while the editor's thread is in the middle
// of a long paint; the panel shows the value once that paint is over.
TEST_F(EditorThreads, AHostThreadSettingParametersNeverWaitsForPainting) {
    {
        Reference start(true, 1500.0f);
        ASSERT_EQ(settle(start.win.image), 0);
    }
    QZ_Win* win = frame();
    ASSERT_NE(win, nullptr);
    std::atomic<bool> held{false}, release{false};
    std::thread painter([&] {
        std::lock_guard<std::recursive_timed_mutex> lock(win->paint_mutex());
        held = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (!held) std::this_thread::yield();
    Clock::duration longest{};
    std::thread host([&] {
        for (int i = 0; i < 50; ++i) {
            const auto t0 = Clock::now();
            plugin->set_parameter(1, 0.5f + 0.005f * static_cast<float>(i % 2));
            plugin->set_parameter(0, i % 2 ? 1.0f : 0.0f);
            longest = std::max(longest, Clock::now() - t0);
        }
        plugin->set_parameter(1, 0.75f);
        plugin->set_parameter(0, 0.0f);
    });
    // The host's calls must be over long before the paint ends.
    bool done = false;
    for (int i = 0; i < 100 && !done; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        done = plugin->get_parameter(0) == 0.0f && plugin->get_parameter(1) == 0.75f;
    }
    release = true;
    painter.join();
    host.join();
    EXPECT_TRUE(done) << "the host's thread waited for the paint";
    const double longest_ms = std::chrono::duration<double, std::milli>(longest).count();
    EXPECT_LT(longest_ms, 500.0);
    // The engine took the value on the host's thread; the panel follows.
    EXPECT_EQ(plugin->parameter_display(1).text,
              std::to_string(std::lround(Reference::cutoff_exact(20.0f + 0.75f * 19980.0f))));
    Reference after(false, 20.0f + 0.75f * 19980.0f);
    EXPECT_EQ(settle(after.win.image), 0);
}

// A box up on the editor's own thread (a preset that fails to load): the
// editor still repaints what gets uncovered, and shows a host's parameter
// change meanwhile.
TEST_F(EditorThreads, ThePanelRepaintsWhileABoxIsUp) {
    const fs::path bad = fs::temp_directory_path() / ("zelo-box-" + std::to_string(::getpid()) + ".zelo");
    std::ofstream(bad, std::ios::binary) << "not a preset file at all........";
    QZ_Dlg_File_Script script;
    script.choose = [&](QZ_Dlg_Kind, const std::string&, const std::string& notice) -> std::optional<std::string> {
        if (!notice.empty()) return std::nullopt;
        return bad.string();
    };
    QZ_Dlg_File_Base::script(&script);
    testing::internal::CaptureStderr();
    {
        Reference start(true, 1500.0f);
        ASSERT_EQ(settle(start.win.image), 0);
    }
    click(24 + 20, 184 + 12);  // LOAD
    const Window box = wait_for_window("Error");
    ASSERT_NE(box, 0u);
    // The rows above the preset buttons (LOAD shows pressed and lit meanwhile).
    constexpr int kRows = 184;
    move_away(box);
    cover_and_uncover();
    {
        Reference same(true, 1500.0f);
        EXPECT_EQ(settle(same.win.image, kRows), 0) << "the uncovered panel stayed unpainted";
    }
    plugin->set_parameter(1, 0.75f);
    {
        Reference moved(true, 20.0f + 0.75f * 19980.0f);
        EXPECT_EQ(settle(moved.win.image, kRows), 0) << "a host's change did not show";
    }
    key(box, XK_Return);
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {
        gone = !pressed(QZ_Application::W_LOAD_BUTTON);
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
    testing::internal::GetCapturedStderr();
    fs::remove(bad);
    // The editor takes the pointer again.
    cover_and_uncover();
    Reference after(true, 20.0f + 0.75f * 19980.0f);
    EXPECT_EQ(settle(after.win.image, kRows), 0);
}

// The same with the toolkit's own file dialog up on the editor's thread.
TEST_F(EditorThreads, ThePanelRepaintsWhileTheFileDialogIsUp) {
    auto* dlg = dynamic_cast<QZ_Dlg_File_X11*>(vst->dialog.get());
    ASSERT_NE(dlg, nullptr);
    dlg->use(QZ_Dlg_File_X11::Helper::own);
    {
        Reference start(true, 1500.0f);
        ASSERT_EQ(settle(start.win.image), 0);
    }
    click(136 + 20, 184 + 12);  // SAVE
    const Window shown = wait_for_window("File preset");
    ASSERT_NE(shown, 0u);
    move_away(shown);
    cover_and_uncover();
    Reference same(true, 1500.0f);
    EXPECT_EQ(settle(same.win.image, 184), 0) << "the uncovered panel stayed unpainted";
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {
        if (Window w = wait_for_window("File preset")) key(w, XK_Escape);
        gone = !pressed(QZ_Application::W_SAVE_BUTTON);
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
}
