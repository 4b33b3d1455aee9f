#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "gui/controls.h"
#include "gui/win_x11.h"
#include "tests/gui/panel.h"
#include "tests/gui/x11_readback.h"
#include "tests/gui/xvfb.h"

using namespace gui_test;

namespace {

class X11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Xvfb_Server::available()) GTEST_SKIP() << "no Xvfb binary";
        ASSERT_TRUE(Xvfb_Server::get().running()) << "Xvfb did not start";
        // The server is started with -noreset, but allow it a moment all the same.
        for (int i = 0; i < 50 && !dpy; ++i) {
            dpy = XOpenDisplay(Xvfb_Server::get().name().c_str());
            if (!dpy) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_NE(dpy, nullptr);
        parent = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 300, 300, 0, 0, 0x204060);
        XMapWindow(dpy, parent);
        XSync(dpy, False);
    }
    void TearDown() override {
        if (dpy) {
            XDestroyWindow(dpy, parent);
            XCloseDisplay(dpy);
        }
    }

    // Pumps the window's events until `done` holds or two seconds pass.
    template <class F>
    bool pump(QZ_Win_X11& win, F done) {
        for (int i = 0; i < 200; ++i) {
            win.idle();
            XSync(dpy, False);
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Pixels of the child differing from an image window's render (colour only).
    int differences(Window w, const QZ_Picture& expect) { return x11_differences(dpy, w, expect); }

    void send_button(Window w, int type, int x, int y, unsigned state) {
        x11_send_button(dpy, w, type, x, y, state);
    }
    void send_motion(Window w, int x, int y, unsigned state) { x11_send_motion(dpy, w, x, y, state); }

    Display* dpy = nullptr;
    Window parent = 0;
};

}  // namespace

TEST(X11Lazy, NothingIsOpenedBeforeAWindowIsShown) {
    // A display that does not exist: constructing, idling and hiding never touch it.
    QZ_Win_X11 win(200, 236, ":4321");
    EXPECT_EQ(win.idle(), 0);
    EXPECT_EQ(win.show(0), 0u);
    EXPECT_EQ(win.show(12345), 0u);  // cannot connect: reported as not shown
    EXPECT_EQ(win.xwindow(), 0u);
    win.redraw({0, 0, 200, 236});
}

TEST_F(X11, ExposeOfTheChildPaintsWhatTheImageWindowComposes) {
    ASSERT_TRUE(Panel::artwork_present());
    QZ_Win_Image reference(Panel::W, Panel::H);
    {
        Panel p(false);
        ASSERT_TRUE(p.ok);
        ASSERT_TRUE(p.attach(reference));
        reference.redraw({0, 0, Panel::W, Panel::H});
    }
    QZ_Win_X11 win(Panel::W, Panel::H, Xvfb_Server::get().name().c_str());
    Panel p(false);
    ASSERT_TRUE(p.ok);
    ASSERT_TRUE(p.attach(win));
    ASSERT_EQ(win.show(parent), parent);
    EXPECT_EQ(win.show(parent), parent);  // again: the same window
    const Window child = win.xwindow();
    ASSERT_NE(child, 0u);
    Window root_ret, parent_ret, *kids = nullptr;
    unsigned nkids = 0;
    XQueryTree(dpy, parent, &root_ret, &parent_ret, &kids, &nkids);
    EXPECT_EQ(nkids, 1u);
    if (kids) XFree(kids);
    // Nothing is painted until the expose arrives and idle handles it.
    EXPECT_TRUE(pump(win, [&] { return differences(child, reference.image) == 0; }))
        << differences(child, reference.image) << " pixels differ";

    // Hide and show again: a new window, painted by its own expose.
    EXPECT_EQ(win.show(0), 0u);
    EXPECT_EQ(win.idle(), 0);
    ASSERT_EQ(win.show(parent), parent);
    EXPECT_TRUE(pump(win, [&] { return differences(win.xwindow(), reference.image) == 0; }));
}

TEST_F(X11, PressDragReleaseTurnsTheKnob) {
    ASSERT_TRUE(Panel::artwork_present());
    QZ_Win_X11 win(Panel::W, Panel::H, Xvfb_Server::get().name().c_str());
    Panel p(false);
    ASSERT_TRUE(p.ok);
    ASSERT_TRUE(p.attach(win));
    ASSERT_EQ(win.show(parent), parent);
    auto* knob = QZ_object_as<QZ_Wid_Knob>(p.knob);
    ASSERT_EQ(knob->position, 19);
    const Window child = win.xwindow();
    const int cx = 66 + 32, cy = 126 + 32;  // the knob's middle
    send_button(child, ButtonPress, cx, cy, 0);
    send_motion(child, cx + 40, cy, Button1Mask);
    send_motion(child, cx + 60, cy + 200, Button1Mask);  // below the window: still dragging
    send_motion(child, cx + 50, cy, Button1Mask);
    XFlush(dpy);
    EXPECT_TRUE(pump(win, [&] { return knob->position == 19 + 50; })) << knob->position;
    EXPECT_EQ(win.captured(), knob);
    send_button(child, ButtonRelease, cx + 50, cy, Button1Mask);
    XFlush(dpy);
    EXPECT_TRUE(pump(win, [&] { return win.captured() == nullptr; }));
    EXPECT_EQ(win.hovered(), knob);

    // Leaving ends the highlight on screen.
    XEvent e{};
    e.xcrossing.type = LeaveNotify;
    e.xcrossing.display = dpy;
    e.xcrossing.window = child;
    XSendEvent(dpy, child, False, 0, &e);
    XFlush(dpy);
    EXPECT_TRUE(pump(win, [&] { return win.hovered() == nullptr; }));

    // The screen shows the turned knob, drawn plainly again.
    QZ_Win_Image reference(Panel::W, Panel::H);
    ASSERT_TRUE(p.attach(reference));
    reference.redraw({0, 0, Panel::W, Panel::H});
    EXPECT_EQ(differences(child, reference.image), 0);
}

TEST_F(X11, ABadParentIsRefusedWithoutEndingTheProcess) {
    QZ_Win_X11 win(64, 64, Xvfb_Server::get().name().c_str());
    EXPECT_EQ(win.show(0x7FFFFF0), 0u);
    EXPECT_EQ(win.xwindow(), 0u);
    EXPECT_EQ(win.show(parent), parent);
    EXPECT_NE(win.xwindow(), 0u);
}

TEST_F(X11, AParentDestroyedByTheHostEndsNothing) {
    QZ_Win_X11 win(64, 64, Xvfb_Server::get().name().c_str());
    Panel p(false);
    ASSERT_TRUE(p.ok && p.attach(win));
    ASSERT_EQ(win.show(parent), parent);
    XDestroyWindow(dpy, parent);  // the host closes its window first (ours goes with it)
    XSync(dpy, False);
    parent = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 300, 300, 0, 0, 0);  // for TearDown
    win.redraw({0, 0, 64, 64});  // paints into a window that no longer exists
    win.idle();
    EXPECT_EQ(win.show(0), 0u);  // destroys a window that is already gone
    // The connection still serves a new parent.
    XMapWindow(dpy, parent);
    XSync(dpy, False);
    EXPECT_EQ(win.show(parent), parent);
    EXPECT_NE(win.xwindow(), 0u);
}
