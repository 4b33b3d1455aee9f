#include "gui/dlg_box_x11.h"

#include "gui/dlg_file.h"

QZ_Dlg_Box_X11::QZ_Dlg_Box_X11(const std::string& display, unsigned long transient_for, const char* title)
    : display_(display), transient_for_(transient_for), title_(title ? title : "") {}

QZ_Dlg_Box_X11::~QZ_Dlg_Box_X11() = default;

std::optional<std::string> QZ_Dlg_Box_X11::choose(QZ_Dlg_Kind, const std::string&, const std::string&,
                                                  const QZ_Dlg_File_Base&) {
    return std::nullopt;
}

bool QZ_Dlg_Box_X11::confirm_replace(const std::string&) { return false; }
