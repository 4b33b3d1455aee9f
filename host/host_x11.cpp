// The host window on X11: the main window with a menu bar and popups drawn by
// the toolkit, and the effect window holding the selected instance's editor.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_front.h"
#include "gui/msgbox_x11.h"
#include "host/menu_view.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback);
extern char** environ;

namespace {

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

constexpr auto kIdlePeriod = std::chrono::milliseconds(40);

// Reports of a menu action, held until the action has released the host mutex.
bool g_queue = false;
std::vector<std::string> g_pending;
void report(int line, const char* proc, const char* text) {
    QZ_error_func("host", line, proc, __DATE__, __TIME__, text);  // standard error
    if (g_queue) g_pending.push_back(QZ_error_text());
}

class Front {
public:
    Front(Display* dpy, QZ_Host& host) : dpy_(dpy), host_(host) {
        screen_ = DefaultScreen(dpy);
        visual_ = DefaultVisual(dpy, screen_);
        depth_ = DefaultDepth(dpy, screen_);
        wm_delete_ = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    }

    void create_main(int width, int height) {
        XSetWindowAttributes a{};
        a.background_pixel = pixel(0xF0, 0xF0, 0xF0);
        a.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                       KeyReleaseMask | StructureNotifyMask | FocusChangeMask;
        main_ = XCreateWindow(dpy_, RootWindow(dpy_, screen_), 50, 50, static_cast<unsigned>(width),
                              static_cast<unsigned>(height + menu_view::kBarHeight), 0, CopyFromParent, InputOutput,
                              CopyFromParent, CWBackPixel | CWEventMask, &a);
        XSetWMProtocols(dpy_, main_, &wm_delete_, 1);
        XStoreName(dpy_, main_, "ZELO");
        XClassHint cls{const_cast<char*>("zelo"), const_cast<char*>("QZWINDOW")};
        XSetClassHint(dpy_, main_, &cls);
        XWMHints hints{};
        hints.flags = InputHint;
        hints.input = True;
        XSetWMHints(dpy_, main_, &hints);
        XSetWindowAttributes e{};
        e.background_pixel = pixel(32, 64, 96);
        effect_ = XCreateWindow(dpy_, main_, 0, menu_view::kBarHeight, 20, 20, 0, CopyFromParent, InputOutput,
                                CopyFromParent, CWBackPixel, &e);
        XMapWindow(dpy_, effect_);
        gc_ = XCreateGC(dpy_, main_, 0, nullptr);
        XSync(dpy_, False);
    }

    void set_title(const std::string& title) {
        XStoreName(dpy_, main_, title.c_str());
        Atom utf8 = XInternAtom(dpy_, "UTF8_STRING", False), name = XInternAtom(dpy_, "_NET_WM_NAME", False);
        XChangeProperty(dpy_, main_, name, utf8, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
    }

    void size(int width, int height) {
        width_ = width;
        XResizeWindow(dpy_, main_, static_cast<unsigned>(width),
                      static_cast<unsigned>(height + menu_view::kBarHeight));
        XMoveResizeWindow(dpy_, effect_, 0, menu_view::kBarHeight, static_cast<unsigned>(width),
                          static_cast<unsigned>(height));
        // A fixed size, as the editor has.
        XSizeHints* sh = XAllocSizeHints();
        sh->flags = PMinSize | PMaxSize | PPosition;
        sh->min_width = sh->max_width = width;
        sh->min_height = sh->max_height = height + menu_view::kBarHeight;
        sh->x = sh->y = 50;
        XSetWMNormalHints(dpy_, main_, sh);
        XFree(sh);
    }

    void show() {
        XMapRaised(dpy_, main_);
        XFlush(dpy_);
    }

    unsigned long effect_window() const { return effect_; }
    unsigned long main_window() const { return main_; }

    // Runs until the window is closed or a signal asks to stop.
    void loop() {
        const int fd = ConnectionNumber(dpy_);
        auto next_idle = std::chrono::steady_clock::now();
        while (running_ && !g_stop) {
            while (running_ && XPending(dpy_)) {
                XEvent ev;
                XNextEvent(dpy_, &ev);
                handle(ev);
            }
            if (!running_) break;
            const auto now = std::chrono::steady_clock::now();
            if (now >= next_idle) {
                host_.idle();
                check_driver();
                next_idle = now + kIdlePeriod;
            }
            const int wait = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(next_idle - now).count());
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, wait < 1 ? 1 : wait);
        }
        close_menus();
        XUnmapWindow(dpy_, main_);
        XFlush(dpy_);
    }

