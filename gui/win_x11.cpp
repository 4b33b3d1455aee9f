#include "gui/win_x11.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {
// X reports protocol errors through one process-wide handler whose default ends
// the process. A host may destroy its window (and so ours) before closing the
// editor, so errors on our own connections are counted instead; errors on the
// host's connections still go to the handler that was there before.
std::mutex g_err_mutex;
std::vector<std::pair<Display*, unsigned long>> g_displays;  // our connections, error counts
XErrorHandler g_previous = nullptr;
bool g_installed = false;

int on_x_error(Display* d, XErrorEvent* e) {
    {
        std::lock_guard<std::mutex> lock(g_err_mutex);
        for (auto& [dpy, count] : g_displays)
            if (dpy == d) {
                ++count;
                return 0;
            }
    }
    return g_previous ? g_previous(d, e) : 0;
}

void adopt_display(Display* d) {
    std::lock_guard<std::mutex> lock(g_err_mutex);
    g_displays.emplace_back(d, 0);
    if (!g_installed) {
        g_previous = XSetErrorHandler(&on_x_error);
        g_installed = true;
    }
}
void forget_display(Display* d) {
    std::lock_guard<std::mutex> lock(g_err_mutex);
    for (auto it = g_displays.begin(); it != g_displays.end(); ++it)
        if (it->first == d) {
            g_displays.erase(it);
            break;
        }
}
unsigned long error_count(Display* d) {
    std::lock_guard<std::mutex> lock(g_err_mutex);
    for (auto& [dpy, count] : g_displays)
        if (dpy == d) return count;
    return 0;
}

// Tells whether the requests made while it lives caused an error.
struct Error_Trap {
    Display* dpy;
    unsigned long before;
    explicit Error_Trap(Display* d) : dpy(d) {
        XSync(dpy, False);
        before = error_count(dpy);
    }
    bool failed() {
        XSync(dpy, False);
        return error_count(dpy) != before;
    }
};

int shift_of(unsigned long mask) {
    int s = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++s;
    }
    return s;
}
int bits_of(unsigned long mask) {
    int n = 0;
    for (; mask; mask >>= 1) n += static_cast<int>(mask & 1);
    return n;
}
unsigned long scale(std::uint8_t c, unsigned long mask) {
    const int bits = bits_of(mask);
    if (bits == 0) return 0;
    const unsigned long v = bits >= 8 ? static_cast<unsigned long>(c) << (bits - 8) : c >> (8 - bits);
    return (v << shift_of(mask)) & mask;
}
}  // namespace

