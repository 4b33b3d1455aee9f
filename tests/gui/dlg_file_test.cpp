#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <thread>

#include "gui/dlg_file.h"
#include "gui/win_x11.h"
#include "tests/gui/xvfb.h"

namespace fs = std::filesystem;

namespace {
const char k_filter[] = "Preset file (*.zelo)\0*.zelo\0";  // the literal adds the final zero

struct Temp_Dir {
    fs::path path;
    Temp_Dir() {
        char tmpl[] = "/tmp/zelo-dlg-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~Temp_Dir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string file(const char* name, const char* content = nullptr) const {
        const fs::path p = path / name;
        if (content) std::ofstream(p) << content;
        return p.string();
    }
};

// Answers a dialog from a list, recording what it was shown.
struct Scripted {
    std::vector<std::optional<std::string>> answers;
    std::vector<bool> replies;
    std::vector<std::string> proposed, notices, asked_replace;
    QZ_Dlg_File_Script script;
    QZ_Dlg_File_Script* previous;

    Scripted() {
        script.choose = [this](QZ_Dlg_Kind, const std::string& p,
                               const std::string& n) -> std::optional<std::string> {
            proposed.push_back(p);
            notices.push_back(n);
            if (answers.empty()) return std::nullopt;
            auto a = answers.front();
            answers.erase(answers.begin());
            return a;
        };
        script.replace = [this](const std::string& p) {
            asked_replace.push_back(p);
            if (replies.empty()) return false;
            const bool r = replies.front();
            replies.erase(replies.begin());
            return r;
        };
        previous = QZ_Dlg_File_Base::script(&script);
    }
    ~Scripted() { QZ_Dlg_File_Base::script(previous); }
};
}  // namespace

TEST(DlgFile, OpenRefusesMissingFilesAndCancelKeepsTheLastChoice) {
    Temp_Dir dir;
    const std::string good = dir.file("a.zelo", "x");
    Scripted s;
    QZ_Dlg_File dlg(nullptr, k_filter);
    EXPECT_STREQ(dlg.path(), "");

    s.answers = {dir.file("missing.zelo"), (dir.path / "nofolder" / "a.zelo").string(), good};
    const char* r = dlg.open();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r, dlg.path());  // the buffer itself, kept by the dialog
    EXPECT_EQ(std::string(r), good);
    ASSERT_EQ(s.notices.size(), 3u);
    EXPECT_EQ(s.notices[0], "");
    EXPECT_NE(s.notices[1].find("File not found"), std::string::npos) << s.notices[1];
    EXPECT_NE(s.notices[2].find("Folder not found"), std::string::npos) << s.notices[2];

    // Typed without its extension, the preset is found; a file that really has
    // no extension opens under its own name.
    const std::string plain = dir.file("README", "r");
    s.answers = {dir.file("a"), plain};
    r = dlg.open();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), good);
    r = dlg.open();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), plain);
    s.answers = {good};
    ASSERT_NE(dlg.open(), nullptr);

    // A folder is not a file to open.
    s.answers = {dir.path.string(), std::nullopt};
    EXPECT_EQ(dlg.open(), nullptr);
    EXPECT_EQ(std::string(dlg.path()), good);

    // The next dialog, of either kind, proposes the last choice; cancel keeps it.
    s.proposed.clear();
    s.answers = {std::nullopt};
    EXPECT_EQ(dlg.save(), nullptr);
    ASSERT_EQ(s.proposed.size(), 1u);
    EXPECT_EQ(s.proposed[0], good);
    EXPECT_EQ(std::string(dlg.path()), good);
}

TEST(DlgFile, SaveAddsTheExtensionAndAsksBeforeReplacing) {
    Temp_Dir dir;
    Scripted s;
    QZ_Dlg_File dlg(nullptr, k_filter);

    // A name without extension gets the preset extension the open filter shows.
    s.answers = {dir.file("mine")};
    const char* r = dlg.save();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), dir.file("mine.zelo"));
    EXPECT_TRUE(dlg.matches(fs::path(r).filename().string()));
    EXPECT_TRUE(s.asked_replace.empty());

    // A bare name lands in the folder of the last choice.
    s.answers = {std::string("other")};
    r = dlg.save();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), dir.file("other.zelo"));

    // An existing file: declining asks again, confirming returns it.
    const std::string existing = dir.file("old.zelo", "keep");
    s.answers = {dir.file("old"), dir.file("old.zelo")};
    s.replies = {false, true};
    r = dlg.save();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), existing);
    ASSERT_EQ(s.asked_replace.size(), 2u);
    EXPECT_EQ(s.asked_replace[0], existing);

    // Declining and then cancelling returns none and keeps the last choice.
    s.answers = {existing, std::nullopt};
    s.replies = {false};
    EXPECT_EQ(dlg.save(), nullptr);
    EXPECT_EQ(std::string(dlg.path()), existing);

    // Saving into a folder that does not exist is refused before any file is touched.
    s.answers = {(dir.path / "no" / "x.zelo").string(), std::nullopt};
    EXPECT_EQ(dlg.save(), nullptr);
    EXPECT_NE(s.notices.back().find("Folder not found"), std::string::npos);

    // A path that does not fit the buffer is refused, not cut.
    s.answers = {dir.path.string() + "/" + std::string(QZ_Dlg_File_Base::PATH_CHARS, 'n') + ".zelo",
                 std::nullopt};
    EXPECT_EQ(dlg.save(), nullptr);
    EXPECT_EQ(std::string(dlg.path()), existing);
}

