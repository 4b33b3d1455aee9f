// Preset files: the effect linked into this program, its file dialog answered
// by a script and its message boxes caught, the preset buttons pressed through
// a window's pointer handling as a user presses them.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/command.h"
#include "core/error.h"
#include "gui/controls.h"
#include "gui/dlg_file.h"
#include "gui/win.h"
#include "host/vsthost/vsthost.h"
#include "plugin/main_vst.h"
#include "plugin/preset.h"
#include "tests/gui/xvfb.h"

namespace fs = std::filesystem;
using zelo::vsthost::Module;
using zelo::vsthost::Plugin;

namespace {

using Bytes = std::vector<unsigned char>;

const std::string kHeader = std::string("zelo.audio 1-st order low-pass") + '\0';

struct Box {
    std::string text, caption;
};
std::vector<Box> g_boxes;
int catch_box(const char* text, const char* caption) {
    g_boxes.push_back({text, caption});
    return QZ_IDOK;
}

Bytes file_bytes(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}
void write_bytes(const fs::path& p, const Bytes& b) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}
Bytes preset(std::uint32_t state, float freq) {
    Bytes b(kHeader.begin(), kHeader.end());
    std::uint32_t f;
    std::memcpy(&f, &freq, 4);
    for (std::uint32_t w : {state, f})
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(w >> (8 * i)));
    return b;
}

// Whether the load button shows pressed (a load still under way).
bool button_pressed(QZ_Main_Vst* vst) {
    auto* b = QZ_object_as<QZ_Wid_Butt>(vst->widgets[QZ_Application::W_LOAD_BUTTON]);
    return b && b->state;
}

// Whether a top-level window of that name is shown.
bool window_named(Display* d, const char* wanted) {
    Window r, p, *kids = nullptr;
    unsigned n = 0;
    bool found = false;
    XQueryTree(d, DefaultRootWindow(d), &r, &p, &kids, &n);
    for (unsigned k = 0; k < n && !found; ++k) {
        char* name = nullptr;
        XWindowAttributes a;
        found = XFetchName(d, kids[k], &name) && name && std::string(name) == wanted &&
                XGetWindowAttributes(d, kids[k], &a) && a.map_state == IsViewable;
        if (name) XFree(name);
    }
    if (kids) XFree(kids);
    return found;
}