    ~Front() {
        for (auto& p : popups_) XDestroyWindow(dpy_, p.window);
        if (gc_) XFreeGC(dpy_, gc_);
        if (main_) XDestroyWindow(dpy_, main_);
        XFlush(dpy_);
    }

private:
    struct Popup {
        Window window = 0;
        QZ_Host::Menu_Id menu = QZ_Host::MENU_BAR;
        menu_view::Popup_Layout layout;
        int hot = -1;
        int x = 0, y = 0;  // on the root window
    };

    unsigned long pixel(int r, int g, int b) const {
        XColor c{};
        c.red = static_cast<unsigned short>(r * 257);
        c.green = static_cast<unsigned short>(g * 257);
        c.blue = static_cast<unsigned short>(b * 257);
        c.flags = DoRed | DoGreen | DoBlue;
        if (XAllocColor(dpy_, DefaultColormap(dpy_, screen_), &c)) return c.pixel;
        return BlackPixel(dpy_, screen_);
    }

    // A composed picture onto a window, converted to the visual's layout.
    void put(Window w, const QZ_Picture& pic, int x, int y) {
        if (!pic.pixels || pic.width <= 0 || pic.height <= 0) return;
        XImage* img = XCreateImage(dpy_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, nullptr,
                                   static_cast<unsigned>(pic.width), static_cast<unsigned>(pic.height), 32, 0);
        if (!img) return;
        std::vector<char> data(static_cast<std::size_t>(img->bytes_per_line) * pic.height);
        img->data = data.data();
        for (int j = 0; j < pic.height; ++j)
            for (int i = 0; i < pic.width; ++i) {
                const QZ_Pix_A32 p = pic.at(i, j);
                XPutPixel(img, i, j, scale(p.r, visual_->red_mask) | scale(p.g, visual_->green_mask) |
                                         scale(p.b, visual_->blue_mask));
            }
        XPutImage(dpy_, w, gc_, img, 0, 0, x, y, static_cast<unsigned>(pic.width), static_cast<unsigned>(pic.height));
        img->data = nullptr;
        XDestroyImage(img);
    }
    static unsigned long scale(unsigned v, unsigned long mask) {
        if (!mask) return 0;
        int shift = 0;
        while (!((mask >> shift) & 1)) ++shift;
        const unsigned long top = mask >> shift;
        return ((v * top + 127) / 255) << shift;
    }

    // A menu action; the failures it reported are shown once it has ended, so
    // no message box keeps the host mutex (and with it the sound) held.
    void command(int id) {
        g_pending.clear();
        g_queue = true;
        host_.command(id);
        g_queue = false;
        show_pending();
    }

    // A driver that went away (its server killed, its device unplugged) is
    // taken down here, on the window's thread, and the user told why; the
    // Audio menu then offers every driver again.
    void check_driver() {
        if (!host_.driver_lost()) return;
        g_pending.clear();
        g_queue = true;
        const bool gone = host_.take_down_lost_driver();
        g_queue = false;
        if (gone && open_bar_ >= 0) close_menus();  // popups drawn from the old menus
        show_pending();
    }

    void show_pending() {
        const std::vector<std::string> texts = std::move(g_pending);
        g_pending.clear();
        for (const std::string& text : texts) QZ_x11_message_box(nullptr, main_, text.c_str(), "ERROR");
    }