TEST(DlgFile, NamesFiltersAndExtensions) {
    QZ_Dlg_File dlg(nullptr, k_filter);
    EXPECT_STREQ(dlg.title(), "File preset");
    EXPECT_EQ(dlg.complete("/a/b"), "/a/b.zelo");
    EXPECT_EQ(dlg.complete("/a/b."), "/a/b.zelo");
    EXPECT_EQ(dlg.complete("/a.d/b"), "/a.d/b.zelo");  // a dot in a folder is no extension
    EXPECT_EQ(dlg.complete("/a/b.bin"), "/a/b.bin");   // a chosen extension stays
    EXPECT_EQ(dlg.complete("/a/.hidden"), "/a/.hidden.zelo");

    auto f = dlg.filters();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].first, "Preset file (*.zelo)");
    EXPECT_EQ(f[0].second, "*.zelo");
    EXPECT_TRUE(dlg.matches("x.zelo"));
    EXPECT_TRUE(dlg.matches("X.ZELO"));
    EXPECT_FALSE(dlg.matches("x.zelo.bin"));
    EXPECT_FALSE(dlg.matches("zelo"));

    static const char several[] = "Both\0*.a; *.b\0All\0*.*\0";
    QZ_Dlg_File two(nullptr, several);
    EXPECT_EQ(two.filters().size(), 2u);
    EXPECT_TRUE(two.matches("q.b"));
    // A description without its pattern ends the list instead of reading past it.
    static const char broken[] = "Lonely\0";
    QZ_Dlg_File bad(nullptr, broken);
    EXPECT_TRUE(bad.filters().empty());
    EXPECT_TRUE(bad.matches("anything"));
}

// The desktop helper programs, stood in for by scripts that record their
// arguments and answer as the real ones do.
class DlgHelper : public ::testing::Test {
protected:
    Temp_Dir bin, work;
    std::string old_path;
    void SetUp() override {
        const char* p = std::getenv("PATH");
        old_path = p ? p : "";
        ::setenv("PATH", bin.path.c_str(), 1);
    }
    void TearDown() override { ::setenv("PATH", old_path.c_str(), 1); }
    // A helper that logs each argument on its own line (calls separated by
    // "--end--") and gives the next of `replies`: prints its text (when not
    // empty) and exits with its status; once they run out it exits with 1.
    void fake(const char* name, const std::vector<std::pair<int, std::string>>& replies) {
        const std::string answers = bin.file("answers");
        {
            std::ofstream a(answers);
            for (const auto& [status, text] : replies) a << status << ' ' << text << '\n';
        }
        const std::string count = (bin.path / "count").string();
        std::ofstream(count) << "0\n";
        const std::string file = bin.file(name);
        std::ofstream(file) << "#!/bin/sh\n"
                            << "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" << log() << "'; done\n"
                            << "echo --end-- >> '" << log() << "'\n"
                            << "n=$(( $(/bin/cat '" << count << "') + 1 )); echo $n > '" << count << "'\n"
                            << "line=$(/bin/sed -n \"${n}p\" '" << answers << "')\n"
                            << "[ -z \"$line\" ] && exit 1\n"
                            << "text=${line#* }; [ -n \"$text\" ] && printf '%s\\n' \"$text\"\n"
                            << "exit ${line%% *}\n";
        ::chmod(file.c_str(), 0755);
    }
    std::string log() const { return (bin.path / "log").string(); }
    std::vector<std::vector<std::string>> calls() const {
        std::vector<std::vector<std::string>> out(1);
        std::ifstream in(log());
        std::string line;
        while (std::getline(in, line)) {
            if (line == "--end--")
                out.emplace_back();
            else
                out.back().push_back(line);
        }
        out.pop_back();
        return out;
    }
    static bool has(const std::vector<std::string>& v, const std::string& s) {
        for (const auto& x : v)
            if (x == s) return true;
        return false;
    }
};