class Presets : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("ZELO_VST_TRACE", "0", 1);
        std::string error;
        self = Module::self(&error);
        ASSERT_TRUE(self) << error;
        plugin = Plugin::create(*self, &error);
        ASSERT_TRUE(plugin) << error;
        plugin->start(44100.0f, 512);
        vst = dynamic_cast<QZ_Main_Vst*>(static_cast<AudioEffect*>(plugin->effect()->object));
        ASSERT_NE(vst, nullptr);
        vst->attach(&win);
        win.redraw({0, 0, win.width(), win.height()});
        dir = fs::temp_directory_path() / ("zelo-presets-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        g_boxes.clear();
        previous_box = QZ_set_message_box(&catch_box);
        // The user types the answer once; a name the dialog refuses ends it.
        script.choose = [this](QZ_Dlg_Kind kind, const std::string&,
                               const std::string& notice) -> std::optional<std::string> {
            asked.push_back(kind);
            if (!notice.empty()) return std::nullopt;
            return answer;
        };
        script.replace = [](const std::string&) { return true; };
        QZ_Dlg_File_Base::script(&script);
    }
    void TearDown() override {
        QZ_Dlg_File_Base::script(nullptr);
        QZ_set_message_box(previous_box);
        if (vst) vst->detach();
        if (plugin) plugin->close();
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }

    QZ_Wid_Butt* button(int slot) { return QZ_object_as<QZ_Wid_Butt>(vst->widgets[slot]); }
    // A click on a preset button: the pointer moves onto it and presses.
    void click(int slot) {
        QZ_Wid_Butt* b = button(slot);
        ASSERT_NE(b, nullptr);
        const int x = b->left + b->width / 2, y = b->top + b->height / 2;
        win.pointer_move(x, y);
        ASSERT_EQ(win.hovered(), b);
        win.pointer_down(x, y);
        win.pointer_up();
    }
    void save_to(const fs::path& p) {
        answer = p.string();
        click(QZ_Application::W_SAVE_BUTTON);
    }
    void load_from(const fs::path& p) {
        answer = p.string();
        click(QZ_Application::W_LOAD_BUTTON);
    }
    // The two host parameters set to values no preset below holds.
    void set_distinct() {
        plugin->set_parameter(0, 0.0f);
        plugin->set_parameter(1, 0.3f);
    }
    void expect_distinct() {
        EXPECT_EQ(plugin->get_parameter(0), 0.0f);
        EXPECT_EQ(plugin->get_parameter(1), 0.3f);
    }
    void expect_one_box(const char* text) {
        ASSERT_EQ(g_boxes.size(), 1u);
        EXPECT_EQ(g_boxes[0].text, text);
        EXPECT_EQ(g_boxes[0].caption, "Error");
        g_boxes.clear();
    }
    // Files in the folder other than the named ones (left-over temporaries).
    int strays(std::initializer_list<std::string> known) {
        int n = 0;
        for (auto& e : fs::directory_iterator(dir)) {
            bool k = false;
            for (auto& name : known) k = k || e.path().filename() == name;
            n += !k;
        }
        return n;
    }

    QZ_Win_Image win{200, 236};
    std::unique_ptr<Module> self;
    std::unique_ptr<Plugin> plugin;
    QZ_Main_Vst* vst = nullptr;
    fs::path dir;
    QZ_message_box_fn previous_box = nullptr;
    QZ_Dlg_File_Script script;
    std::optional<std::string> answer;
    std::vector<QZ_Dlg_Kind> asked;
};

// Keeps files written by this process to `bytes` bytes while it lives.
struct File_Size_Limit {
    rlimit old{};
    explicit File_Size_Limit(rlim_t bytes) {
        ::signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails instead of ending the process
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit r = old;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~File_Size_Limit() { setrlimit(RLIMIT_FSIZE, &old); }
};

}  // namespace

TEST_F(Presets, SaveWritesTheHeaderAndTheTwoWordsLittleEndian) {
    const fs::path p = dir / "a.zelo";
    save_to(p);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], QZ_Dlg_Kind::save);
    EXPECT_TRUE(g_boxes.empty());
    const Bytes b = file_bytes(p);
    ASSERT_EQ(b.size(), kHeader.size() + 8);
    EXPECT_EQ(std::string(b.begin(), b.begin() + static_cast<long>(kHeader.size())), kHeader);
    const Bytes values(b.end() - 8, b.end());
    EXPECT_EQ(values, (Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x80, 0xBB, 0x44}));
    EXPECT_EQ(strays({"a.zelo"}), 0);
    // The button is shown released again and the pointer forgotten.
    EXPECT_FALSE(button(QZ_Application::W_SAVE_BUTTON)->state);
    EXPECT_EQ(win.hovered(), nullptr);
    EXPECT_EQ(win.captured(), nullptr);
}

