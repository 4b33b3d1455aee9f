#include "gui/dlg_box_x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "gui/dlg_file.h"
#include "gui/pic.h"
#include "gui/text.h"

namespace fs = std::filesystem;

namespace {

// Layout of the chooser, in pixels.
constexpr int W = 380, H = 330;
constexpr int PAD = 10;
constexpr int ROW = 18;
constexpr QZ_Rect FOLDER{PAD, 8, W - PAD, 26};
constexpr QZ_Rect LIST{PAD, 30, W - PAD, 30 + 11 * ROW + 4};
constexpr int ROWS = (LIST.bottom - LIST.top - 4) / ROW;
constexpr QZ_Rect NOTICE{PAD, LIST.bottom + 4, W - PAD, LIST.bottom + 22};
constexpr QZ_Rect NAME_LABEL{PAD, NOTICE.bottom + 4, PAD + 70, NOTICE.bottom + 26};
constexpr QZ_Rect NAME{PAD + 72, NOTICE.bottom + 4, W - PAD, NOTICE.bottom + 26};
constexpr QZ_Rect CANCEL{W - PAD - 80, H - PAD - 26, W - PAD, H - PAD};
constexpr QZ_Rect OK{W - PAD - 170, H - PAD - 26, W - PAD - 90, H - PAD};
// The question shares the window: a card over the dimmed chooser.
constexpr QZ_Rect CARD{30, 95, W - 30, 215};
constexpr QZ_Rect YES{CARD.right - 190, CARD.bottom - 38, CARD.right - 100, CARD.bottom - 12};
constexpr QZ_Rect NO{CARD.right - 90, CARD.bottom - 38, CARD.right - 12, CARD.bottom - 12};

// Colours of the editor's panel: dark faces, violet accents.
constexpr std::uint32_t C_BACK = 0x1E1F26, C_WELL = 0x111216, C_EDGE = 0x3A3C4A, C_TEXT = 0xE6E4EE,
                        C_DIM = 0x9A98A8, C_ACCENT = 0x8070EE, C_SELECT = 0x3A3160, C_NOTICE = 0xF08CA0,
                        C_BUTTON = 0x2C2E3A, C_FOLDER = 0xC8B8F8;

bool inside(const QZ_Rect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

QZ_Pix_A32 pix(std::uint32_t rgb) {
    return {static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8),
            static_cast<std::uint8_t>(rgb >> 16), 255};
}

void fill(QZ_Picture& p, QZ_Rect r, std::uint32_t rgb) {
    r = QZ_intersect(r, {0, 0, p.width, p.height});
    const QZ_Pix_A32 c = pix(rgb);
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) p.at(x, y) = c;
}

void outline(QZ_Picture& p, const QZ_Rect& r, std::uint32_t rgb) {
    fill(p, {r.left, r.top, r.right, r.top + 1}, rgb);
    fill(p, {r.left, r.bottom - 1, r.right, r.bottom}, rgb);
    fill(p, {r.left, r.top, r.left + 1, r.bottom}, rgb);
    fill(p, {r.right - 1, r.top, r.right, r.bottom}, rgb);
}

// Draws one line of text into `r`; returns the x just past its last lit pixel.
int text(QZ_Picture& p, const QZ_Rect& r, const std::string& s, std::uint32_t rgb, int horz = -1,
         bool bold = false) {
    if (r.empty() || s.empty()) return r.left;
    QZ_Picture mask;
    mask.allocate(r.right - r.left, r.bottom - r.top);
    mask.fill({0, 0, 0, 0});
    QZ_text_raster().render(mask, s, {"Tahoma", 12, bold}, 0xFFFFFF, horz);
    const QZ_Pix_A32 c = pix(rgb);
    int right = r.left;
    for (int y = 0; y < mask.height; ++y)
        for (int x = 0; x < mask.width; ++x) {
            const int cov = mask.at(x, y).g;
            if (!cov) continue;
            const int tx = r.left + x, ty = r.top + y;
            if (tx < 0 || ty < 0 || tx >= p.width || ty >= p.height) continue;
            QZ_Pix_A32& d = p.at(tx, ty);
            d.r = static_cast<std::uint8_t>(d.r + (c.r - d.r) * cov / 255);
            d.g = static_cast<std::uint8_t>(d.g + (c.g - d.g) * cov / 255);
            d.b = static_cast<std::uint8_t>(d.b + (c.b - d.b) * cov / 255);
            right = std::max(right, tx + 1);
        }
    return right;
}

