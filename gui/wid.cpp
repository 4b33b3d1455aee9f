#include "gui/wid.h"

#include <iterator>

#include "gui/classes.h"

#include <algorithm>
#include <mutex>

#include "core/resource.h"
#include "gui/win.h"

namespace {
// Floor division, so that a widget left of or above the window files into no tile.
std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
}  // namespace

QZ_Wid::QZ_Wid() = default;

QZ_Wid::~QZ_Wid() { attach(nullptr); }

void QZ_Wid::draw(QZ_Picture&, std::int32_t, std::int32_t, const QZ_Rect&) {}

void QZ_Wid::update() {
    prepare();
    if (QZ_Win* w = win_) w->redraw(rect());
}

void QZ_Wid::mouseDown(std::int32_t, std::int32_t) {}
void QZ_Wid::mouseDrag(std::int32_t, std::int32_t) {}
bool QZ_Wid::hitTest(std::int32_t, std::int32_t) { return true; }

namespace {
// Held while widgets are attached or detached, and by the guard of a widget
// that has no window.
std::recursive_mutex g_attach_mutex;
}  // namespace

QZ_Wid::Paint_Guard::Paint_Guard(const QZ_Wid* w) {
    // The window may change between looking and locking: look again under the lock.
    for (;;) {
        if (QZ_Win* win = w->win_.load()) {
            win->paint_mutex_.lock();
            if (w->win_.load() == win) {
                win_ = win;
                return;
            }
            win->paint_mutex_.unlock();
        } else {
            g_attach_mutex.lock();
            if (!w->win_.load()) return;
            g_attach_mutex.unlock();
        }
    }
}
QZ_Wid::Paint_Guard::~Paint_Guard() {
    if (win_)
        win_->paint_mutex_.unlock();
    else
        g_attach_mutex.unlock();
}

void QZ_Wid::detach() {
    QZ_Win* w = win_;
    std::lock_guard<std::recursive_timed_mutex> lock(w->paint_mutex_);
    w->forget(this);
    w->widgets_.remove(&entry_);
    for (auto& e : tile_entries_)
        if (e->list) e->list->remove(e.get());
    tile_entries_.clear();
    win_ = nullptr;
}

void QZ_Wid::attach(QZ_Win* w) {
    if (win_ == w) return;  // attaching again to the same window changes nothing
    std::lock_guard<std::recursive_mutex> attaching(g_attach_mutex);
    if (win_) detach();
    if (!w) return;
    std::lock_guard<std::recursive_timed_mutex> lock(w->paint_mutex_);
    w->widgets_.insert(&entry_);
    // Tiles under the rectangle as it is now, clipped to the window's grid.
    if (width > 0 && height > 0) {
        const std::int64_t c0 = std::max<std::int64_t>(floor_div(left, QZ_Win::TILE), 0);
        const std::int64_t r0 = std::max<std::int64_t>(floor_div(top, QZ_Win::TILE), 0);
        const std::int64_t c1 = std::min<std::int64_t>(
            floor_div(static_cast<std::int64_t>(left) + width - 1, QZ_Win::TILE), w->tiles_x_ - 1);
        const std::int64_t r1 = std::min<std::int64_t>(
            floor_div(static_cast<std::int64_t>(top) + height - 1, QZ_Win::TILE), w->tiles_y_ - 1);
        for (std::int64_t r = r0; r <= r1; ++r) {
            for (std::int64_t c = c0; c <= c1; ++c) {
                tile_entries_.push_back(std::make_unique<QZ_Chain_Item>(this));
                w->tiles_[r * w->tiles_x_ + c].insert(tile_entries_.back().get());
            }
        }
    }
    win_ = w;
}

QZ_value QZ_Wid::m_l(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid*>(o);
    if (v.present()) {
        Paint_Guard g(w);
        w->left = v.as_int();
    }
    return QZ_value::integer(w->left);
}
QZ_value QZ_Wid::m_t(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid*>(o);
    if (v.present()) {
        Paint_Guard g(w);
        w->top = v.as_int();
    }
    return QZ_value::integer(w->top);
}
QZ_value QZ_Wid::m_w(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid*>(o);
    if (v.present()) {
        Paint_Guard g(w);
        w->width = v.as_int();
    }
    return QZ_value::integer(w->width);
}
QZ_value QZ_Wid::m_h(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid*>(o);
    if (v.present()) {
        Paint_Guard g(w);
        w->height = v.as_int();
    }
    return QZ_value::integer(w->height);
}
QZ_value QZ_Wid::m_win(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid*>(o);
    if (v.present()) {
        const QZ_handle h = v.as_word();
        if (h == 0) {
            w->attach(nullptr);
        } else if (auto* win = QZ_object_as<QZ_Win>(h)) {
            w->attach(win);
        }  // a word that names no window is refused: the attachment stays
    }
    return QZ_value::object(QZ_handle_of(w->win_.load()));
}
QZ_value QZ_Wid::m_vis(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid*>(o);
    if (v.present()) {
        {
            Paint_Guard g(w);
            w->visible = v.as_int();
        }
        w->update();
    }
    return QZ_value::integer(w->visible);
}
QZ_value QZ_Wid::m_enabled(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid*>(o);
    if (v.present()) {
        {
            Paint_Guard g(w);
            w->enabled = v.as_int();
        }
        w->update();
    }
    return QZ_value::integer(w->enabled);
}
QZ_value QZ_Wid::m_delete(QZ_Object* o, QZ_value v) {
    if (!v.present()) delete o;
    return QZ_EMPTY;
}

void QZ_Wid_Pic::draw(QZ_Picture& target, std::int32_t dx, std::int32_t dy, const QZ_Rect& src) {
    QZ_blend(picture, target, dx, dy, &src);
}

const unsigned char* QZ_gui_resource(const char* name, std::size_t* size) {
    *size = 0;
    const unsigned char* p = QZ_resource(name);
    if (p) QZ_resource_find(name, size);
    return p;
}

QZ_value QZ_Wid_Pic::m_res(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Pic*>(o);
    if (v.type == QZ_T_STRING && v.word.s) {
        w->resource = v.word.s;
        std::size_t size = 0;
        const unsigned char* p = QZ_gui_resource(w->resource.c_str(), &size);
        if (p && w->picture.map(p, size)) {
            if (w->width == 0) w->width = w->picture.width;
            if (w->height == 0) w->height = w->picture.height;
        }
    }
    return QZ_value::text(w->resource.c_str());
}

namespace {
QZ_Object* make_pic() { return new QZ_Wid_Pic; }
const QZ_Option wid_options[] = {
    {"l", &QZ_Wid::m_l},
    {"t", &QZ_Wid::m_t},
    {"w", &QZ_Wid::m_w},
    {"h", &QZ_Wid::m_h},
    {"win", &QZ_Wid::m_win},
    {"vis", &QZ_Wid::m_vis},
    {"enabled", &QZ_Wid::m_enabled},
    {"delete", &QZ_Wid::m_delete},
};
const QZ_Option pic_options[] = {{"res", &QZ_Wid_Pic::m_res}};
}  // namespace

const QZ_Class QZ_Wid_class = {"QZ_Wid", nullptr, wid_options, std::size(wid_options), &QZ_Object_class};
const QZ_Class QZ_Wid_Pic_class = {"QZ_Wid_Pic", &make_pic, pic_options, std::size(pic_options),
                                   &QZ_Wid_class};