TEST_F(Presets, LoadAppliesToHostFilterAndPanel) {
    const fs::path p = dir / "b.zelo";
    write_bytes(p, preset(0, 10010.0f));
    plugin->clear_calls();
    load_from(p);
    EXPECT_TRUE(g_boxes.empty());
    // The host hears both loaded values, so its view and automation follow.
    std::vector<std::pair<VstInt32, float>> told;
    for (const auto& c : plugin->calls())
        if (c.opcode == audioMasterAutomate) told.emplace_back(c.index, c.opt);
    EXPECT_EQ(told, (std::vector<std::pair<VstInt32, float>>{{0, 0.0f}, {1, 0.5f}}));
    EXPECT_EQ(asked.at(0), QZ_Dlg_Kind::open);
    EXPECT_EQ(plugin->get_parameter(0), 0.0f);
    EXPECT_EQ(plugin->get_parameter(1), 0.5f);
    EXPECT_EQ(plugin->parameter_display(1).text, "5015");
    EXPECT_EQ(QZ_object_as<QZ_Wid_Knob>(vst->widgets[QZ_Application::W_KNOB])->position, 132);
    EXPECT_FALSE(button(QZ_Application::W_ON_BUTTON)->state);
    EXPECT_FALSE(button(QZ_Application::W_LOAD_BUTTON)->state);
    // Saved again, the same bytes come out.
    save_to(dir / "c.zelo");
    EXPECT_EQ(file_bytes(dir / "c.zelo"), preset(0, 10010.0f));
}

TEST_F(Presets, LoadedValuesAreBroughtIntoRange) {
    struct Case {
        std::uint32_t state;
        float freq;
        float want_state, want_freq;
    };
    const float inf = std::numeric_limits<float>::infinity();
    for (const Case& c : {Case{7, std::numeric_limits<float>::quiet_NaN(), 1.0f, 0.0f},
                          Case{0xFFFFFFFF, inf, 1.0f, 1.0f}, Case{0, -inf, 0.0f, 0.0f},
                          Case{1, 1e9f, 1.0f, 1.0f}, Case{1, 3.0f, 1.0f, 0.0f}}) {
        set_distinct();
        if (c.want_state == 0.0f) plugin->set_parameter(0, 1.0f);
        write_bytes(dir / "d.zelo", preset(c.state, c.freq));
        load_from(dir / "d.zelo");
        EXPECT_TRUE(g_boxes.empty());
        EXPECT_EQ(plugin->get_parameter(0), c.want_state) << c.state;
        EXPECT_EQ(plugin->get_parameter(1), c.want_freq) << c.freq;
    }
}

TEST_F(Presets, EachLoadFailureShowsItsMessageAndChangesNothing) {
    Bytes longer = preset(1, 1500.0f);
    longer.push_back(0);
    Bytes changed = preset(1, 1500.0f);
    changed[3] ^= 0x20;  // one character of the header
    Bytes shorter = preset(1, 1500.0f);
    shorter.pop_back();
    const Bytes empty;
    struct Case {
        const char* name;
        const Bytes* content;  // null: no such file
        const char* message;
    };
    for (const Case& c : {Case{"longer.zelo", &longer, "Bad content in preset file."},
                          Case{"changed.zelo", &changed, "Wrong header in preset file."},
                          Case{"short.zelo", &shorter, "Bad content in preset file."},
                          Case{"empty.zelo", &empty, "Bad content in preset file."}}) {
        SCOPED_TRACE(c.name);
        set_distinct();
        if (c.content) write_bytes(dir / c.name, *c.content);
        load_from(dir / c.name);
        expect_one_box(c.message);
        expect_distinct();
        EXPECT_FALSE(button(QZ_Application::W_LOAD_BUTTON)->state);
        EXPECT_EQ(win.captured(), nullptr);
    }
}

TEST_F(Presets, AFailedSaveKeepsTheOldFileByteForByte) {
    const fs::path p = dir / "keep.zelo";
    const Bytes old = preset(0, 20000.0f);
    write_bytes(p, old);
    set_distinct();
    struct Case {
        rlim_t limit;
        const char* message;
    };
    // Files cut at 10 bytes (inside the header) and at the header's end plus 2
    // (inside the first value).
    for (const Case& c : {Case{10, "Cannot write header to preset file."},
                          Case{kHeader.size() + 2, "Cannot write params to preset file."}}) {
        {
            File_Size_Limit limit(c.limit);
            save_to(p);
        }
        expect_one_box(c.message);
        EXPECT_EQ(file_bytes(p), old);
        EXPECT_EQ(strays({"keep.zelo"}), 0);
        EXPECT_FALSE(button(QZ_Application::W_SAVE_BUTTON)->state);
    }
}