void button(QZ_Picture& p, const QZ_Rect& r, const char* label, bool focus, bool primary) {
    fill(p, r, primary ? C_SELECT : C_BUTTON);
    outline(p, r, focus ? C_ACCENT : C_EDGE);
    if (focus) outline(p, {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, C_ACCENT);
    text(p, r, label, C_TEXT, 0, primary);
}

// The toplevel window that holds `w` (the window manager knows only those).
Window toplevel(Display* d, Window w) {
    for (int guard = 0; w && guard < 64; ++guard) {
        Window root = 0, parent = 0, *kids = nullptr;
        unsigned n = 0;
        if (!XQueryTree(d, w, &root, &parent, &kids, &n)) return 0;
        if (kids) XFree(kids);
        if (parent == root || !parent) return w;
        w = parent;
    }
    return w;
}

// Protocol errors on the dialog's connections (an owner window that has gone
// away, say) must not end the process; the dialog carries on without what
// failed. The handler is process-wide: installed once and never taken out,
// it passes errors of other connections on to the handler it found, so a
// chain that other windows build on top of it stays whole.
std::mutex g_err_mutex;
std::vector<Display*> g_dialog_displays;
XErrorHandler g_outer_handler = nullptr;
bool g_handler_installed = false;
int dialog_errors(Display* d, XErrorEvent* e) {
    {
        std::lock_guard<std::mutex> lock(g_err_mutex);
        if (std::find(g_dialog_displays.begin(), g_dialog_displays.end(), d) != g_dialog_displays.end())
            return 0;
    }
    return g_outer_handler ? g_outer_handler(d, e) : 0;
}
void adopt_display(Display* d) {
    std::lock_guard<std::mutex> lock(g_err_mutex);
    g_dialog_displays.push_back(d);
    if (!g_handler_installed) {
        g_outer_handler = XSetErrorHandler(&dialog_errors);
        g_handler_installed = true;
    }
}
void forget_display(Display* d) {
    std::lock_guard<std::mutex> lock(g_err_mutex);
    g_dialog_displays.erase(std::remove(g_dialog_displays.begin(), g_dialog_displays.end(), d),
                            g_dialog_displays.end());
}

// UTF-8 of one Latin-1 character.
void append_latin1(std::string& s, unsigned char c) {
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
}
void erase_last_char(std::string& s) {
    while (!s.empty()) {
        const unsigned char c = static_cast<unsigned char>(s.back());
        s.pop_back();
        if ((c & 0xC0) != 0x80) break;  // stop after a lead or plain byte
    }
}

}  // namespace

struct QZ_Dlg_Box_X11::Impl {
    Display* dpy = nullptr;
    Window win = 0;
    GC gc = nullptr;
    XImage* image = nullptr;
    bool direct = false;
    Atom wm_delete = 0;
    QZ_Picture pic;

    // Chooser state.
    struct Entry {
        std::string name;
        bool folder;
    };
    QZ_Dlg_Kind kind = QZ_Dlg_Kind::open;
    std::string folder;
    std::vector<Entry> entries;
    int sel = -1, top = 0;
    std::string name, notice;
    enum Focus { AT_LIST, AT_NAME, AT_OK, AT_CANCEL, AT_COUNT } focus = AT_NAME;
    // Question state.
    bool asking = false;
    std::string question;
    bool yes_focus = false;
    Time last_click = 0;
    int last_row = -1;

