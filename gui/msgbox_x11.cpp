#include "gui/msgbox_x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <string>
#include <vector>

#include "core/command.h"
#include "core/error.h"
#include "gui/win.h"

namespace {

constexpr int kWidth = 300, kLine = 18, kButtonW = 64, kButtonH = 26;

struct Layout {
    std::vector<std::string> lines;
    int height = 0;
    QZ_Rect ok{};
};

Layout layout_of(const char* text) {
    Layout l;
    std::string line;
    for (const char* p = text; *p; ++p) {
        if (*p == '\n') {
            l.lines.push_back(line);
            line.clear();
        } else {
            line += *p;
        }
    }
    if (!line.empty() || l.lines.empty()) l.lines.push_back(line);
    const int text_h = static_cast<int>(l.lines.size()) * kLine;
    l.height = 24 + text_h + 18 + kButtonH + 14;
    const int left = (kWidth - kButtonW) / 2, top = 24 + text_h + 18;
    l.ok = {left, top, left + kButtonW, top + kButtonH};
    return l;
}

// The box's face, composed with the panel's own pictures and text.
void compose(QZ_Win_Image& win, const Layout& l) {
    std::vector<QZ_handle> made;
    auto add = [&](QZ_handle h) {
        if (h) made.push_back(h);
    };
    QZ_handle h = 0;
    spcpp("QZ_Wid_Pic -w %i -h %i -l 0 -t 0 -res bgnd", &h, kWidth, l.height);
    add(h);
    for (std::size_t i = 0; i < l.lines.size(); ++i) {
        h = 0;
        spcpp("QZ_Wid_Text -l 10 -t %i -w %i -h %i -font %s -size 12 -color %i -text %s", &h,
              24 + static_cast<int>(i) * kLine, kWidth - 20, kLine, "Tahoma", 0xE0E0E0, l.lines[i].c_str());
        add(h);
    }
    // The button: the group frame's nine pieces around a caption.
    const int L = l.ok.left, T = l.ok.top, W = kButtonW, H = kButtonH, B = 8;
    const char* pic = "QZ_Wid_Pic -w %i -h %i -l %i -t %i -res %s";
    struct Piece {
        int l, t, w, h;
        const char* res;
    } pieces[] = {
        {L, T, B, B, "glt"},
        {L + B, T, W - 2 * B, B, "gmt"},
        {L + W - B, T, B, B, "grt"},
        {L, T + B, B, H - 2 * B, "glm"},
        {L + B - 4, T + B - 4, W - 2 * B + 8, H - 2 * B + 8, "gmm"},
        {L + W - B, T + B, B, H - 2 * B, "grm"},
        {L, T + H - B, B, B, "glb"},
        {L + B, T + H - B, W - 2 * B, B, "gmb"},
        {L + W - B, T + H - B, B, B, "grb"},
    };
    for (const Piece& p : pieces) {
        h = 0;
        spcpp(pic, &h, p.w, p.h, p.l, p.t, p.res);
        add(h);
    }
    h = 0;
    spcpp("QZ_Wid_Text -l %i -t %i -w %i -h %i -font %s -size 12 -bold 1 -color %i -text OK", &h, L, T, W, H,
          "Tahoma", 0xFFFFFF);
    add(h);
    for (QZ_handle w : made) spcpp("QZ_Wid %o -win %o", w, win.handle());
    win.redraw({0, 0, win.width(), win.height()});
    for (auto it = made.rbegin(); it != made.rend(); ++it) spcpp("%o -delete", *it);
}

unsigned long scale(std::uint8_t c, unsigned long mask) {
    if (!mask) return 0;
    int shift = 0, bits = 0;
    while (!((mask >> shift) & 1)) ++shift;
    while ((mask >> (shift + bits)) & 1) ++bits;
    const unsigned long v = bits >= 8 ? static_cast<unsigned long>(c) << (bits - 8) : c >> (8 - bits);
    return (v << shift) & mask;
}

}  // namespace

int QZ_x11_message_box(const char* display, unsigned long transient_for, const char* text, const char* caption) {
    Display* dpy = XOpenDisplay(display);
    if (!dpy) return 0;
    const Layout l = layout_of(text ? text : "");
    QZ_Win_Image face(kWidth, l.height);
    compose(face, l);

    const int screen = DefaultScreen(dpy);
    const int x = (DisplayWidth(dpy, screen) - kWidth) / 2, y = (DisplayHeight(dpy, screen) - l.height) / 2;
    const Window w = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), x > 0 ? x : 0, y > 0 ? y : 0, kWidth,
                                         static_cast<unsigned>(l.height), 0, 0, 0);
    XStoreName(dpy, w, caption ? caption : "");
    Atom wm_delete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, w, &wm_delete, 1);
    if (transient_for) XSetTransientForHint(dpy, w, transient_for);
    XSizeHints* hints = XAllocSizeHints();
    if (hints) {
        hints->flags = PMinSize | PMaxSize | PPosition;
        hints->min_width = hints->max_width = kWidth;
        hints->min_height = hints->max_height = l.height;
        XSetWMNormalHints(dpy, w, hints);
        XFree(hints);
    }
    XSelectInput(dpy, w, ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);

    XWindowAttributes a;
    XGetWindowAttributes(dpy, w, &a);
    XImage* image = XCreateImage(dpy, a.visual, static_cast<unsigned>(a.depth), ZPixmap, 0, nullptr, kWidth,
                                 static_cast<unsigned>(l.height), 32, 0);
    std::vector<char> pixels;
    if (image) {
        pixels.resize(static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(l.height));
        image->data = pixels.data();
        for (int py = 0; py < l.height; ++py)
            for (int px = 0; px < kWidth; ++px) {
                const QZ_Pix_A32 p = face.image.at(px, py);
                XPutPixel(image, px, py,
                          scale(p.r, a.visual->red_mask) | scale(p.g, a.visual->green_mask) |
                              scale(p.b, a.visual->blue_mask));
            }
    }
    GC gc = XCreateGC(dpy, w, 0, nullptr);
    XMapRaised(dpy, w);

    bool pressed_ok = false;
    for (bool done = false; !done;) {
        XEvent e;
        XNextEvent(dpy, &e);
        switch (e.type) {
            case Expose:
                if (image && e.xexpose.count == 0)
                    XPutImage(dpy, w, gc, image, 0, 0, 0, 0, kWidth, static_cast<unsigned>(l.height));
                break;
            case KeyPress: {
                const KeySym sym = XLookupKeysym(&e.xkey, 0);
                done = sym == XK_Return || sym == XK_KP_Enter || sym == XK_Escape || sym == XK_space;
                break;
            }
            case ButtonPress:
                pressed_ok = e.xbutton.button == Button1 && e.xbutton.x >= l.ok.left &&
                             e.xbutton.x < l.ok.right && e.xbutton.y >= l.ok.top && e.xbutton.y < l.ok.bottom;
                break;
            case ButtonRelease:
                done = pressed_ok && e.xbutton.x >= l.ok.left && e.xbutton.x < l.ok.right &&
                       e.xbutton.y >= l.ok.top && e.xbutton.y < l.ok.bottom;
                break;
            case ClientMessage: done = static_cast<Atom>(e.xclient.data.l[0]) == wm_delete; break;
            case DestroyNotify: done = true; break;
            default: break;
        }
    }
    if (image) {
        image->data = nullptr;  // ours, freed with the vector
        XDestroyImage(image);
    }
    XFreeGC(dpy, gc);
    XDestroyWindow(dpy, w);
    XCloseDisplay(dpy);
    return QZ_IDOK;
}