TEST_F(Presets, AFolderThatCannotBeWrittenGetsNoFile) {
    // Even the superuser cannot create files in /proc.
    fs::path p = "/proc/zelo-preset.zelo";
    if (::geteuid() != 0) {
        fs::create_directories(dir / "locked");
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        p = dir / "locked" / "x.zelo";
    }
    save_to(p);
    expect_one_box("Cannot open preset file.");
    EXPECT_FALSE(fs::exists(p));
    // A folder in the way of the name itself: the saving code refuses it too.
    fs::create_directories(dir / "taken.zelo");
    EXPECT_EQ(QZ_preset_save((dir / "taken.zelo").c_str(), {1, 1500.0f}),
              std::string("Cannot open preset file."));
    EXPECT_TRUE(fs::is_directory(dir / "taken.zelo"));
    EXPECT_EQ(strays({"locked", "taken.zelo"}), 0);
}

TEST_F(Presets, CancelledDialogsShowNothingAndReleaseTheButtons) {
    answer.reset();
    set_distinct();
    for (int slot : {QZ_Application::W_SAVE_BUTTON, QZ_Application::W_LOAD_BUTTON}) {
        click(slot);
        EXPECT_TRUE(g_boxes.empty());
        EXPECT_FALSE(button(slot)->state);
        EXPECT_EQ(win.hovered(), nullptr);
        EXPECT_EQ(win.captured(), nullptr);
    }
    EXPECT_EQ(asked.size(), 2u);
    expect_distinct();
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(Presets, ANameWithoutExtensionIsSavedAsZeloAndFoundAgain) {
    save_to(dir / "plain");
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_TRUE(fs::exists(dir / "plain.zelo"));
    EXPECT_FALSE(fs::exists(dir / "plain.bin"));
    set_distinct();
    load_from(dir / "plain.zelo");
    EXPECT_EQ(plugin->get_parameter(0), 1.0f);
    EXPECT_EQ(plugin->parameter_display(1).text, "130");
}

TEST(PresetFormat, ReadingFailuresNameTheirCause) {
    QZ_Preset out{5, 5.0f};
    EXPECT_EQ(QZ_preset_load("/nonexistent/zelo.zelo", &out), std::string("Cannot open this file."));
    EXPECT_EQ(QZ_preset_load("/", &out), std::string("Cannot open this file."));  // a folder
    EXPECT_EQ(QZ_preset_load("/dev/null", &out), std::string("Cannot open this file."));
    EXPECT_EQ(out.state, 5);
}

TEST(PresetFormat, DecodingNeedsTheExactLengthAndHeader) {
    const std::size_t L = QZ_preset_header_length();
    EXPECT_EQ(L, kHeader.size());
    unsigned char b[300];
    QZ_preset_encode({1, 1500.0f}, b);
    EXPECT_EQ(Bytes(b, b + L + 8), preset(1, 1500.0f));
    QZ_Preset out{5, 5.0f};
    EXPECT_EQ(QZ_preset_decode(b, L + 7, &out), std::string("Bad content in preset file."));
    EXPECT_EQ(out.state, 5);  // untouched on failure
    ASSERT_EQ(QZ_preset_decode(b, L + 8, &out), nullptr);
    EXPECT_EQ(out.state, 1);
    EXPECT_EQ(out.frequency, 1500.0f);
}

// With the editor open on a display and nobody else taking message boxes, a
// failed load shows a window of the editor's own captioned "Error" (and the
// text on standard error); Enter closes it and the editor goes on.
TEST(PresetMessages, AWindowOfOurOwnWhileTheEditorIsOpen) {
    auto& xvfb = gui_test::Xvfb_Server::get();
    if (!xvfb.available()) GTEST_SKIP() << "no Xvfb";
    ASSERT_TRUE(xvfb.running());
    setenv("DISPLAY", xvfb.name().c_str(), 1);
    setenv("ZELO_VST_TRACE", "0", 1);
    Display* d = XOpenDisplay(xvfb.name().c_str());
    ASSERT_NE(d, nullptr);
    const Window parent = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 300, 300, 0, 0, 0);
    XMapWindow(d, parent);
    XSync(d, False);
    auto self = Module::self();
    ASSERT_TRUE(self);
    auto plugin = Plugin::create(*self);
    ASSERT_TRUE(plugin);

    const fs::path bad = fs::temp_directory_path() / ("zelo-bad-" + std::to_string(::getpid()) + ".zelo");
    write_bytes(bad, Bytes(kHeader.size() + 8, 'x'));
    QZ_Dlg_File_Script script;
    script.choose = [&](QZ_Dlg_Kind, const std::string&, const std::string& notice) -> std::optional<std::string> {
        if (!notice.empty()) return std::nullopt;
        return bad.string();
    };
    QZ_Dlg_File_Base::script(&script);
    ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(parent)), 1);
    Window child = 0;
    {
        Window r, p, *kids = nullptr;
        unsigned n = 0;
        XQueryTree(d, parent, &r, &p, &kids, &n);
        if (n == 1) child = kids[0];
        if (kids) XFree(kids);
    }
    ASSERT_NE(child, 0u);
    testing::internal::CaptureStderr();
    // A click on LOAD, delivered to the editor's own event thread.
    for (int type : {ButtonPress, ButtonRelease}) {
        XEvent e{};
        e.xbutton.type = type;
        e.xbutton.window = child;
        e.xbutton.x = 24 + 20;
        e.xbutton.y = 184 + 12;
        e.xbutton.button = Button1;
        e.xbutton.same_screen = True;
        XSendEvent(d, child, False, 0, &e);
    }
    XFlush(d);
    // The box: a top-level window captioned "Error" with something drawn in it.
    Window box = 0;
    for (int i = 0; i < 300 && !box; ++i) {
        Window r, p, *kids = nullptr;
        unsigned n = 0;
        XQueryTree(d, DefaultRootWindow(d), &r, &p, &kids, &n);
        for (unsigned k = 0; k < n && !box; ++k) {
            char* name = nullptr;
            XWindowAttributes a;
            if (XFetchName(d, kids[k], &name) && name && std::string(name) == "Error" &&
                XGetWindowAttributes(d, kids[k], &a) && a.map_state == IsViewable)
                box = kids[k];
            if (name) XFree(name);
        }
        if (kids) XFree(kids);
        if (!box) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(box, 0u);
    int bright = 0;
    for (int i = 0; i < 100 && bright == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        XWindowAttributes a;
        XGetWindowAttributes(d, box, &a);
        if (XImage* img = XGetImage(d, box, 0, 0, static_cast<unsigned>(a.width), static_cast<unsigned>(a.height),
                                    AllPlanes, ZPixmap)) {
            for (int y = 0; y < a.height; ++y)
                for (int x = 0; x < a.width; ++x) bright += (XGetPixel(img, x, y) & 0xFF) > 0xC0;
            XDestroyImage(img);
        }
    }
    EXPECT_GT(bright, 20);  // the message's letters
    XEvent k{};
    k.xkey.type = KeyPress;
    k.xkey.window = box;
    k.xkey.keycode = XKeysymToKeycode(d, XK_Return);
    k.xkey.same_screen = True;
    XSendEvent(d, box, False, 0, &k);
    XFlush(d);
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {
        XSync(d, False);
        auto* vst = dynamic_cast<QZ_Main_Vst*>(static_cast<AudioEffect*>(plugin->effect()->object));
        gone = !button_pressed(vst) && !window_named(d, "Error");
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Wrong header in preset file."), std::string::npos) << err;
    plugin->dispatch(effEditClose);
    QZ_Dlg_File_Base::script(nullptr);
    plugin->close();
    fs::remove(bad);
    XDestroyWindow(d, parent);
    XCloseDisplay(d);
}