    ~Impl() {
        if (!dpy) return;
        if (image) {
            if (direct) image->data = nullptr;
            XDestroyImage(image);
        }
        if (gc) XFreeGC(dpy, gc);
        if (win) XDestroyWindow(dpy, win);
        XCloseDisplay(dpy);
        forget_display(dpy);
    }

    bool open(const std::string& display, unsigned long transient_for, const std::string& title) {
        dpy = XOpenDisplay(display.empty() ? nullptr : display.c_str());
        if (!dpy) return false;
        adopt_display(dpy);
        const int screen = DefaultScreen(dpy);
        const Window root = RootWindow(dpy, screen);
        Window owner = transient_for ? toplevel(dpy, transient_for) : 0;
        int x = (DisplayWidth(dpy, screen) - W) / 2, y = (DisplayHeight(dpy, screen) - H) / 2;
        if (owner) {
            XWindowAttributes oa;
            Window child;
            int ox = 0, oy = 0;
            if (XGetWindowAttributes(dpy, owner, &oa) &&
                XTranslateCoordinates(dpy, owner, root, 0, 0, &ox, &oy, &child)) {
                x = ox + (oa.width - W) / 2;
                y = oy + (oa.height - H) / 2;
            } else {
                owner = 0;
            }
        }
        XSetWindowAttributes wa;
        std::memset(&wa, 0, sizeof wa);
        wa.event_mask = ExposureMask | KeyPressMask | ButtonPressMask | StructureNotifyMask;
        wa.background_pixel = BlackPixel(dpy, screen);
        win = XCreateWindow(dpy, root, std::max(0, x), std::max(0, y), W, H, 0, CopyFromParent, InputOutput,
                            CopyFromParent, CWEventMask | CWBackPixel, &wa);
        if (!win) return false;
        XStoreName(dpy, win, title.c_str());
        const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
        XChangeProperty(dpy, win, XInternAtom(dpy, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
        const Atom type = XInternAtom(dpy, "_NET_WM_WINDOW_TYPE_DIALOG", False);
        XChangeProperty(dpy, win, XInternAtom(dpy, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&type), 1);
        if (owner) {
            XSetTransientForHint(dpy, win, owner);
            const Atom modal = XInternAtom(dpy, "_NET_WM_STATE_MODAL", False);
            XChangeProperty(dpy, win, XInternAtom(dpy, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&modal), 1);
        }
        XSizeHints* sh = XAllocSizeHints();
        if (sh) {
            sh->flags = PMinSize | PMaxSize | PPosition;
            sh->min_width = sh->max_width = W;
            sh->min_height = sh->max_height = H;
            sh->x = x;
            sh->y = y;
            XSetWMNormalHints(dpy, win, sh);
            XFree(sh);
        }
        wm_delete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(dpy, win, &wm_delete, 1);
        gc = XCreateGC(dpy, win, 0, nullptr);

        XWindowAttributes a;
        XGetWindowAttributes(dpy, win, &a);
        direct = (a.depth == 24 || a.depth == 32) && a.visual->red_mask == 0xFF0000 &&
                 a.visual->green_mask == 0xFF00 && a.visual->blue_mask == 0xFF &&
                 ImageByteOrder(dpy) == LSBFirst;
        image = XCreateImage(dpy, a.visual, static_cast<unsigned>(a.depth), ZPixmap, 0, nullptr, W, H, 32, 0);
        if (!image) return false;
        image->byte_order = LSBFirst;
        if (!direct) {
            image->data = static_cast<char*>(std::calloc(static_cast<std::size_t>(image->bytes_per_line), H));
            if (!image->data) return false;
        }
        pic.allocate(W, H);

        XMapRaised(dpy, win);
        // Keys go to the dialog while it is up, also on displays without a window manager.
        // Focus needs the window mapped; a window manager that holds it back
        // for long leaves the focus to the user.
        XFlush(dpy);
        bool mapped = false;
        for (int waited = 0; !mapped && waited < 2000; waited += 10) {
            XEvent e;
            while (!mapped && XCheckTypedWindowEvent(dpy, win, MapNotify, &e)) mapped = true;
            if (!mapped) {
                pollfd pfd{ConnectionNumber(dpy), POLLIN, 0};
                ::poll(&pfd, 1, 10);
            }
        }
        if (mapped) XSetInputFocus(dpy, win, RevertToParent, CurrentTime);
        return true;
    }

    // --- the chooser ------------------------------------------------------

    void load(const std::string& dir, const QZ_Dlg_File_Base& dlg) {
        std::error_code ec;
        fs::path p = fs::absolute(fs::path(dir.empty() ? "." : dir), ec).lexically_normal();
        if (p.has_filename() == false && p != p.root_path()) p = p.parent_path();
        folder = p.string();
        entries.clear();
        if (p != p.root_path()) entries.push_back({"..", true});
        std::vector<Entry> found;
        for (fs::directory_iterator it(p, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec)) {
            const std::string n = it->path().filename().string();
            if (n.empty() || n[0] == '.') continue;
            std::error_code e2;
            const bool is_dir = it->is_directory(e2);
            if (is_dir || (it->is_regular_file(e2) && dlg.matches(n))) found.push_back({n, is_dir});
            if (found.size() >= 20000) break;  // a huge folder is listed in part
        }
        std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
            if (a.folder != b.folder) return a.folder;
            return strcasecmp(a.name.c_str(), b.name.c_str()) < 0;
        });
        entries.insert(entries.end(), found.begin(), found.end());
        sel = -1;
        top = 0;
    }

