// File dialogs: the preset actions ask the user for a file name through these.
// The portable part keeps the owner window, the filter list and the path
// buffer, and decides what a typed name means (missing files refused on open,
// an existing file confirmed on save, a missing extension added). The backend
// file of the platform asks the user; a script put in place by a test answers
// instead of any user.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QZ_Win;

class QZ_Dlg {
public:
    explicit QZ_Dlg(QZ_Win* owner = nullptr) : owner_(owner) {}
    virtual ~QZ_Dlg() = default;
    QZ_Dlg(const QZ_Dlg&) = delete;
    QZ_Dlg& operator=(const QZ_Dlg&) = delete;

    // The window the dialog belongs to (null: none, the dialog then stands alone).
    void setOwner(QZ_Win* w) { owner_ = w; }
    QZ_Win* owner() const { return owner_; }

protected:
    QZ_Win* owner_;
};

// What a dialog asks for: a file to read, or a name to write to.
enum class QZ_Dlg_Kind { open, save };

// Stands in for the user of every file dialog in the process (tests): while one
// is installed no dialog appears on screen.
struct QZ_Dlg_File_Script {
    // The name the user settles on in a dialog of `kind` that proposes
    // `proposed` (the last choice, possibly empty); `notice` is the complaint
    // about the previous attempt ("" on the first). None: cancel.
    std::function<std::optional<std::string>(QZ_Dlg_Kind kind, const std::string& proposed,
                                             const std::string& notice)>
        choose;
    // Whether to replace the existing file `path`. Unset: no.
    std::function<bool(const std::string& path)> replace;
};

class QZ_Dlg_File_Base : public QZ_Dlg {
public:
    static constexpr std::size_t PATH_CHARS = 4096;  // path buffer, terminating zero included

    // `filter`: pairs of zero-terminated description and pattern ("*.zelo",
    // several joined by ';'), ended by one more zero. The text is referred to,
    // not copied. `default_ext` (no dot) is added to a name typed without one.
    QZ_Dlg_File_Base(QZ_Win* owner, const char* filter, const char* default_ext = "zelo");

    // Ask for a file to read / a name to write to. Result: the path buffer on
    // confirmation, null on cancel or failure (the buffer then keeps the last choice).
    virtual const char* open() = 0;
    virtual const char* save() = 0;

    const char* filter() const { return filter_; }
    const char* default_ext() const { return default_ext_; }
    const char* title() const { return "File preset"; }
    // The last path chosen ("" before any), proposed by the next dialog of either kind.
    const char* path() const { return path_; }

    // The filter list as (description, pattern) pairs; malformed tails are dropped.
    std::vector<std::pair<std::string, std::string>> filters() const;
    // Whether a file name (no folder part) matches one of the filter's patterns
    // ("*" and "?" wildcards, letters compared without regard to case). An
    // empty filter matches everything.
    bool matches(const std::string& name) const;

    // A typed name as the dialog returns it: without an extension in its last
    // component it gets "." and the default extension.
    std::string complete(const std::string& typed) const;

    // Why a completed path is not acceptable for `kind` ("" when it is, apart
    // from save's question about an existing file, see exists()).
    static std::string refusal(QZ_Dlg_Kind kind, const std::string& path);
    static bool exists(const std::string& path);

    // Installs the process-wide script (null removes it); returns the previous one.
    static QZ_Dlg_File_Script* script(QZ_Dlg_File_Script* s);
    static QZ_Dlg_File_Script* script() { return script_.load(); }

protected:
    // One way of asking the user, used by ask() below.
    struct Asker {
        std::function<std::optional<std::string>(QZ_Dlg_Kind, const std::string& proposed,
                                                 const std::string& notice)>
            choose;
        std::function<bool(const std::string& path)> replace;
    };
    // Asks until the user gives an acceptable name or cancels: completes the
    // name, refuses what refusal() refuses (asking again with the notice), asks
    // before replacing an existing file; stores an accepted path and returns
    // the buffer. A path longer than the buffer is refused.
    const char* ask(QZ_Dlg_Kind kind, const Asker& asker);
    // ask() through the installed script; null when none is installed, with
    // *scripted telling which.
    const char* ask_script(QZ_Dlg_Kind kind, bool* scripted);
    // Stores a path the platform's own dialog accepted; false when it does not fit.
    bool accept(const char* path);

    const char* filter_;
    const char* default_ext_;
    char path_[PATH_CHARS] = {};

private:
    static std::atomic<QZ_Dlg_File_Script*> script_;
};

#ifdef _WIN32
// The system's own open and save dialogs.
class QZ_Dlg_File_Win32 : public QZ_Dlg_File_Base {
public:
    QZ_Dlg_File_Win32(QZ_Win* owner, const char* filter);
    ~QZ_Dlg_File_Win32() override;
    const char* open() override;
    const char* save() override;

private:
    const char* run(bool save);
    alignas(8) unsigned char ofn_[160];  // the OPENFILENAMEA record, filled once
};
using QZ_Dlg_File_Backend = QZ_Dlg_File_Win32;
#else
// A desktop's own file chooser (zenity or kdialog) when one is installed,
// otherwise a small modal dialog of the toolkit's own on the X display.
class QZ_Dlg_File_X11 : public QZ_Dlg_File_Base {
public:
    QZ_Dlg_File_X11(QZ_Win* owner, const char* filter);
    const char* open() override;
    const char* save() override;

    // Which way of asking to use: automatic (a helper program found in PATH,
    // else our own), or one forced (tests, and people who prefer one).
    enum class Helper { automatic, zenity, kdialog, own };
    void use(Helper h) { helper_ = h; }
    // The X display to use for our own dialog (empty: $DISPLAY).
    void display(const std::string& name) { display_ = name; }

private:
    const char* run(QZ_Dlg_Kind kind);
    Helper helper_ = Helper::automatic;
    std::string display_;
};
using QZ_Dlg_File_Backend = QZ_Dlg_File_X11;
#endif

// The file dialog the editor embeds.
class QZ_Dlg_File : public QZ_Dlg_File_Backend {
public:
    explicit QZ_Dlg_File(QZ_Win* owner, const char* filter) : QZ_Dlg_File_Backend(owner, filter) {}
};