TEST_F(DlgHelper, ZenityAsksWithFilterAndConfirmationAndItsAnswerIsCompleted) {
    fake("zenity", {{0, work.file("song")}});
    QZ_Dlg_File dlg(nullptr, k_filter);
    dlg.display(":99");
    const char* r = dlg.save();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), work.file("song.zelo"));
    auto c = calls();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0][0], "--file-selection");
    EXPECT_TRUE(has(c[0], "--save"));
    EXPECT_TRUE(has(c[0], "--confirm-overwrite"));
    EXPECT_TRUE(has(c[0], "--title=File preset"));
    EXPECT_TRUE(has(c[0], "--file-filter=Preset file (*.zelo) | *.zelo"));

    // Completed to an existing file the helper never saw: we ask, hear no, and
    // the chooser comes back; there the user cancels.
    work.file("song.zelo", "old");
    ::unlink(log().c_str());
    fake("zenity", {{0, work.file("song")}, {1, ""}, {1, ""}});
    EXPECT_EQ(dlg.save(), nullptr);
    c = calls();
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[1][0], "--question");
    EXPECT_EQ(c[2][0], "--file-selection");
    EXPECT_TRUE(has(c[2], "--filename=" + work.file("song.zelo")));
    EXPECT_EQ(std::string(dlg.path()), work.file("song.zelo"));

    // The file the helper itself confirmed is not asked about again.
    ::unlink(log().c_str());
    fake("zenity", {{0, work.file("song.zelo")}});
    EXPECT_NE(dlg.save(), nullptr);
    EXPECT_EQ(calls().size(), 1u);

    // Failure (a status other than 0 or 1) of the helper asked for gives none, as cancel does.
    ::unlink(log().c_str());
    dlg.use(QZ_Dlg_File_X11::Helper::zenity);
    fake("zenity", {{5, work.file("song.zelo")}});
    EXPECT_EQ(dlg.open(), nullptr);
    c = calls();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_FALSE(has(c[0], "--save"));
}

TEST_F(DlgHelper, ZenityOpenOfAMissingFileShowsAnErrorAndAsksAgain) {
    const std::string good = work.file("here.zelo", "x");
    fake("zenity", {{0, work.file("gone.zelo")}, {0, ""}, {0, good}});
    QZ_Dlg_File dlg(nullptr, k_filter);
    dlg.display(":99");
    const char* r = dlg.open();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), good);
    auto c = calls();
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[1][0], "--error");
    EXPECT_EQ(c[2][0], "--file-selection");
}

TEST_F(DlgHelper, KdialogWhenItIsTheOnlyHelper) {
    fake("kdialog", {{0, work.file("k.zelo")}});
    QZ_Dlg_File dlg(nullptr, k_filter);
    dlg.display(":99");
    const char* r = dlg.save();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), work.file("k.zelo"));
    auto c = calls();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_TRUE(has(c[0], "--getsavefilename"));
    EXPECT_TRUE(has(c[0], "*.zelo|Preset file (*.zelo)"));
    EXPECT_TRUE(has(c[0], "File preset"));
}

TEST_F(DlgHelper, NoDisplayMeansNoDialog) {
    fake("zenity", {{0, work.file("song")}});
    const char* d = std::getenv("DISPLAY");
    const std::string saved = d ? d : "";
    ::unsetenv("DISPLAY");
    QZ_Dlg_File dlg(nullptr, k_filter);
    EXPECT_EQ(dlg.save(), nullptr);
    EXPECT_FALSE(fs::exists(log()));
    if (d) ::setenv("DISPLAY", saved.c_str(), 1);
}

// Our own dialog on an X server of its own, driven by synthetic keys as a
// person at the keyboard would.
class OwnDialog : public ::testing::Test {
protected:
    // Looking for the dialog may touch a window just as it goes away: such
    // errors on the driving connection are expected.
    static inline Display* s_keys = nullptr;
    static inline XErrorHandler s_previous = nullptr;
    static int on_error(Display* d, XErrorEvent* e) {
        return d == s_keys ? 0 : s_previous ? s_previous(d, e) : 0;
    }