    void select(int i) {
        if (entries.empty()) return;
        sel = std::clamp(i, 0, static_cast<int>(entries.size()) - 1);
        if (sel < top) top = sel;
        if (sel >= top + ROWS) top = sel - ROWS + 1;
        if (!entries[static_cast<std::size_t>(sel)].folder)
            name = entries[static_cast<std::size_t>(sel)].name;
    }

    std::string child(const std::string& n) const { return folder == "/" ? "/" + n : folder + "/" + n; }

    void draw_chooser() {
        fill(pic, {0, 0, W, H}, C_BACK);
        outline(pic, {0, 0, W, H}, C_EDGE);
        // Folder, shortened from the left so that its end shows.
        std::string f = folder;
        const std::size_t room = 52;
        if (f.size() > room) f = "..." + f.substr(f.size() - room + 3);
        text(pic, FOLDER, f, C_DIM);

        fill(pic, LIST, C_WELL);
        outline(pic, LIST, focus == AT_LIST ? C_ACCENT : C_EDGE);
        for (int r = 0; r < ROWS; ++r) {
            const int i = top + r;
            if (i >= static_cast<int>(entries.size())) break;
            const Entry& e = entries[static_cast<std::size_t>(i)];
            const QZ_Rect row{LIST.left + 2, LIST.top + 2 + r * ROW, LIST.right - 2,
                              LIST.top + 2 + (r + 1) * ROW};
            if (i == sel) fill(pic, row, C_SELECT);
            if (e.folder) {  // a small folder mark
                fill(pic, {row.left + 5, row.top + 6, row.left + 15, row.top + 14}, C_FOLDER);
                fill(pic, {row.left + 5, row.top + 4, row.left + 10, row.top + 6}, C_FOLDER);
            }
            text(pic, {row.left + 20, row.top, row.right - 4, row.bottom}, e.name,
                 e.folder ? C_FOLDER : C_TEXT);
        }
        if (entries.size() > static_cast<std::size_t>(ROWS)) {  // where the view is in a long list
            const int h = LIST.bottom - LIST.top - 4, n = static_cast<int>(entries.size());
            const int t = LIST.top + 2 + h * top / n, b = LIST.top + 2 + h * std::min(n, top + ROWS) / n;
            fill(pic, {LIST.right - 5, t, LIST.right - 2, std::max(b, t + 4)}, C_EDGE);
        }

        std::string line = notice;
        std::replace(line.begin(), line.end(), '\n', ' ');
        text(pic, NOTICE, line, C_NOTICE);
        text(pic, NAME_LABEL, "File name:", C_DIM);
        fill(pic, NAME, C_WELL);
        outline(pic, NAME, focus == AT_NAME ? C_ACCENT : C_EDGE);
        // The end of a long name stays in view: where typing happens.
        std::string shown = name;
        const QZ_Rect field{NAME.left + 5, NAME.top, NAME.right - 6, NAME.bottom};
        int end = text(pic, field, shown, C_TEXT);
        while (end >= field.right - 2 && shown.size() > 1) {
            fill(pic, {NAME.left + 1, NAME.top + 1, NAME.right - 1, NAME.bottom - 1}, C_WELL);
            shown.erase(0, std::min<std::size_t>(4, shown.size() - 1));
            end = text(pic, field, shown, C_TEXT);
        }
        if (focus == AT_NAME) {
            // Spaces light no pixels: each trailing one moves the caret on by a space's width.
            std::size_t spaces = 0;
            while (spaces < shown.size() && shown[shown.size() - 1 - spaces] == ' ') ++spaces;
            const int cx = (spaces == shown.size() ? field.left : end + 1) + 3 * static_cast<int>(spaces);
            fill(pic, {cx, NAME.top + 4, cx + 1, NAME.bottom - 4}, C_TEXT);
        }
        button(pic, OK, kind == QZ_Dlg_Kind::save ? "Save" : "Open", focus == AT_OK, true);
        button(pic, CANCEL, "Cancel", focus == AT_CANCEL, false);
    }