    void draw_bar() {
        XWindowAttributes wa;
        XGetWindowAttributes(dpy_, main_, &wa);
        QZ_Picture pic;
        menu_view::draw_bar(pic, host_.menu(QZ_Host::MENU_BAR), wa.width, open_bar_, keyboard_);
        put(main_, pic, 0, 0);
    }

    void draw_popup(const Popup& p) {
        QZ_Picture pic;
        menu_view::draw_popup(pic, host_.menu(p.menu), p.layout, p.hot);
        put(p.window, pic, 0, 0);
    }

    Popup* popup_of(Window w) {
        for (auto& p : popups_)
            if (p.window == w) return &p;
        return nullptr;
    }

    void open_popup(QZ_Host::Menu_Id menu, int x, int y, bool select_first) {
        Popup p;
        p.menu = menu;
        p.layout = menu_view::popup_layout(host_.menu(menu));
        // Kept on the screen.
        const int sw = DisplayWidth(dpy_, screen_), sh = DisplayHeight(dpy_, screen_);
        if (x + p.layout.width > sw) x = std::max(0, sw - p.layout.width);
        if (y + p.layout.height > sh) y = std::max(0, sh - p.layout.height);
        p.x = x;
        p.y = y;
        if (select_first) p.hot = menu_view::next_selectable(host_.menu(menu), -1, 1);
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.save_under = True;
        a.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | LeaveWindowMask;
        p.window = XCreateWindow(dpy_, RootWindow(dpy_, screen_), x, y, static_cast<unsigned>(p.layout.width),
                                 static_cast<unsigned>(p.layout.height), 0, CopyFromParent, InputOutput,
                                 CopyFromParent, CWOverrideRedirect | CWSaveUnder | CWEventMask, &a);
        XStoreName(dpy_, p.window, "zelo menu");
        XMapRaised(dpy_, p.window);
        popups_.push_back(p);
        draw_popup(popups_.back());
    }

    void close_popups_from(std::size_t level) {
        while (popups_.size() > level) {
            XDestroyWindow(dpy_, popups_.back().window);
            popups_.pop_back();
        }
    }

    void open_bar_menu(int k, bool keyboard) {
        close_popups_from(0);
        const auto& bar = host_.menu(QZ_Host::MENU_BAR);
        open_bar_ = k;
        keyboard_ = keyboard;
        if (k < 0 || k >= static_cast<int>(bar.items.size())) {
            open_bar_ = -1;
            release_grabs();
            draw_bar();
            return;
        }
        grab();
        const auto& item = bar.items[static_cast<std::size_t>(k)];
        if (item.submenu >= 0) {
            int rx = 0, ry = 0;
            Window child;
            const auto slots = menu_view::bar_layout(bar);
            XTranslateCoordinates(dpy_, main_, RootWindow(dpy_, screen_), slots[static_cast<std::size_t>(k)].left,
                                  menu_view::kBarHeight - 1, &rx, &ry, &child);
            open_popup(static_cast<QZ_Host::Menu_Id>(item.submenu), rx, ry, keyboard);
        }
        draw_bar();
        XFlush(dpy_);
    }

    // A bar item without a popup ("&Help (online)") is chosen at once.
    void choose_bar_item(int k) {
        const auto& bar = host_.menu(QZ_Host::MENU_BAR);
        if (k < 0 || k >= static_cast<int>(bar.items.size())) return;
        const auto& item = bar.items[static_cast<std::size_t>(k)];
        if (item.submenu >= 0) {
            open_bar_menu(k, keyboard_);
        } else if (!item.greyed && item.id) {
            const int id = item.id;
            close_menus();
            command(id);
        }
    }

    void close_menus() {
        close_popups_from(0);
        open_bar_ = -1;
        keyboard_ = false;
        release_grabs();
        draw_bar();
        XFlush(dpy_);
    }

    void grab() {
        if (grabbed_) return;
        XGrabPointer(dpy_, main_, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                     GrabModeAsync, None, None, CurrentTime);
        XGrabKeyboard(dpy_, main_, True, GrabModeAsync, GrabModeAsync, CurrentTime);
        grabbed_ = true;
    }
    void release_grabs() {
        if (!grabbed_) return;
        XUngrabPointer(dpy_, CurrentTime);
        XUngrabKeyboard(dpy_, CurrentTime);
        grabbed_ = false;
    }