QZ_Win_X11::QZ_Win_X11(std::int32_t width, std::int32_t height, const char* display)
    : QZ_Win(width, height), display_name_(display ? display : ""), has_display_name_(display != nullptr) {
    wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

QZ_Win_X11::~QZ_Win_X11() {
    {
        std::lock_guard<std::mutex> lock(modal_mutex_);
        modal_depth_ = 0;
        modal_ = false;
    }
    if (modal_server_.joinable()) modal_server_.join();
    show(0);
    if (wake_fd_ >= 0) ::close(wake_fd_);
    std::lock_guard<std::mutex> lock(x_mutex_);
    if (dpy_) {
        XCloseDisplay(dpy_);
        forget_display(dpy_);
    }
    dpy_ = nullptr;
}

void QZ_Win_X11::destroy_window() {
    if (image_) {
        if (direct_) image_->data = nullptr;  // it pointed at our back buffer: not ours to free
        XDestroyImage(image_);
        image_ = nullptr;
    }
    if (gc_) XFreeGC(dpy_, gc_);
    gc_ = nullptr;
    if (window_) XDestroyWindow(dpy_, window_);
    window_ = 0;
    shown_ = false;
    event_thread_ = std::thread::id();
    XFlush(dpy_);
}

QZ_Win_X11::XWindow QZ_Win_X11::show(XWindow parent) {
    {
        std::lock_guard<std::mutex> lock(x_mutex_);
        if (parent == parent_) return parent_;
        if (window_) destroy_window();
        parent_ = 0;
        if (!parent) return 0;
        if (!dpy_) {
            dpy_ = XOpenDisplay(has_display_name_ ? display_name_.c_str() : nullptr);
            if (!dpy_) return 0;
            adopt_display(dpy_);
        }

        Error_Trap trap(dpy_);
        XWindowAttributes pa;
        if (!XGetWindowAttributes(dpy_, parent, &pa) || trap.failed()) return 0;
        XSetWindowAttributes wa;
        std::memset(&wa, 0, sizeof wa);
        wa.event_mask =
            ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | LeaveWindowMask;
        wa.background_pixmap = None;  // painting covers every pixel
        const Window w = XCreateWindow(dpy_, parent, 0, 0, static_cast<unsigned>(width() > 0 ? width() : 1),
                                       static_cast<unsigned>(height() > 0 ? height() : 1), 0, CopyFromParent,
                                       InputOutput, CopyFromParent, CWEventMask | CWBackPixmap, &wa);
        if (trap.failed() || !w) return 0;
        window_ = w;
        parent_ = parent;
        gc_ = XCreateGC(dpy_, window_, 0, nullptr);

        Visual* vis = pa.visual;
        masks_[0] = vis->red_mask;
        masks_[1] = vis->green_mask;
        masks_[2] = vis->blue_mask;
        // Pixels stored blue, green, red, x in a 32-bit little-endian word are
        // what a 24/32-bit TrueColor visual takes directly.
        direct_ = (pa.depth == 24 || pa.depth == 32) && vis->red_mask == 0xFF0000 &&
                  vis->green_mask == 0xFF00 && vis->blue_mask == 0xFF && ImageByteOrder(dpy_) == LSBFirst;
        image_ =
            XCreateImage(dpy_, vis, static_cast<unsigned>(pa.depth), ZPixmap, 0, nullptr, TILE, TILE, 32, 0);
        if (image_) {
            image_->byte_order = LSBFirst;
            if (!direct_) {
                image_->data =
                    static_cast<char*>(std::calloc(static_cast<std::size_t>(image_->bytes_per_line), TILE));
                if (!image_->data) {
                    XDestroyImage(image_);
                    image_ = nullptr;
                }
            }
        }
        XMapWindow(dpy_, window_);
        XFlush(dpy_);
        shown_ = true;
    }
    return parent_;
}

void QZ_Win_X11::redraw(const QZ_Rect& r) {
    {
        std::lock_guard<std::mutex> lock(x_mutex_);
        if (!window_) return;
    }
    paint(r);
}

void QZ_Win_X11::present(const QZ_Rect& s, const QZ_Picture& tile, std::int32_t tile_x, std::int32_t tile_y) {
    std::lock_guard<std::mutex> lock(x_mutex_);
    if (!window_ || !image_) return;
    const int sx = s.left - tile_x, sy = s.top - tile_y;
    const unsigned w = static_cast<unsigned>(s.right - s.left), h = static_cast<unsigned>(s.bottom - s.top);
    if (direct_) {
        image_->data = reinterpret_cast<char*>(const_cast<QZ_Pix_A32*>(tile.pixels));
        image_->bytes_per_line = TILE * 4;
    } else {
        for (std::int32_t y = sy; y < sy + static_cast<int>(h); ++y)
            for (std::int32_t x = sx; x < sx + static_cast<int>(w); ++x) {
                const QZ_Pix_A32 p = tile.at(x, y);
                XPutPixel(image_, x, y,
                          scale(p.r, masks_[0]) | scale(p.g, masks_[1]) | scale(p.b, masks_[2]));
            }
    }
    XPutImage(dpy_, window_, gc_, image_, sx, sy, s.left, s.top, w, h);
    if (direct_) image_->data = nullptr;
    XFlush(dpy_);
}

bool QZ_Win_X11::defer() {
    const std::thread::id t = event_thread_.load();
    if (!shown_.load() || t == std::thread::id() || t == std::this_thread::get_id()) return false;
    // One wake-up for any number of requests before the work runs.
    if (!deferred_.exchange(true)) {
        const std::uint64_t one = 1;
        if (::write(wake_fd_, &one, sizeof one) != sizeof one) {
            // The counter is full, so the thread is awake already.
        }
    }
    return true;
}

void QZ_Win_X11::modal_begin() {
    std::lock_guard<std::mutex> lock(modal_mutex_);
    if (modal_depth_++ > 0) return;
    if (modal_server_.joinable()) modal_server_.join();  // a previous one already told to stop
    modal_ = true;
    try {
        modal_server_ = std::thread([this] {
            while (modal_.load()) {
                if (wait_events(20)) handle_events(true);
            }
        });
    } catch (...) {
        // Without a thread the window simply waits for the dialog, as before.
    }
}

void QZ_Win_X11::modal_end() {
    std::thread done;
    {
        std::lock_guard<std::mutex> lock(modal_mutex_);
        if (modal_depth_ == 0 || --modal_depth_ > 0) return;
        modal_ = false;
        done = std::move(modal_server_);
    }
    if (done.joinable()) done.join();
}

int QZ_Win_X11::idle() { return handle_events(false); }

int QZ_Win_X11::handle_events(bool modal_server) {
    if (!modal_server) event_thread_ = std::this_thread::get_id();
    const bool modal = modal_.load();
    std::vector<XEvent> events;
    {
        std::lock_guard<std::mutex> lock(x_mutex_);
        if (!dpy_ || !window_) return 0;
        while (XPending(dpy_) > 0) {
            XEvent e;
            XNextEvent(dpy_, &e);
            if (e.xany.window != window_) continue;
            if (modal && e.type != Expose) continue;
            // Dragging reads absolute positions: only the last of a run of moves matters.
            if (e.type == MotionNotify && !events.empty() && events.back().type == MotionNotify)
                events.pop_back();
            events.push_back(e);
        }
    }
    for (const XEvent& e : events) {
        switch (e.type) {
            case Expose:
                paint({e.xexpose.x, e.xexpose.y, e.xexpose.x + e.xexpose.width,
                       e.xexpose.y + e.xexpose.height});
                break;
            case MotionNotify: pointer_move(e.xmotion.x, e.xmotion.y); break;
            case ButtonPress:
                if (e.xbutton.button == Button1) {
                    // Find the widget under the press even if no move came first.
                    if (!captured()) pointer_move(e.xbutton.x, e.xbutton.y);
                    pointer_down(e.xbutton.x, e.xbutton.y);
                }
                break;
            case ButtonRelease:
                if (e.xbutton.button == Button1) pointer_up();
                break;
            case LeaveNotify:
                // While the button is held the pointer is grabbed and the drag goes on outside.
                if (!(e.xcrossing.state & Button1Mask)) pointer_leave();
                break;
            default: break;
        }
    }
    if (wake_fd_ >= 0) {
        std::uint64_t n = 0;
        while (::read(wake_fd_, &n, sizeof n) == sizeof n) {
        }
    }
    if (deferred_.exchange(false)) run_deferred();
    return static_cast<int>(events.size());
}

bool QZ_Win_X11::wait_events(int timeout_ms) {
    int fd = -1;
    {
        std::unique_lock<std::mutex> lock(x_mutex_);
        if (!dpy_ || !window_) {
            lock.unlock();
            ::poll(nullptr, 0, timeout_ms);  // nothing to wait on: just the time
            return false;
        }
        // Events already read from the socket (while waiting for a reply) would
        // not wake a poll.
        if (XEventsQueued(dpy_, QueuedAlready) > 0) return true;
        fd = ConnectionNumber(dpy_);
    }
    if (deferred_.load()) return true;
    pollfd p[2] = {{fd, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    return ::poll(p, wake_fd_ >= 0 ? 2 : 1, timeout_ms) > 0;
}

bool QZ_Win_X11::resize_parent(std::int32_t width, std::int32_t height) {
    std::lock_guard<std::mutex> lock(x_mutex_);
    if (!dpy_ || !parent_ || width <= 0 || height <= 0) return false;
    Error_Trap trap(dpy_);
    XResizeWindow(dpy_, parent_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    return !trap.failed();
}
