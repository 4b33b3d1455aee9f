// Answers the system's file dialogs from a second thread, as a user would:
// finds the dialog owned by the test's window, reads what it proposes, types a
// name into its name field and presses OK (or Cancel), and confirms a question
// box the dialog raises on top of itself.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace dialog_win32 {

struct Answer {
    std::string name;           // typed into the name field
    bool ok = true;             // OK; false: Cancel
    bool confirm = false;       // a question box after OK is answered Yes (else it is not expected)
};

// What the user saw.
struct Seen {
    bool found = false;         // a dialog owned by the window appeared
    std::string title;          // its caption
    std::string proposed;       // the name field's text when it appeared
    bool asked = false;         // a question box came up after OK
};

namespace detail {
struct Search {
    HWND owner;  // null: any of this process
    HWND not_this;
    HWND found;
};
inline BOOL CALLBACK find(HWND w, LPARAM l) {
    auto* s = reinterpret_cast<Search*>(l);
    char cls[32] = {};
    GetClassNameA(w, cls, sizeof cls);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    const bool mine = s->owner ? w != s->owner && GetAncestor(w, GA_ROOTOWNER) == s->owner
                               : pid == GetCurrentProcessId();
    if (w != s->not_this && std::string(cls) == "#32770" && IsWindowVisible(w) && mine) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}
// A visible dialog owned (through any chain of owners) by `owner`, waited for up to `ms`.
inline HWND wait_for(HWND owner, HWND not_this, int ms) {
    for (int t = 0; t < ms; t += 20) {
        Search s{owner, not_this, nullptr};
        EnumWindows(&find, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        Sleep(20);
    }
    return nullptr;
}
// The file name field: the edit control edt1, or the combo box cmb13 of the
// dialogs that offer recent names.
inline HWND name_field(HWND dlg) {
    HWND f = GetDlgItem(dlg, 0x480);
    if (!f || !IsWindowVisible(f)) f = GetDlgItem(dlg, 0x47c);
    return f;
}
}  // namespace detail

// Runs on its own thread while the test's thread sits in the modal dialog.
class Answerer {
public:
    Answerer(HWND owner, Answer a) : thread_([this, owner, a] { run(owner, a); }) {}
    ~Answerer() {
        if (thread_.joinable()) thread_.join();
    }
    // Waits for the answering thread and returns what it saw.
    Seen seen() {
        if (thread_.joinable()) thread_.join();
        return seen_;
    }

private:
    void run(HWND owner, const Answer& a) {
        HWND dlg = detail::wait_for(owner, nullptr, 10000);
        if (!dlg) {
            // Shown without its owner: close it, so the test fails instead of hanging.
            if (HWND stray = detail::wait_for(nullptr, nullptr, 1000))
                PostMessageA(stray, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return;
        }
        seen_.found = true;
        char text[4096] = {};
        GetWindowTextA(dlg, text, sizeof text);
        seen_.title = text;
        // The dialog fills its controls as it initialises: give it a moment.
        Sleep(100);
        HWND field = detail::name_field(dlg);
        if (field) {
            text[0] = 0;
            GetWindowTextA(field, text, sizeof text);
            seen_.proposed = text;
            if (a.ok) SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.name.c_str()));
        }
        // Posted, not sent: OK may raise a modal question on the dialog's thread.
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(a.ok ? IDOK : IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg, a.ok ? IDOK : IDCANCEL)));
        if (!a.ok) return;
        // A question owned by the dialog (replace the file?): Yes when wanted.
        HWND box = detail::wait_for(owner, dlg, a.confirm ? 5000 : 300);
        if (box && GetWindow(box, GW_OWNER) == dlg) {
            seen_.asked = true;
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(a.confirm ? IDYES : IDNO, BN_CLICKED), 0);
            if (!a.confirm) {  // then the dialog stays up: leave it
                Sleep(200);
                PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDCANCEL)));
            }
        }
    }

    Seen seen_;
    std::thread thread_;
};

}  // namespace dialog_win32