    // Opens the submenu of the hot item of popup `level`, if it has one.
    void open_submenu(std::size_t level, bool select_first) {
        close_popups_from(level + 1);
        Popup& p = popups_[level];
        const auto& menu = host_.menu(p.menu);
        if (p.hot < 0) return;
        const auto& item = menu.items[static_cast<std::size_t>(p.hot)];
        if (item.submenu < 0 || item.greyed) return;
        const int x = p.x + p.layout.width - 3, y = p.y + p.layout.top[static_cast<std::size_t>(p.hot)] - 2;
        open_popup(static_cast<QZ_Host::Menu_Id>(item.submenu), x, y, select_first);
    }

    void activate(std::size_t level) {
        Popup& p = popups_[level];
        const auto& menu = host_.menu(p.menu);
        if (p.hot < 0) return;
        const auto& item = menu.items[static_cast<std::size_t>(p.hot)];
        if (!menu_view::selectable(item)) return;
        if (item.submenu >= 0) {
            open_submenu(level, true);
            return;
        }
        const int id = item.id;
        close_menus();
        if (id) command(id);
    }

    void set_hot(std::size_t level, int hot) {
        Popup& p = popups_[level];
        if (p.hot == hot) return;
        p.hot = hot;
        draw_popup(p);
    }

    void handle(XEvent& ev) {
        switch (ev.type) {
            case Expose:
                if (ev.xexpose.count != 0) break;
                if (ev.xexpose.window == main_)
                    draw_bar();
                else if (Popup* p = popup_of(ev.xexpose.window))
                    draw_popup(*p);
                break;
            case ClientMessage:
                if (ev.xclient.window == main_ && static_cast<Atom>(ev.xclient.data.l[0]) == wm_delete_)
                    running_ = false;
                break;
            case ButtonPress: on_press(ev.xbutton); break;
            case ButtonRelease: on_release(ev.xbutton); break;
            case MotionNotify: on_motion(ev.xmotion); break;
            case KeyPress: on_key(ev.xkey); break;
            case FocusOut:
                if (open_bar_ >= 0 && !grabbed_) close_menus();
                break;
            default: break;
        }
    }

    // Where a pointer event is: a popup level and item, or the bar item, or nothing.
    struct Hit {
        int level = -1, item = -1, bar = -1;
    };
    Hit hit_at(Window w, int x, int y) {
        Hit h;
        int rx = x, ry = y;
        Window child;
        XTranslateCoordinates(dpy_, w, RootWindow(dpy_, screen_), x, y, &rx, &ry, &child);
        for (std::size_t k = popups_.size(); k-- > 0;) {
            const Popup& p = popups_[k];
            if (rx >= p.x && rx < p.x + p.layout.width && ry >= p.y && ry < p.y + p.layout.height) {
                h.level = static_cast<int>(k);
                h.item = menu_view::popup_hit(host_.menu(p.menu), p.layout, rx - p.x, ry - p.y);
                return h;
            }
        }
        int mx = 0, my = 0;
        XTranslateCoordinates(dpy_, RootWindow(dpy_, screen_), main_, rx, ry, &mx, &my, &child);
        XWindowAttributes wa;
        XGetWindowAttributes(dpy_, main_, &wa);
        if (mx >= 0 && mx < wa.width && my >= 0 && my < menu_view::kBarHeight)
            h.bar = menu_view::bar_hit(menu_view::bar_layout(host_.menu(QZ_Host::MENU_BAR)), mx);
        return h;
    }

    void on_press(const XButtonEvent& e) {
        if (e.button != Button1) {
            if (open_bar_ >= 0) close_menus();
            return;
        }
        const Hit h = hit_at(e.window, e.x, e.y);
        if (h.bar >= 0) {
            if (h.bar == open_bar_)
                close_menus();
            else
                choose_bar_item(h.bar), open_bar_ >= 0 ? void(keyboard_ = false) : void();
            return;
        }
        if (h.level < 0 && open_bar_ >= 0) close_menus();
    }

