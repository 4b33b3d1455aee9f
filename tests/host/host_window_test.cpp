// `zelo host` on an X server of the test's own (Xvfb): the main window with its
// title and size, the menus opened with a synthetic click and with Alt+letter,
// walked with the keyboard, and an instance added through them. A screenshot of
// the window with a menu open is written for people to look at.
#include "host_x11_util.h"

#include <cstdio>

#include "gui/pic.h"
#include "gui/png.h"
#include "../gui/xvfb.h"

using namespace host_test;

namespace {

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

    // Choosing the JACK driver without a server: the failure is shown in a box
    // once the action is over, and the host goes on.
    key(d, XK_a, true);
    ASSERT_TRUE(wait_for([&] { return !mapped_named(d, "zelo menu").empty(); }));
    key(d, XK_Return);  // the first item: driver 0, JACK
    std::vector<Window> boxes;
    ASSERT_TRUE(wait_for([&] { return !(boxes = mapped_named(d, "ERROR")).empty(); })) << host.text;
    XTestFakeMotionEvent(d, -1, attrs(d, boxes[0]).x + 10, attrs(d, boxes[0]).y + 10, CurrentTime);
    key(d, XK_Return);
    ASSERT_TRUE(wait_for([&] { return mapped_named(d, "ERROR").empty(); }));
    host.read_some();
    EXPECT_NE(host.text.find("Proc: menu_driver"), std::string::npos) << host.text;
    EXPECT_FALSE(mapped_named(d, "1-st order low-pass").empty());

    // A signal closes it in order: driver, instances, classes.
    EXPECT_EQ(host.stop(), 0) << host.text;
    XCloseDisplay(d);
}

// Failures of menu actions reach the user in the toolkit's box and on standard
// error: ALSA without any sound device (a configuration with no devices), and
// Help without a program to show the page.
TEST(HostWindow, ADriverWithNothingToPlayAndHelpWithoutABrowserShowBoxes) {
    auto& xvfb = gui_test::Xvfb_Server::get();
    if (!xvfb.running()) GTEST_SKIP() << "no Xvfb";
    Display* d = XOpenDisplay(xvfb.name().c_str());
    ASSERT_NE(d, nullptr);
    int ev = 0, err = 0, maj = 0, min = 0;
    if (!XTestQueryExtension(d, &ev, &err, &maj, &min)) GTEST_SKIP() << "no XTest extension";
    const std::string no_devices = testing::TempDir() + "/zelo-no-alsa-devices.conf";
    std::FILE* f = std::fopen(no_devices.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);

    Child host = spawn(xvfb.name(), {"host"},
                       {{"ALSA_CONFIG_PATH", no_devices}, {"ZELO_HELP_OPENER", "/nonexistent/zelo-opener"}});
    ASSERT_GT(host.pid, 0);
    std::vector<Window> mains;
    ASSERT_TRUE(wait_for([&] {
        mains = mapped_named(d, "1-st order low-pass");
        host.read_some();
        return !mains.empty();
    })) << host.text;
    const XWindowAttributes wa = attrs(d, mains[0]);
    XTestFakeMotionEvent(d, -1, wa.x + wa.width / 2, wa.y + wa.height / 2, CurrentTime);
    const auto box_then_close = [&](const char* what) {
        std::vector<Window> boxes;
        EXPECT_TRUE(wait_for([&] { return !(boxes = mapped_named(d, "ERROR")).empty(); })) << what << host.text;
        if (boxes.empty()) return;
        XTestFakeMotionEvent(d, -1, attrs(d, boxes[0]).x + 10, attrs(d, boxes[0]).y + 10, CurrentTime);
        key(d, XK_Return);
        EXPECT_TRUE(wait_for([&] { return mapped_named(d, "ERROR").empty(); })) << what;
        XTestFakeMotionEvent(d, -1, wa.x + wa.width / 2, wa.y + wa.height / 2, CurrentTime);
    };

    // Audio > ALSA, the second driver.
    key(d, XK_a, true);
    ASSERT_TRUE(wait_for([&] { return !mapped_named(d, "zelo menu").empty(); }));
    key(d, XK_Down);
    key(d, XK_Return);
    box_then_close("ALSA");
    host.read_some();
    EXPECT_NE(host.text.find("The driver \"ALSA\" offers no modes"), std::string::npos) << host.text;

    key(d, XK_h, true);
    box_then_close("Help");
    host.read_some();
    EXPECT_NE(host.text.find("Proc: menu_help"), std::string::npos) << host.text;
    EXPECT_FALSE(mapped_named(d, "1-st order low-pass").empty());
    EXPECT_EQ(host.stop(), 0) << host.text;
    std::remove(no_devices.c_str());
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