    void draw_question() {
        draw_chooser();
        for (int y = 1; y < H - 1; ++y)  // the chooser fades behind the question
            for (int x = 1; x < W - 1; ++x) {
                QZ_Pix_A32& p = pic.at(x, y);
                p.r = static_cast<std::uint8_t>(p.r * 2 / 5);
                p.g = static_cast<std::uint8_t>(p.g * 2 / 5);
                p.b = static_cast<std::uint8_t>(p.b * 2 / 5);
            }
        fill(pic, CARD, C_BACK);
        outline(pic, CARD, C_ACCENT);
        // The file's name on its own line, then the question.
        const auto nl = question.find('\n');
        const std::string first = question.substr(0, nl);
        const std::string rest = nl == std::string::npos ? "" : question.substr(nl + 1);
        text(pic, {CARD.left + 14, CARD.top + 16, CARD.right - 14, CARD.top + 36}, first, C_TEXT, -1, true);
        text(pic, {CARD.left + 14, CARD.top + 38, CARD.right - 14, CARD.top + 58}, rest, C_DIM, -1);
        button(pic, YES, "Replace", yes_focus, true);
        button(pic, NO, "Cancel", !yes_focus, false);
    }

    void present() {
        if (asking)
            draw_question();
        else
            draw_chooser();
        if (direct) {
            image->data = reinterpret_cast<char*>(pic.pixels);
            image->bytes_per_line = W * 4;
        } else {
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    const QZ_Pix_A32 p = pic.at(x, y);
                    // Plain scaling to the visual's masks.
                    auto part = [](unsigned c, unsigned long mask) {
                        int shift = 0, bits = 0;
                        while (mask && !((mask >> shift) & 1)) ++shift;
                        while ((mask >> (shift + bits)) & 1) ++bits;
                        const unsigned long v = bits >= 8 ? c << (bits - 8) : c >> (8 - bits);
                        return (v << shift) & mask;
                    };
                    XPutPixel(image, x, y,
                              part(p.r, image->red_mask) | part(p.g, image->green_mask) |
                                  part(p.b, image->blue_mask));
                }
        }
        XPutImage(dpy, win, gc, image, 0, 0, 0, 0, W, H);
        if (direct) image->data = nullptr;
        XFlush(dpy);
    }

    enum class Step { go_on, done, cancel };

    // Enter, a double click, or the OK button: a folder is opened, a name is the answer.
    Step activate(const QZ_Dlg_File_Base& dlg, std::string& answer) {
        if (focus == AT_CANCEL) return Step::cancel;
        if ((focus == AT_LIST || name.empty()) && sel >= 0) {
            const Entry& e = entries[static_cast<std::size_t>(sel)];
            if (e.folder) {
                load(e.name == ".." ? fs::path(folder).parent_path().string() : child(e.name), dlg);
                notice.clear();
                return Step::go_on;
            }
            name = e.name;
        }
        if (name.empty()) {
            notice = "Type a file name.";
            return Step::go_on;
        }
        std::string n = name;
        if (n == "~" || n.rfind("~/", 0) == 0) {
            const char* home = std::getenv("HOME");
            if (home) n = home + n.substr(1);
        }
        const std::string full = n[0] == '/' ? n : child(n);
        std::error_code ec;
        if (fs::is_directory(full, ec)) {  // a typed folder is opened
            load(full, dlg);
            name.clear();
            notice.clear();
            focus = AT_NAME;
            return Step::go_on;
        }
        answer = fs::path(full).lexically_normal().string();
        return Step::done;
    }

    Step key(XKeyEvent& k, const QZ_Dlg_File_Base& dlg, std::string& answer) {
        char buf[16];
        KeySym sym = 0;
        const int n = XLookupString(&k, buf, sizeof buf, &sym, nullptr);
        switch (sym) {
            case XK_Escape: return Step::cancel;
            case XK_Tab:
            case XK_ISO_Left_Tab:
                focus = static_cast<Focus>(
                    (focus + ((k.state & ShiftMask) || sym == XK_ISO_Left_Tab ? AT_COUNT - 1 : 1)) %
                    AT_COUNT);
                return Step::go_on;
            case XK_Return:
            case XK_KP_Enter: return activate(dlg, answer);
            case XK_Up:
            case XK_KP_Up:
                focus = AT_LIST;
                select(sel < 0 ? 0 : sel - 1);
                return Step::go_on;
            case XK_Down:
            case XK_KP_Down:
                focus = AT_LIST;
                select(sel + 1);
                return Step::go_on;
            case XK_Page_Up: select(sel - ROWS); return Step::go_on;
            case XK_Page_Down: select(sel + ROWS); return Step::go_on;
            case XK_BackSpace:
                focus = AT_NAME;
                erase_last_char(name);
                return Step::go_on;
            default: break;
        }
        if (k.state & ControlMask) return Step::go_on;
        bool typed = false;
        for (int i = 0; i < n; ++i) {
            const unsigned char c = static_cast<unsigned char>(buf[i]);
            if (c < 0x20 || c == 0x7F || name.size() >= QZ_Dlg_File_Base::PATH_CHARS - 8) continue;
            append_latin1(name, c);
            typed = true;
        }
        if (typed) focus = AT_NAME;
        return Step::go_on;
    }

    Step click(const XButtonEvent& b, const QZ_Dlg_File_Base& dlg, std::string& answer) {
        if (b.button == Button4 || b.button == Button5) {  // the wheel scrolls the list
            const int most = std::max(0, static_cast<int>(entries.size()) - ROWS);
            top = std::clamp(top + (b.button == Button4 ? -3 : 3), 0, most);
            return Step::go_on;
        }
        if (b.button != Button1) return Step::go_on;
        if (inside(LIST, b.x, b.y)) {
            focus = AT_LIST;
            const int row = top + (b.y - LIST.top - 2) / ROW;
            if (row < 0 || row >= static_cast<int>(entries.size())) return Step::go_on;
            const bool twice = row == last_row && b.time - last_click < 400;
            last_row = row;
            last_click = b.time;
            select(row);
            return twice ? activate(dlg, answer) : Step::go_on;
        }
        if (inside(NAME, b.x, b.y)) focus = AT_NAME;
        if (inside(OK, b.x, b.y)) {
            focus = AT_NAME;
            return activate(dlg, answer);
        }
        if (inside(CANCEL, b.x, b.y)) return Step::cancel;
        return Step::go_on;
    }

    // Waits for the next event of the dialog's window; false when the window is gone.
    bool next(XEvent& e) {
        for (;;) {
            XNextEvent(dpy, &e);
            if (e.xany.window != win) continue;
            if (e.type == DestroyNotify) {
                win = 0;
                return false;
            }
            return true;
        }
    }
};

