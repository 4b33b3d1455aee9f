// Painting from two threads at once: the window thread (expose, pointer) and a
// host thread that sets values, which redraw at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/command.h"
#include "gui/controls.h"
#include "gui/text.h"
#include "gui/win.h"
#include "tests/gui/gui_test_util.h"
#include "tests/gui/panel.h"
#if !defined(_WIN32)
#include "gui/win_x11.h"
#include "tests/gui/xvfb.h"
#endif

using namespace gui_test;

namespace {
bool same_image(const QZ_Picture& a, const QZ_Picture& b) {
    if (a.width != b.width || a.height != b.height) return false;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            if (!(a.at(x, y) == b.at(x, y))) return false;
    return true;
}
}  // namespace

TEST(Threads, TwoThreadsRepaintingComposeTheSameImage) {
    ASSERT_TRUE(Panel::artwork_present());
    QZ_Win_Image win(Panel::W, Panel::H);
    Panel p(false);
    ASSERT_TRUE(p.ok && p.attach(win));
    win.redraw({0, 0, Panel::W, Panel::H});
    QZ_Picture first;
    first.allocate(Panel::W, Panel::H);
    for (int y = 0; y < Panel::H; ++y)
        for (int x = 0; x < Panel::W; ++x) first.at(x, y) = win.image.at(x, y);
    auto work = [&] {
        for (int i = 0; i < 30; ++i) win.redraw({0, 0, Panel::W, Panel::H});
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_TRUE(same_image(win.image, first));
}

TEST(Threads, HostThreadSetsValuesWhileTheWindowThreadPaintsAndPoints) {
    ASSERT_TRUE(Panel::artwork_present());
    QZ_Win_Image win(Panel::W, Panel::H);
    Panel p(true);
    ASSERT_TRUE(p.ok && p.attach(win));
    std::atomic<bool> stop{false};
    std::thread window_thread([&] {
        int i = 0;
        while (!stop) {
            win.redraw({0, 0, Panel::W, Panel::H});
            win.pointer_move(98 + (i % 3), 158);  // over the knob and back
            win.pointer_move(5, 5);
            ++i;
            // A window thread paints when asked, not back to back: without a pause
            // an unfair mutex can starve the host thread (seen under ThreadSanitizer).
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    char text[32];
    for (int i = 0; i < 200; ++i) {
        const double v = 20.0 + 99.0 * i;
        spcpp("QZ_Wid_Knob %o -val %f", p.knob, v);
        std::snprintf(text, sizeof text, "%.0f Hz", v);
        spcpp("QZ_Wid_Text %o -text %s", p.value_text, text);
        spcpp("QZ_Wid_Butt %o -val %i", p.button, i % 2);
        spcpp("QZ_Wid %o -enabled %i", p.knob, (i / 7) % 2);
    }
    stop = true;
    window_thread.join();
    win.pointer_leave();
    // Whatever the interleaving, a last full repaint shows the final state.
    win.redraw({0, 0, Panel::W, Panel::H});
    QZ_Win_Image fresh(Panel::W, Panel::H);
    ASSERT_TRUE(p.attach(fresh));
    fresh.redraw({0, 0, Panel::W, Panel::H});
    EXPECT_TRUE(same_image(win.image, fresh.image));
    EXPECT_EQ(QZ_object_as<QZ_Wid_Text>(p.value_text)->text, text);
}

#if !defined(_WIN32)
TEST(Threads, HostThreadRedrawsWhileTheWindowThreadPumpsX11Events) {
    if (!Xvfb_Server::available()) GTEST_SKIP() << "no Xvfb binary";
    ASSERT_TRUE(Panel::artwork_present());
    ASSERT_TRUE(Xvfb_Server::get().running());
    Display* dpy = nullptr;
    for (int i = 0; i < 50 && !dpy; ++i) {
        dpy = XOpenDisplay(Xvfb_Server::get().name().c_str());
        if (!dpy) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(dpy, nullptr);
    const Window parent = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 300, 300, 0, 0, 0);
    XMapWindow(dpy, parent);
    XSync(dpy, False);
    {
        QZ_Win_X11 win(Panel::W, Panel::H, Xvfb_Server::get().name().c_str());
        Panel p(true);
        ASSERT_TRUE(p.ok && p.attach(win));
        ASSERT_EQ(win.show(parent), parent);
        const Window child = win.xwindow();
        std::atomic<bool> stop{false};
        std::thread window_thread([&] {
            while (!stop) {
                win.idle();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        for (int i = 0; i < 100; ++i) {
            spcpp("QZ_Wid_Knob %o -val %f", p.knob, 20.0 + 199.0 * i);
            spcpp("QZ_Wid_Text %o -text %s", p.value_text, (i % 2) ? "1 Hz" : "20000 Hz");
            // Exposes and pointer moves arrive meanwhile on the window thread.
            XEvent e{};
            e.xexpose.type = Expose;
            e.xexpose.window = child;
            e.xexpose.width = Panel::W;
            e.xexpose.height = Panel::H;
            XSendEvent(dpy, child, False, 0, &e);
            XEvent m{};
            m.xmotion.type = MotionNotify;
            m.xmotion.window = child;
            m.xmotion.x = 98 + i % 5;
            m.xmotion.y = 158;
            m.xmotion.same_screen = True;
            XSendEvent(dpy, child, False, 0, &m);
            XFlush(dpy);
        }
        stop = true;
        window_thread.join();
        EXPECT_EQ(QZ_object_as<QZ_Wid_Knob>(p.knob)->position,
                  QZ_trunc_to_int(264.0 * (20.0 + 199.0 * 99 - 20) / 19980));
        win.show(0);
    }
    XDestroyWindow(dpy, parent);
    XCloseDisplay(dpy);
}
#endif
