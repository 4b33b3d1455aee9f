// `zelo host` on an X server of the test's own (Xvfb): the main window with its
// title and size, the menus opened with a synthetic click and with Alt+letter,
// walked with the keyboard, and an instance added through them. A screenshot of
// the window with a menu open is written for people to look at.
#include <gtest/gtest.h>
// After GoogleTest: X11 defines None and Bool as macros.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "gui/pic.h"
#include "gui/png.h"
#include "../gui/xvfb.h"

namespace {

struct Child {
    pid_t pid = -1;
    int out = -1;
    std::string text;
    void read_some() {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(out, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    }
    int stop() {
        if (pid <= 0) return -1;
        ::kill(pid, SIGTERM);
        int st = 0;
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid, &st, WNOHANG) == pid) {
                pid = -1;
                read_some();
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &st, 0);
        pid = -1;
        return -1;
    }
};

Child spawn(const std::string& display, const std::vector<std::string>& args) {
    int fds[2];
    Child c;
    if (::pipe(fds) != 0) return c;
    c.pid = ::fork();
    if (c.pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::close(fds[0]);
        ::setenv("DISPLAY", display.c_str(), 1);
        ::setenv("ZELO_HELP_OPENER", "true", 1);
        std::vector<char*> argv{const_cast<char*>(ZELO_EXE)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(ZELO_EXE, argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    c.out = fds[0];
    ::fcntl(c.out, F_SETFL, O_NONBLOCK);
    return c;
}

bool wait_for(const std::function<bool()>& ok, int ms = 10000) {
    for (int t = 0; t < ms; t += 20) {
        if (ok()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ok();
}

// Top-level windows of the given name that are mapped.
std::vector<Window> mapped_named(Display* d, const char* name) {
    std::vector<Window> out;
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    XSync(d, False);
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &n)) return out;
    for (unsigned i = 0; i < n; ++i) {
        char* wn = nullptr;
        XWindowAttributes wa;
        if (XFetchName(d, kids[i], &wn) && wn) {
            if (std::string(wn) == name && XGetWindowAttributes(d, kids[i], &wa) && wa.map_state == IsViewable)
                out.push_back(kids[i]);
            XFree(wn);
        }
    }
    if (kids) XFree(kids);
    return out;
}


XWindowAttributes attrs(Display* d, Window w) {
    XWindowAttributes wa{};
    XSync(d, False);
    XGetWindowAttributes(d, w, &wa);
    return wa;
}

void click(Display* d, int x, int y) {
    XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XSync(d, False);
}

void key(Display* d, KeySym sym, bool alt = false) {
    const KeyCode alt_code = XKeysymToKeycode(d, XK_Alt_L), code = XKeysymToKeycode(d, sym);
    if (alt) XTestFakeKeyEvent(d, alt_code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    if (alt) XTestFakeKeyEvent(d, alt_code, False, CurrentTime);
    XSync(d, False);
}

// The root window's pixels in a rectangle, as a picture.
bool grab(Display* d, int x, int y, int w, int h, QZ_Picture& pic) {
    const XWindowAttributes root = attrs(d, DefaultRootWindow(d));
    w = std::min(w, root.width - x);
    h = std::min(h, root.height - y);
    if (w <= 0 || h <= 0) return false;
    XImage* img = XGetImage(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(w), static_cast<unsigned>(h),
                            AllPlanes, ZPixmap);
    if (!img) return false;
    pic.allocate(w, h);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            const unsigned long p = XGetPixel(img, i, j);
            pic.at(i, j) = {static_cast<std::uint8_t>(p & 0xFF), static_cast<std::uint8_t>((p >> 8) & 0xFF),
                            static_cast<std::uint8_t>((p >> 16) & 0xFF), 0xFF};
        }
    XDestroyImage(img);
    return true;
}

}  // namespace

TEST(HostWindow, MenusByMouseAndKeyboard) {
    auto& xvfb = gui_test::Xvfb_Server::get();
    if (!xvfb.running()) GTEST_SKIP() << "no Xvfb";
    Display* d = XOpenDisplay(xvfb.name().c_str());
    ASSERT_NE(d, nullptr);
    int ev = 0, err = 0, maj = 0, min = 0;
    if (!XTestQueryExtension(d, &ev, &err, &maj, &min)) GTEST_SKIP() << "no XTest extension";

    Child host = spawn(xvfb.name(), {"host"});
    ASSERT_GT(host.pid, 0);
    std::vector<Window> mains;
    ASSERT_TRUE(wait_for([&] {
        mains = mapped_named(d, "1-st order low-pass");
        host.read_some();
        return !mains.empty();
    })) << host.text;
    const Window main = mains[0];
    const XWindowAttributes wa = attrs(d, main);
    // The client area is the editor's size (or the 600 x 800 fallback) under a menu bar.
    EXPECT_TRUE(wa.width == 200 || wa.width == 600) << wa.width;
    EXPECT_GT(wa.height, 200);
    XClassHint cls{};
    ASSERT_TRUE(XGetClassHint(d, main, &cls));
    EXPECT_STREQ(cls.res_class, "QZWINDOW");
    XFree(cls.res_name);
    XFree(cls.res_class);

    // A click on "&Channel" (the second bar item, after "Audio") opens its popup.
    const int bar_y = wa.y + 10;
    click(d, wa.x + 70, bar_y);
    std::vector<Window> popups;
    ASSERT_TRUE(wait_for([&] { return !(popups = mapped_named(d, "zelo menu")).empty(); })) << host.text;
    const int channel_height = attrs(d, popups[0]).height;
    // Escape closes it.
    key(d, XK_Escape);
    ASSERT_TRUE(wait_for([&] { return mapped_named(d, "zelo menu").empty(); }));

    // Alt+C opens the same popup; "a" chooses "&Add": one more instance item.
    XTestFakeMotionEvent(d, -1, wa.x + wa.width / 2, wa.y + wa.height / 2, CurrentTime);
    key(d, XK_c, true);
    ASSERT_TRUE(wait_for([&] { return !(popups = mapped_named(d, "zelo menu")).empty(); })) << host.text;
    EXPECT_EQ(attrs(d, popups[0]).height, channel_height);
    key(d, XK_a);
    ASSERT_TRUE(wait_for([&] { return mapped_named(d, "zelo menu").empty(); }));
    key(d, XK_c, true);
    ASSERT_TRUE(wait_for([&] {
        popups = mapped_named(d, "zelo menu");
        return !popups.empty() && attrs(d, popups[0]).height == channel_height + 22;
    })) << host.text;
    // Arrows: down to "&Input" opens its submenu with the right arrow.
    key(d, XK_Down);
    key(d, XK_Down);
    key(d, XK_Right);
    wait_for([&] { return mapped_named(d, "zelo menu").size() >= 2; }, 2000);

    // The screenshot: the window with the menu open.
    XSync(d, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const XWindowAttributes now = attrs(d, main);
    int right = now.x + now.width, bottom = now.y + now.height;
    for (Window p : mapped_named(d, "zelo menu")) {
        const XWindowAttributes pa = attrs(d, p);
        right = std::max(right, pa.x + pa.width);
        bottom = std::max(bottom, pa.y + pa.height);
    }
    QZ_Picture shot;
    ASSERT_TRUE(grab(d, now.x, now.y, right - now.x + 4, bottom - now.y + 4, shot));
    const char* dir = std::getenv("ZELO_SCREENSHOT_DIR");
    const std::string path = std::string(dir && *dir ? dir : testing::TempDir().c_str()) + "/host-window.png";
    EXPECT_TRUE(QZ_png_write(path.c_str(), shot)) << path;
    key(d, XK_Escape);
    key(d, XK_Escape);
    ASSERT_TRUE(wait_for([&] { return mapped_named(d, "zelo menu").empty(); }));

    // Help opens the page through the opener (here a stand-in) without ending the host.
    key(d, XK_h, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(mapped_named(d, "1-st order low-pass").empty());

    // A signal closes it in order: driver, instances, classes.
    EXPECT_EQ(host.stop(), 0) << host.text;
    XCloseDisplay(d);
}

TEST(HostWindow, NoDisplayIsAnErrorNotACrash) {
    Child host = spawn(":9987", {"host"});
    int st = 0;
    ::waitpid(host.pid, &st, 0);
    host.pid = -1;
    host.read_some();
    EXPECT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 1);
    EXPECT_NE(host.text.find("cannot open the X display"), std::string::npos) << host.text;
}