    Display* keys = nullptr;
    Temp_Dir dir;
    void SetUp() override {
        if (!gui_test::Xvfb_Server::available()) GTEST_SKIP() << "no Xvfb binary";
        ASSERT_TRUE(gui_test::Xvfb_Server::get().running());
        keys = XOpenDisplay(gui_test::Xvfb_Server::get().name().c_str());
        ASSERT_NE(keys, nullptr);
        s_keys = keys;
        // Installed once and left in place: handlers installed later (the
        // windows' own) pass on to it, so taking it out would break their chain.
        static const bool installed = [] {
            s_previous = XSetErrorHandler(&on_error);
            return true;
        }();
        (void)installed;
        int ev, er, maj, min;
        if (!XTestQueryExtension(keys, &ev, &er, &maj, &min)) GTEST_SKIP() << "no XTEST on the server";
    }
    void TearDown() override {
        if (!keys) return;
        s_keys = nullptr;
        XCloseDisplay(keys);
    }
    bool dialog_up() { return find_dialog(1) != 0; }
    // The dialog's window, once it is up (0 after 5 s without).
    Window wait_for_dialog() { return find_dialog(500); }
    Window find_dialog(int tries) {
        for (int i = 0; i < tries; ++i) {
            Window root = DefaultRootWindow(keys), r, p, *kids = nullptr;
            unsigned n = 0;
            Window found = 0;
            if (XQueryTree(keys, root, &r, &p, &kids, &n)) {
                for (unsigned k = 0; k < n && !found; ++k) {
                    char* name = nullptr;
                    XWindowAttributes a;
                    if (XFetchName(keys, kids[k], &name) && name) {
                        if (std::strcmp(name, "File preset") == 0 &&
                            XGetWindowAttributes(keys, kids[k], &a) && a.map_state == IsViewable)
                            found = kids[k];
                        XFree(name);
                    }
                }
                if (kids) XFree(kids);
            }
            if (found || i + 1 == tries) return found;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return 0;
    }
    void press(KeySym sym, bool shift = false) {
        const KeyCode code = XKeysymToKeycode(keys, sym);
        const KeyCode sh = XKeysymToKeycode(keys, XK_Shift_L);
        if (shift) XTestFakeKeyEvent(keys, sh, True, CurrentTime);
        XTestFakeKeyEvent(keys, code, True, CurrentTime);
        XTestFakeKeyEvent(keys, code, False, CurrentTime);
        if (shift) XTestFakeKeyEvent(keys, sh, False, CurrentTime);
        XFlush(keys);
    }
    // A left click at (x, y) of window `w`.
    void click(Window w, int x, int y) {
        int rx = 0, ry = 0;
        Window child;
        XTranslateCoordinates(keys, w, DefaultRootWindow(keys), x, y, &rx, &ry, &child);
        XTestFakeMotionEvent(keys, DefaultScreen(keys), rx, ry, CurrentTime);
        XTestFakeButtonEvent(keys, 1, True, CurrentTime);
        XTestFakeButtonEvent(keys, 1, False, CurrentTime);
        XFlush(keys);
    }
    void type(const std::string& s) {
        for (char c : s) {
            if (c == '/')
                press(XK_slash);
            else if (c == '.')
                press(XK_period);
            else if (c == '-')
                press(XK_minus);
            else if (c == '_')
                press(XK_underscore, true);
            else if (std::isupper(static_cast<unsigned char>(c)))
                press(XK_a + (c - 'A'), true);
            else if (std::islower(static_cast<unsigned char>(c)))
                press(XK_a + (c - 'a'));
            else if (std::isdigit(static_cast<unsigned char>(c)))
                press(XK_0 + (c - '0'));
        }
    }
    // Runs a dialog on this thread while another one types `script` into it.
    const char* drive(QZ_Dlg_File& dlg, bool save, const std::function<void()>& script) {
        bool seen = false;
        std::thread driver([&] {
            seen = wait_for_dialog() != 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // focus settles
            if (seen) script();
            // A dialog that did not end as the script expected is closed, so
            // that the test fails instead of waiting for ever.
            for (int i = 0; i < 300 && dialog_up(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            for (int i = 0; i < 4 && dialog_up(); ++i) {
                press(XK_Escape);
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        });
        const char* r = save ? dlg.save() : dlg.open();
        driver.join();
        EXPECT_TRUE(seen) << "the dialog never showed";
        return r;
    }
};

TEST_F(OwnDialog, TypingListingFoldersAndTheReplaceQuestionByKeyboard) {
    fs::create_directory(dir.path / "sub");
    const std::string a = dir.file("a.zelo", "a"), hidden = dir.file("0.txt", "x");
    const std::string c = (dir.path / "sub" / "c.zelo").string();
    std::ofstream(c) << "c";
    QZ_Dlg_File dlg(nullptr, k_filter);
    dlg.use(QZ_Dlg_File_X11::Helper::own);
    dlg.display(gui_test::Xvfb_Server::get().name());

    // A typed name without extension gets the preset extension.
    const char* r = drive(dlg, true, [&] {
        type(dir.file("mine"));
        press(XK_Return);
    });
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), dir.file("mine.zelo"));

    // Escape cancels and keeps the last choice.
    EXPECT_EQ(drive(dlg, false, [&] { press(XK_Escape); }), nullptr);
    EXPECT_EQ(std::string(dlg.path()), dir.file("mine.zelo"));

    // The listing: "..", the folder, then only the files the filter shows.
    r = drive(dlg, false, [&] {
        for (int i = 0; i < 3; ++i) press(XK_Down);
        press(XK_Return);
    });
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), a);

