// Widget base and the picture widget.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/object.h"
#include "gui/pic.h"

class QZ_Win;

// A plain function that a widget calls with its -dat object when the user
// changes it and nothing is bound with -var. Handed over with -com as the handle
// of one of these, so that a deleted callback is never called.
class QZ_Callback : public QZ_Object {
public:
    using Fn = void (*)(QZ_Object* data);
    explicit QZ_Callback(Fn f) : fn(f) {}
    Fn fn;
};

class QZ_Wid : public QZ_Object {
public:
    QZ_Wid();
    // Detaches from the window.
    ~QZ_Wid() override;
    virtual void reserved() {}
    // Composes the widget's source rectangle `src` (widget coordinates) onto
    // `target` with its top-left at (dx, dy).
    virtual void draw(QZ_Picture& target, std::int32_t dx, std::int32_t dy, const QZ_Rect& src);
    virtual void prepare() {}
    // prepare(), then, when attached, the window's redraw of the widget's rectangle.
    virtual void update();
    virtual void mouseDown(std::int32_t x, std::int32_t y);
    virtual void mouseDrag(std::int32_t x, std::int32_t y);
    virtual bool hitTest(std::int32_t x, std::int32_t y);
    virtual void mouseUp() {}

    // While alive, painting of the widget's window waits. An unattached widget
    // is guarded by the lock that attaching takes, so what another thread
    // writes into it is seen by the first paint after it is attached.
    class Paint_Guard {
    public:
        explicit Paint_Guard(const QZ_Wid* w);
        ~Paint_Guard();
        Paint_Guard(const Paint_Guard&) = delete;
        Paint_Guard& operator=(const Paint_Guard&) = delete;

    private:
        QZ_Win* win_ = nullptr;
    };

    // Attaches to a window (detaching from any other first), or with null detaches.
    void attach(QZ_Win* w);
    QZ_Win* window() const { return win_; }
    QZ_Rect rect() const { return {left, top, left + width, top + height}; }

    std::int32_t left = 0, top = 0, width = 0, height = 0;
    std::int32_t visible = 1;
    std::int32_t enabled = 1;

    static QZ_value m_l(QZ_Object* o, QZ_value v);
    static QZ_value m_t(QZ_Object* o, QZ_value v);
    static QZ_value m_w(QZ_Object* o, QZ_value v);
    static QZ_value m_h(QZ_Object* o, QZ_value v);
    static QZ_value m_win(QZ_Object* o, QZ_value v);
    static QZ_value m_vis(QZ_Object* o, QZ_value v);
    static QZ_value m_enabled(QZ_Object* o, QZ_value v);
    static QZ_value m_delete(QZ_Object* o, QZ_value v);

private:
    friend class QZ_Win;
    void detach();

    // Read by a host thread (a value set while the editor opens or closes).
    std::atomic<QZ_Win*> win_{nullptr};
    QZ_Chain_Item entry_{this};                                 // in the window's widget list
    std::vector<std::unique_ptr<QZ_Chain_Item>> tile_entries_;  // one per covered tile
};

// Shows a picture resource, repeated to fill the widget.
class QZ_Wid_Pic : public QZ_Wid {
public:
    void draw(QZ_Picture& target, std::int32_t dx, std::int32_t dy, const QZ_Rect& src) override;

    QZ_Picture picture;
    std::string resource;  // empty: none

    static QZ_value m_res(QZ_Object* o, QZ_value v);
};

// Looks a resource up (reporting a missing name) and gives its length too.
const unsigned char* QZ_gui_resource(const char* name, std::size_t* size);
