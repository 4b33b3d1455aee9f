// X11 test helpers: what a window shows, read back with XGetImage and compared
// with a picture the toolkit composed, and pointer events sent to a window.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "gui/pic.h"

namespace gui_test {

// Pixels of the window differing from the picture (colour only); -1 when the
// window cannot be read.
inline int x11_differences(Display* dpy, Window w, const QZ_Picture& expect) {
    XImage* img = XGetImage(dpy, w, 0, 0, static_cast<unsigned>(expect.width), static_cast<unsigned>(expect.height),
                            AllPlanes, ZPixmap);
    if (!img) return -1;
    int diff = 0;
    for (int y = 0; y < expect.height; ++y)
        for (int x = 0; x < expect.width; ++x) {
            const QZ_Pix_A32 p = expect.at(x, y);
            const unsigned long want = static_cast<unsigned long>(p.r) << 16 | p.g << 8 | p.b;
            diff += (XGetPixel(img, x, y) & 0xFFFFFF) != want;
        }
    XDestroyImage(img);
    return diff;
}

inline void x11_send_button(Display* dpy, Window w, int type, int x, int y, unsigned state) {
    XEvent e{};
    e.xbutton.type = type;
    e.xbutton.display = dpy;
    e.xbutton.window = w;
    e.xbutton.root = DefaultRootWindow(dpy);
    e.xbutton.x = x;
    e.xbutton.y = y;
    e.xbutton.button = Button1;
    e.xbutton.state = state;
    e.xbutton.same_screen = True;
    XSendEvent(dpy, w, False, 0, &e);
}

inline void x11_send_motion(Display* dpy, Window w, int x, int y, unsigned state) {
    XEvent e{};
    e.xmotion.type = MotionNotify;
    e.xmotion.display = dpy;
    e.xmotion.window = w;
    e.xmotion.root = DefaultRootWindow(dpy);
    e.xmotion.x = x;
    e.xmotion.y = y;
    e.xmotion.state = state;
    e.xmotion.same_screen = True;
    XSendEvent(dpy, w, False, 0, &e);
}

}  // namespace gui_test
