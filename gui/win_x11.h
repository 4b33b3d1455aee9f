// A toolkit window on X11: a child window of a window the host hands in, on a
// display connection of its own, painted tile by tile with XPutImage. The host
// pumps its events from its idle call; nothing is opened before the first show.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "gui/win.h"

struct _XDisplay;
struct _XImage;
struct _XGC;

class QZ_Win_X11 : public QZ_Win {
public:
    using XWindow = unsigned long;  // an X window id

    // `display` names the X display to use; null means $DISPLAY.
    QZ_Win_X11(std::int32_t width, std::int32_t height, const char* display = nullptr);
    ~QZ_Win_X11() override;

    // Shows the window inside `parent`, moves it to another parent, or with 0
    // takes it off the screen. Returns the parent now in use (0 when the
    // display or the parent cannot be had).
    XWindow show(XWindow parent);
    XWindow parent() const { return parent_; }
    std::uintptr_t native_parent() const override { return parent_; }
    XWindow xwindow() const { return window_; }

    void redraw(const QZ_Rect& r) override;

    // The thread that last called idle() runs deferred work; the others wake it.
    bool defer() override;
    // A thread of the window's own serves expose events (and deferred work)
    // while a dialog is up, wherever the dialog runs; pointer input is dropped
    // meanwhile, as a modal dialog's owner ignores it.
    void modal_begin() override;
    void modal_end() override;

    // Handles the X events that have arrived, and deferred work, without
    // waiting. Safe to call at any rate, and when the window is not shown.
    // Returns the number of events handled.
    int idle();

    // Waits at most timeout_ms for events on the connection (or a request for
    // deferred work); true when some may be there (idle() then handles them).
    // While not shown it only sleeps.
    bool wait_events(int timeout_ms);

    // Sets the outer size of the parent window, leaving its position alone.
    // False when not shown or the parent refused.
    bool resize_parent(std::int32_t width, std::int32_t height);

protected:
    void present(const QZ_Rect& s, const QZ_Picture& tile, std::int32_t tile_x, std::int32_t tile_y) override;

private:
    void destroy_window();
    int handle_events(bool modal_server);

    int wake_fd_ = -1;                      // an eventfd: deferred work is waiting
    std::atomic<bool> deferred_{false};     // asked for and not yet run
    std::atomic<bool> shown_{false};
    std::atomic<std::thread::id> event_thread_{};
    std::mutex modal_mutex_;                // modal_depth_ and the server thread
    int modal_depth_ = 0;
    std::atomic<bool> modal_{false};
    std::thread modal_server_;

    std::string display_name_;
    bool has_display_name_ = false;
    _XDisplay* dpy_ = nullptr;
    XWindow parent_ = 0;
    XWindow window_ = 0;
    _XGC* gc_ = nullptr;
    _XImage* image_ = nullptr;     // 64x64 tile image in the window's format
    bool direct_ = false;          // the visual takes our pixels as they are
    unsigned long masks_[3] = {};  // red, green, blue masks of the visual
    std::mutex x_mutex_;           // one thread at a time on the connection
};
