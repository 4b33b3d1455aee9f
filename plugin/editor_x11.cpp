// The editor on X11: the frame is a child of the host's window on a display
// connection of its own, and a thread of its own handles the frame's events, so
// the panel answers the mouse and repaints however rarely the host idles it.
#include <atomic>
#include <thread>

#include "gui/win_x11.h"
#include "plugin/editor.h"
#include "plugin/main_vst.h"

struct QZ_Main_Vst_Editor::Frame {
    Frame(std::int32_t w, std::int32_t h) : win(w, h) {}
    QZ_Win_X11 win;
    std::thread pump;
    std::atomic<bool> stop{false};

    void start() {
        if (pump.joinable()) return;
        stop = false;
        try {
            pump = std::thread([this] {
                while (!stop.load(std::memory_order_acquire))
                    if (win.wait_events(20)) win.idle();
            });
        } catch (...) {
            // No thread to be had: the host's idle calls handle the events.
        }
    }
    void end() {
        if (!pump.joinable()) return;
        stop.store(true, std::memory_order_release);
        pump.join();
    }
};

QZ_Main_Vst_Editor::QZ_Main_Vst_Editor(QZ_Main_Vst* p)
    : AEffEditor(p), frame(std::make_unique<Frame>(p->editor_width, p->editor_height)), plugin(p) {}

QZ_Main_Vst_Editor::~QZ_Main_Vst_Editor() { close(); }

QZ_Win* QZ_Main_Vst_Editor::frame_window() const { return &frame->win; }

bool QZ_Main_Vst_Editor::open(void* ptr) {
    const auto parent = static_cast<QZ_Win_X11::XWindow>(reinterpret_cast<std::uintptr_t>(ptr));
    if (!parent) return false;
    // A second open without a close: the same parent keeps the window, another
    // one moves it there. The event thread waits meanwhile.
    frame->end();
    if (frame->win.show(parent) != parent) {
        if (systemWindow) close();
        return false;
    }
    systemWindow = ptr;
    frame->win.resize_parent(plugin->editor_width, plugin->editor_height);
    plugin->attach(&frame->win);
    frame->win.redraw({0, 0, plugin->editor_width, plugin->editor_height});
    frame->start();
    return true;
}

void QZ_Main_Vst_Editor::close() {
    // The event thread stops first: nothing handles a click while the widgets go.
    frame->end();
    if (systemWindow) plugin->detach();
    frame->win.show(0);
    systemWindow = nullptr;
}

void QZ_Main_Vst_Editor::idle() {
    if (systemWindow && !frame->pump.joinable()) frame->win.idle();
}
