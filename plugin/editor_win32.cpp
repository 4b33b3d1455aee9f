// The editor on Win32: the frame is a child window of the host's window. The
// host's message loop delivers its messages, so nothing runs on idle.
#include "gui/win_win32.h"
#include "plugin/editor.h"
#include "plugin/main_vst.h"

struct QZ_Main_Vst_Editor::Frame {
    Frame(std::int32_t w, std::int32_t h) : win(w, h) {}
    QZ_Win_Win32 win;
};

QZ_Main_Vst_Editor::QZ_Main_Vst_Editor(QZ_Main_Vst* p)
    : AEffEditor(p), frame(std::make_unique<Frame>(p->editor_width, p->editor_height)), plugin(p) {}

QZ_Main_Vst_Editor::~QZ_Main_Vst_Editor() { close(); }

QZ_Win* QZ_Main_Vst_Editor::frame_window() const { return &frame->win; }

bool QZ_Main_Vst_Editor::open(void* ptr) {
    HWND parent = static_cast<HWND>(ptr);
    if (!parent || !IsWindow(parent)) return false;
    // A second open without a close: the same parent keeps the window, another
    // one moves it there.
    if (frame->win.hwnd(parent) != parent) {
        if (systemWindow) close();
        return false;
    }
    systemWindow = ptr;
    plugin->attach(&frame->win);
    frame->win.redraw({0, 0, plugin->editor_width, plugin->editor_height});
    return true;
}

void QZ_Main_Vst_Editor::close() {
    if (systemWindow) plugin->detach();
    frame->win.hwnd(nullptr);
    systemWindow = nullptr;
}

void QZ_Main_Vst_Editor::idle() {}