QZ_Dlg_Box_X11::QZ_Dlg_Box_X11(const std::string& display, unsigned long transient_for, const char* title)
    : display_(display), transient_for_(transient_for), title_(title ? title : "") {}

QZ_Dlg_Box_X11::~QZ_Dlg_Box_X11() = default;

bool QZ_Dlg_Box_X11::ready() {
    if (impl_) return impl_->win != 0;
    impl_ = std::make_unique<Impl>();
    return impl_->open(display_, transient_for_, title_) && impl_->win;
}

std::optional<std::string> QZ_Dlg_Box_X11::choose(QZ_Dlg_Kind kind, const std::string& proposed,
                                                  const std::string& notice, const QZ_Dlg_File_Base& dlg) {
    if (!ready()) return std::nullopt;
    Impl& d = *impl_;
    d.asking = false;
    d.kind = kind;
    d.notice = notice;
    std::error_code ec;
    if (!proposed.empty() && !fs::is_directory(proposed, ec)) {
        const fs::path p(proposed);
        d.load(p.has_parent_path() ? p.parent_path().string() : ".", dlg);
        d.name = p.filename().string();
    } else {
        d.load(proposed.empty() ? "." : proposed, dlg);
        d.name.clear();
    }
    d.focus = Impl::AT_NAME;
    d.present();
    XEvent e;
    while (d.next(e)) {
        std::string answer;
        Impl::Step s = Impl::Step::go_on;
        switch (e.type) {
            case Expose:
                if (e.xexpose.count == 0) d.present();
                continue;
            case KeyPress: s = d.key(e.xkey, dlg, answer); break;
            case ButtonPress: s = d.click(e.xbutton, dlg, answer); break;
            case ClientMessage:
                if (static_cast<Atom>(e.xclient.data.l[0]) == d.wm_delete) s = Impl::Step::cancel;
                break;
            default: continue;
        }
        if (s == Impl::Step::done) return answer;
        if (s == Impl::Step::cancel) return std::nullopt;
        d.present();
    }
    return std::nullopt;
}

