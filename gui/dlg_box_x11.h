// The toolkit's own file dialog on X11, for desktops without a chooser program:
// a small modal window drawn with the widgets' pictures and text, with its own
// display connection and event loop on the caller's thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

class QZ_Dlg_File_Base;
enum class QZ_Dlg_Kind;

class QZ_Dlg_Box_X11 {
public:
    // `transient_for`: the window to stay above (0: none).
    QZ_Dlg_Box_X11(const std::string& display, unsigned long transient_for, const char* title);
    ~QZ_Dlg_Box_X11();
    QZ_Dlg_Box_X11(const QZ_Dlg_Box_X11&) = delete;
    QZ_Dlg_Box_X11& operator=(const QZ_Dlg_Box_X11&) = delete;

    // The window opens on first use and stays up (between a refused name and
    // the next try, say) until the object goes.
    // Lets the user pick a file (listing the files `dlg`'s filter matches) or
    // type a name, starting from `proposed` and showing `notice`; none on cancel.
    std::optional<std::string> choose(QZ_Dlg_Kind kind, const std::string& proposed,
                                      const std::string& notice, const QZ_Dlg_File_Base& dlg);
    // Asks whether to replace an existing file.
    bool confirm_replace(const std::string& path);

private:
    struct Impl;
    // Opens the window on first use; false when there is no display.
    bool ready();
    std::unique_ptr<Impl> impl_;
    std::string display_;
    unsigned long transient_for_;
    std::string title_;
};