    void on_release(const XButtonEvent& e) {
        if (e.button != Button1 || popups_.empty()) return;
        const Hit h = hit_at(e.window, e.x, e.y);
        if (h.level >= 0 && h.item >= 0) {
            set_hot(static_cast<std::size_t>(h.level), h.item);
            activate(static_cast<std::size_t>(h.level));
        }
    }

    void on_motion(const XMotionEvent& e) {
        if (open_bar_ < 0) return;
        const Hit h = hit_at(e.window, e.x, e.y);
        if (h.bar >= 0 && h.bar != open_bar_ && host_.menu(QZ_Host::MENU_BAR).items[h.bar].submenu >= 0) {
            open_bar_menu(h.bar, false);
            return;
        }
        if (h.level >= 0) {
            const std::size_t level = static_cast<std::size_t>(h.level);
            if (h.item != popups_[level].hot) {
                set_hot(level, h.item);
                // Hovering an item with a submenu opens it; any other closes deeper ones.
                close_popups_from(level + 1);
                if (h.item >= 0) open_submenu(level, false);
            }
        }
    }

    void on_key(XKeyEvent& e) {
        KeySym sym = XLookupKeysym(&e, 0);
        const bool alt = (e.state & Mod1Mask) != 0;
        char letter = 0;
        if (sym >= XK_a && sym <= XK_z) letter = static_cast<char>('a' + (sym - XK_a));
        if (sym >= XK_0 && sym <= XK_9) letter = static_cast<char>('0' + (sym - XK_0));
        const auto& bar = host_.menu(QZ_Host::MENU_BAR);
        if (popups_.empty() && open_bar_ < 0) {
            if (alt && letter) {
                const int k = menu_view::find_mnemonic(bar, letter);
                if (k >= 0) {
                    keyboard_ = true;
                    if (bar.items[static_cast<std::size_t>(k)].submenu >= 0)
                        open_bar_menu(k, true);
                    else
                        choose_bar_item(k);
                }
            } else if (sym == XK_F10) {
                open_bar_menu(0, true);
            }
            return;
        }
        if (alt && letter) {  // Alt+letter while a menu is open: another bar menu
            const int k = menu_view::find_mnemonic(bar, letter);
            if (k >= 0) choose_bar_item(k);
            return;
        }
        if (popups_.empty()) {  // a bar item is open without popup
            if (sym == XK_Escape) close_menus();
            return;
        }
        const std::size_t level = popups_.size() - 1;
        Popup& p = popups_[level];
        const auto& menu = host_.menu(p.menu);
        const int bar_count = static_cast<int>(bar.items.size());
        switch (sym) {
            case XK_Escape:
                if (level > 0)
                    close_popups_from(level);
                else
                    close_menus();
                break;
            case XK_Down: set_hot(level, menu_view::next_selectable(menu, p.hot, 1)); break;
            case XK_Up: set_hot(level, menu_view::next_selectable(menu, p.hot < 0 ? 0 : p.hot, -1)); break;
            case XK_Right:
                if (p.hot >= 0 && menu.items[static_cast<std::size_t>(p.hot)].submenu >= 0)
                    open_submenu(level, true);
                else
                    open_bar_menu((open_bar_ + 1) % bar_count, true);
                break;
            case XK_Left:
                if (level > 0)
                    close_popups_from(level);
                else
                    open_bar_menu((open_bar_ + bar_count - 1) % bar_count, true);
                break;
            case XK_Return:
            case XK_KP_Enter:
            case XK_space: activate(level); break;
            default:
                if (letter) {
                    const int k = menu_view::find_mnemonic(menu, letter);
                    if (k >= 0) {
                        set_hot(level, k);
                        activate(level);
                    }
                }
                break;
        }
        XFlush(dpy_);
    }