    // Into the folder and pick from it.
    r = drive(dlg, false, [&] {
        press(XK_Down);
        press(XK_Down);
        press(XK_Return);
        press(XK_Down);
        press(XK_Down);
        press(XK_Return);
    });
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), c);

    // Saving over it: Enter alone declines (back to the chooser), Tab to
    // "Replace" and Enter confirms.
    r = drive(dlg, true, [&] {
        for (int i = 0; i < 8; ++i) press(XK_BackSpace);
        type("c");
        press(XK_Return);
        press(XK_Return);
        press(XK_Return);
        press(XK_Tab);
        press(XK_Return);
    });
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), c);
}

TEST_F(OwnDialog, StaysAboveTheHostWindowThatHoldsTheEditor) {
    // A host's toplevel window with an inner window, in which the editor shows.
    const Window host = XCreateSimpleWindow(keys, DefaultRootWindow(keys), 20, 20, 300, 300, 0, 0, 0);
    const Window inner = XCreateSimpleWindow(keys, host, 10, 10, 220, 250, 0, 0, 0);
    XMapWindow(keys, inner);
    XMapWindow(keys, host);
    XSync(keys, False);
    QZ_Win_X11 editor(200, 236, gui_test::Xvfb_Server::get().name().c_str());
    ASSERT_EQ(editor.show(inner), inner);
    QZ_Dlg_File dlg(&editor, k_filter);
    dlg.use(QZ_Dlg_File_X11::Helper::own);
    dlg.display(gui_test::Xvfb_Server::get().name());

    Window transient = 0;
    EXPECT_EQ(drive(dlg, false,
                    [&] {
                        XGetTransientForHint(keys, wait_for_dialog(), &transient);
                        press(XK_Escape);
                    }),
              nullptr);
    EXPECT_EQ(transient, host);
    editor.show(0);
    XDestroyWindow(keys, host);
    XSync(keys, False);
}

TEST_F(OwnDialog, PickingWithTheMouse) {
    fs::create_directory(dir.path / "sub");
    const std::string c = (dir.path / "sub" / "c.zelo").string();
    std::ofstream(c) << "c";
    QZ_Dlg_File dlg(nullptr, k_filter);
    dlg.use(QZ_Dlg_File_X11::Helper::own);
    dlg.display(gui_test::Xvfb_Server::get().name());
    // Rows are 18 pixels from y = 32; row 1 is "sub", then in it row 1 is "c.zelo".
    const char* r = drive(dlg, false, [&] {
        const Window w = wait_for_dialog();
        type(dir.path.string());  // a typed folder name opens the folder
        press(XK_Return);
        click(w, 100, 32 + 18 + 9);  // a double click opens "sub"
        click(w, 100, 32 + 18 + 9);
        std::this_thread::sleep_for(std::chrono::milliseconds(600));  // two clicks, not a double one
        click(w, 100, 32 + 18 + 9);  // selects the file, which fills the name
        click(w, 245, 307);          // the Open button
    });
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), c);
}

TEST_F(OwnDialog, TakesOverWhenTheDesktopHelperCannotShowItself) {
    Temp_Dir bin;
    const std::string zenity = bin.file("zenity");
    std::ofstream(zenity) << "#!/bin/sh\nexit 255\n";  // as when it cannot open the display
    ::chmod(zenity.c_str(), 0755);
    const char* p = std::getenv("PATH");
    const std::string old_path = p ? p : "";
    ::setenv("PATH", bin.path.c_str(), 1);
    QZ_Dlg_File dlg(nullptr, k_filter);
    dlg.display(gui_test::Xvfb_Server::get().name());
    const char* r = drive(dlg, true, [&] {
        type(dir.file("x"));
        press(XK_Return);
    });
    ::setenv("PATH", old_path.c_str(), 1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), dir.file("x.zelo"));
}
