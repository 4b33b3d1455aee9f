// Windows: the surface widgets live on. A window keeps its widgets in attach
// order, a grid of 64x64 tiles listing the widgets over each tile, and the
// pointer state; it paints tile by tile through a 64x64 back buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "core/object.h"
#include "gui/pic.h"

class QZ_Wid;

class QZ_Win : public QZ_Object {
public:
    static constexpr std::int32_t TILE = 64;

    QZ_Win(std::int32_t width, std::int32_t height);
    // Repaints a rectangle of the window now; the base has no screen and does nothing.
    virtual void redraw(const QZ_Rect& r);
    // The platform's handle of the window this one shows in (an HWND or an X
    // window id; 0 while not shown, and always for windows without a screen).
    // Dialogs stay above it.
    virtual std::uintptr_t native_parent() const { return 0; }

    // Work for the window's own thread (the one that handles its events): the
    // owner installs one function; any thread may then ask for it with defer().
    using Deferred_Fn = void (*)(void* context);
    void on_deferred(Deferred_Fn fn, void* context);
    // Asks the window's own thread to run the deferred function soon, without
    // waiting for anything. False when there is no such thread to ask (not
    // shown, nobody handles its events yet) or the caller is that thread: the
    // caller then does the work itself.
    virtual bool defer() { return false; }

    // While a modal dialog or message box is up, whatever thread runs it, the
    // window keeps repainting what gets uncovered (its pointer input waits).
    // Nested calls count; the base has no screen and does nothing.
    virtual void modal_begin() {}
    virtual void modal_end() {}
    // Detaches every widget still attached.
    ~QZ_Win() override;

    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    std::int32_t tiles_across() const { return tiles_x_; }
    std::int32_t tiles_down() const { return tiles_y_; }

    // Widget attachment (the widget side is QZ_Wid::attach).
    const QZ_Chain& widgets() const { return widgets_; }
    const QZ_Chain& tile(std::int32_t col, std::int32_t row) const { return tiles_[row * tiles_x_ + col]; }

    // The topmost visible widget whose rectangle holds the point and whose
    // hitTest agrees; null when none.
    QZ_Wid* hit(std::int32_t x, std::int32_t y) const;

    // Composes every tile that meets `r` and hands each to present(). Waits at
    // most 1000 ms for the paint mutex; returns false when the paint was skipped.
    bool paint(const QZ_Rect& r);

    // Pointer input in window coordinates, shared by every backend.
    void pointer_move(std::int32_t x, std::int32_t y);
    void pointer_down(std::int32_t x, std::int32_t y);
    void pointer_up();
    // The pointer left the window: ends a drag, and removes the highlight.
    void pointer_leave();
    // Forgets the hovered and the captured widget (the highlight is redrawn
    // away): after a modal action the pointer may be anywhere.
    void release_pointer();

    QZ_Wid* hovered() const { return hovered_; }
    QZ_Wid* captured() const { return captured_; }

    // Held while composing, and by widgets while they change what painting reads
    // (so a host thread setting a value and the window thread painting never
    // meet half-way). Recursive: a widget's draw may prepare itself.
    std::recursive_timed_mutex& paint_mutex() { return paint_mutex_; }

protected:
    // Runs the deferred function (on the window's own thread).
    void run_deferred();

    // Receives one composed tile: the part `s` of the window (window
    // coordinates), found in `tile` at (s.left - sx0, s.top - sy0) with
    // sx0/sy0 the tile's window origin.
    virtual void present(const QZ_Rect& s, const QZ_Picture& tile, std::int32_t tile_x, std::int32_t tile_y);

private:
    friend class QZ_Wid;
    void compose_tile(std::int32_t col, std::int32_t row, const QZ_Rect& s);
    void forget(QZ_Wid* w);  // a detached widget is neither hovered nor captured

    std::int32_t width_, height_;
    std::int32_t tiles_x_, tiles_y_;
    QZ_Chain widgets_;
    std::unique_ptr<QZ_Chain[]> tiles_;
    QZ_Wid* captured_ = nullptr;
    QZ_Wid* hovered_ = nullptr;
    QZ_Picture back_;
    QZ_Picture scratch_;
    std::recursive_timed_mutex paint_mutex_;
    std::mutex deferred_mutex_;  // installing against running
    Deferred_Fn deferred_fn_ = nullptr;
    void* deferred_context_ = nullptr;
};

// A modal dialog's span over a window (null: none).
class QZ_Win_Modal {
public:
    explicit QZ_Win_Modal(QZ_Win* w) : win_(w) {
        if (win_) win_->modal_begin();
    }
    ~QZ_Win_Modal() {
        if (win_) win_->modal_end();
    }
    QZ_Win_Modal(const QZ_Win_Modal&) = delete;
    QZ_Win_Modal& operator=(const QZ_Win_Modal&) = delete;

private:
    QZ_Win* win_;
};

// A window without a screen: it composes into a picture of its whole size, for
// tests and for programs that save the editor as an image.
class QZ_Win_Image : public QZ_Win {
public:
    QZ_Win_Image(std::int32_t width, std::int32_t height);
    void redraw(const QZ_Rect& r) override;

    QZ_Picture image;
    int presented_tiles = 0;  // tiles copied so far (tests count repaints)

protected:
    void present(const QZ_Rect& s, const QZ_Picture& tile, std::int32_t tile_x, std::int32_t tile_y) override;
};