    Display* dpy_;
    QZ_Host& host_;
    int screen_ = 0;
    Visual* visual_ = nullptr;
    int depth_ = 24;
    Atom wm_delete_ = 0;
    Window main_ = 0, effect_ = 0;
    GC gc_ = nullptr;
    int width_ = 0;
    bool running_ = true;
    int open_bar_ = -1;
    bool keyboard_ = false;
    bool grabbed_ = false;
    std::vector<Popup> popups_;
};

// Help: our own page, in the user's browser.
struct Help_Context {
    std::string page;
};
void open_help(void* ctx) {
    const std::string& page = static_cast<Help_Context*>(ctx)->page;
    if (page.empty()) {
        report(__LINE__, "menu_help", "The help page is not installed");
        return;
    }
    const std::string url = "file://" + page;
    const char* opener = std::getenv("ZELO_HELP_OPENER");
    if (!opener || !*opener) opener = "xdg-open";
    char* argv[] = {const_cast<char*>(opener), const_cast<char*>(url.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, opener, nullptr, nullptr, argv, environ) != 0) {
        report(__LINE__, "menu_help", "Cannot start a program to show the help page (xdg-open, or ZELO_HELP_OPENER)");
        return;
    }
    // Reaped at once when it has finished; a browser left running is not waited for.
    int status = 0;
    ::waitpid(pid, &status, WNOHANG);
}

std::string exe_dir() {
    char buf[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string p(buf, static_cast<std::size_t>(n));
    const std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

}  // namespace

std::string zelo_help_page(const char* dir) {
    const std::string base = dir ? dir : exe_dir();
    const std::string candidates[] = {
        base + "/../share/doc/zelo/host.html",  // installed
        base + "/docs/host.html",
#ifdef ZELO_SOURCE_DIR
        std::string(ZELO_SOURCE_DIR) + "/docs/host.html",  // the build tree
#endif
    };
    for (const std::string& c : candidates) {
        struct stat st;
        if (::stat(c.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            char real[PATH_MAX];
            return ::realpath(c.c_str(), real) ? std::string(real) : c;
        }
    }
    return {};
}

int zelo_host_main(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "-h" || a == "--help") {
            std::puts("usage: zelo host\n  opens the host window (needs an X display: $DISPLAY)");
            return 0;
        }
        std::fprintf(stderr, "zelo: unexpected argument '%s'\n", a.c_str());
        return 2;
    }
    setenv("ZELO_VST_TRACE", "0", 0);
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        const char* name = std::getenv("DISPLAY");
        std::fprintf(stderr, "zelo: cannot open the X display %s\n", name && *name ? name : "(DISPLAY is not set)");
        return 1;
    }
    struct sigaction sa{};
    sa.sa_handler = &on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    Help_Context help{zelo_help_page(nullptr)};
    int status = 0;
    {
        QZ_Host host(&VSTPluginMain);
        host.on_help = &open_help;
        host.report_fn = &report;
        host.help_context = &help;
        host.start(zelo_driver_classes());
        Front front(dpy, host);
        front.create_main(600, 450);
        host.set_effect_window(reinterpret_cast<void*>(front.effect_window()));
        host.command(QZ_Host::CMD_ADD);
        int w = 0, h = 0;
        if (!host.editor_rect(&w, &h)) {
            QZ_error_func("host", __LINE__, "WinMain", __DATE__, __TIME__, "Cannot get metrics of effect editor");
            w = 600;
            h = 800;
        }
        front.set_title(host.effect_name());
        front.size(w, h);
        front.show();
        QZ_initall();
        std::printf("zelo host: window 0x%lx, effect window 0x%lx, drivers:", front.main_window(),
                    front.effect_window());
        for (int i = 0; i < host.driver_count(); ++i) std::printf(" \"%s\"", host.driver(i)->name);
        std::printf("%s\n", host.driver_count() ? "" : " none");
        std::fflush(stdout);
        front.loop();
        host.shutdown();
    }
    XCloseDisplay(dpy);
    return status;
}