bool QZ_Dlg_Box_X11::confirm_replace(const std::string& path) {
    if (!ready()) return false;
    Impl& d = *impl_;
    d.asking = true;
    d.question = fs::path(path).filename().string() + " already exists.\nDo you want to replace it?";
    d.yes_focus = false;  // Enter alone does not destroy a file
    d.present();
    XEvent e;
    bool answer = false;
    for (bool done = false; !done && d.next(e);) {
        switch (e.type) {
            case Expose:
                if (e.xexpose.count == 0) d.present();
                break;
            case KeyPress: {
                char buf[8];
                KeySym sym = 0;
                XLookupString(&e.xkey, buf, sizeof buf, &sym, nullptr);
                if (sym == XK_Escape || sym == XK_n || sym == XK_N) {
                    done = true;
                } else if (sym == XK_y || sym == XK_Y) {
                    answer = done = true;
                } else if (sym == XK_Return || sym == XK_KP_Enter) {
                    answer = d.yes_focus;
                    done = true;
                } else if (sym == XK_Tab || sym == XK_ISO_Left_Tab || sym == XK_Left || sym == XK_Right) {
                    d.yes_focus = !d.yes_focus;
                    d.present();
                }
                break;
            }
            case ButtonPress:
                if (e.xbutton.button == Button1 && inside(YES, e.xbutton.x, e.xbutton.y))
                    answer = done = true;
                if (e.xbutton.button == Button1 && inside(NO, e.xbutton.x, e.xbutton.y)) done = true;
                break;
            case ClientMessage:
                if (static_cast<Atom>(e.xclient.data.l[0]) == d.wm_delete) done = true;
                break;
            default: break;
        }
    }
    d.asking = false;
    return answer;
}
