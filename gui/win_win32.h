// A toolkit window on Win32: a child window of a window the host hands in,
// painted tile by tile with BitBlt from the back buffer's DIB section, with the
// pointer turned into widget calls by its window procedure.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "gui/win.h"

class QZ_Win_Win32 : public QZ_Win {
public:
    QZ_Win_Win32(std::int32_t width, std::int32_t height);
    // Takes the window off the screen first, then detaches every widget.
    ~QZ_Win_Win32() override;

    // Shows the window inside `parent`, moves it to another parent, or with null
    // takes it off the screen. Returns the parent now in use (null when the
    // window cannot be created). Call on the thread that owns the parent.
    HWND hwnd(HWND parent);
    HWND parent() const { return parent_; }
    HWND child() const { return hwnd_; }
    // The host's window the editor shows in: what dialogs of the editor belong to.
    std::uintptr_t native_parent() const override { return reinterpret_cast<std::uintptr_t>(parent_); }

    // Paints the rectangle now, from any thread.
    void redraw(const QZ_Rect& r) override;
    // Posts a message to the window: its thread runs the deferred work from its
    // message loop. (The system's modal dialogs keep dispatching the owner's
    // paint messages, so nothing more is needed while one is up.)
    bool defer() override;

    // "QZFRAMEx" and the module's instance handle in 8 hexadecimal digits.
    static const char* class_name();

protected:
    void present(const QZ_Rect& s, const QZ_Picture& tile, std::int32_t tile_x, std::int32_t tile_y) override;

private:
    static LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    void paint_into(HDC dc, const QZ_Rect& r);

    HWND parent_ = nullptr;
    HWND hwnd_ = nullptr;
    bool tracking_ = false;    // a leave notice has been asked for
    std::atomic<bool> deferred_{false};  // a deferral is posted and not yet run
    HDC mem_dc_ = nullptr;     // holds the back buffer's bitmap, the source of every BitBlt
    HGDIOBJ mem_old_ = nullptr;
    HDC target_ = nullptr;     // where the tiles of the paint under way go
};
