// The file dialog on Windows: the system's common open and save dialogs.
#include <windows.h>
// After windows.h, which it needs.
#include <commdlg.h>

#include <cstring>
#include <new>

#include "gui/dlg_file.h"
#include "gui/win.h"

namespace {
static_assert(sizeof(OPENFILENAMEA) <= 160, "record storage too small");
#if !defined(_WIN64)
static_assert(sizeof(OPENFILENAMEA) == 88, "the record as 32-bit Windows knows it");
#endif

OPENFILENAMEA& record(unsigned char* storage) { return *reinterpret_cast<OPENFILENAMEA*>(storage); }
}  // namespace

QZ_Dlg_File_Win32::QZ_Dlg_File_Win32(QZ_Win* owner, const char* filter) : QZ_Dlg_File_Base(owner, filter) {
    OPENFILENAMEA& o = *new (ofn_) OPENFILENAMEA{};
    o.lStructSize = sizeof(OPENFILENAMEA);
    o.hInstance = GetModuleHandleA(nullptr);
    o.lpstrFilter = filter_;
    o.lpstrFile = path_;
    o.nMaxFile = static_cast<DWORD>(PATH_CHARS);
    o.lpstrInitialDir = ".";
    o.lpstrTitle = title();
    // The extension the preset filter shows, so that a name typed without one
    // can be found again by the open dialog.
    o.lpstrDefExt = default_ext_;
}

QZ_Dlg_File_Win32::~QZ_Dlg_File_Win32() = default;

const char* QZ_Dlg_File_Win32::open() { return run(false); }
const char* QZ_Dlg_File_Win32::save() { return run(true); }

const char* QZ_Dlg_File_Win32::run(bool save) {
    bool scripted = false;
    const char* r = ask_script(save ? QZ_Dlg_Kind::save : QZ_Dlg_Kind::open, &scripted);
    if (scripted) return r;

    OPENFILENAMEA& o = record(ofn_);
    o.hwndOwner = owner_ ? reinterpret_cast<HWND>(owner_->native_parent()) : nullptr;
    o.Flags = save ? (OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT) : (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST);
    // The dialog writes into the buffer; a cancelled one must leave the last choice.
    char keep[PATH_CHARS];
    std::memcpy(keep, path_, sizeof keep);
    const BOOL ok = save ? GetSaveFileNameA(&o) : GetOpenFileNameA(&o);
    if (ok && path_[0]) return path_;
    std::memcpy(path_, keep, sizeof keep);
    return nullptr;
}
