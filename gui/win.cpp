#include "gui/win.h"

#include <chrono>
#include <typeinfo>

#include "gui/controls.h"
#include "gui/wid.h"

namespace {
std::int32_t tiles_for(std::int32_t n) { return n > 0 ? (n - 1) / QZ_Win::TILE + 1 : 0; }

// Brightens (hover, f = 1.5) or fades (disabled, f = 0.4) a composed area:
// where alpha x f would exceed 255 the colours are scaled and alpha kept,
// otherwise alpha is scaled and the colours kept.
void apply_factor(QZ_Picture& pic, const QZ_Rect& a, bool brighten) {
    for (std::int32_t y = a.top; y < a.bottom; ++y) {
        QZ_Pix_A32* p = pic.row(y) + a.left;
        for (std::int32_t x = a.left; x < a.right; ++x, ++p) {
            if (brighten) {
                if (p->a * 3 > 510) {
                    auto up = [](std::uint8_t c) {
                        const int v = c * 3 / 2;
                        return static_cast<std::uint8_t>(v > 255 ? 255 : v);
                    };
                    p->b = up(p->b);
                    p->g = up(p->g);
                    p->r = up(p->r);
                } else {
                    p->a = static_cast<std::uint8_t>(p->a * 3 / 2);
                }
            } else {
                p->a = static_cast<std::uint8_t>(p->a * 2 / 5);  // alpha x 0.4 never exceeds 255
            }
        }
    }
}
}  // namespace

QZ_Win::QZ_Win(std::int32_t width, std::int32_t height)
    : width_(width > 0 ? width : 0),
      height_(height > 0 ? height : 0),
      tiles_x_(tiles_for(width)),
      tiles_y_(tiles_for(height)),
      tiles_(new QZ_Chain[static_cast<std::size_t>(tiles_for(width)) * tiles_for(height)]) {
    back_.allocate(TILE, TILE);
    scratch_.allocate(TILE, TILE);
    back_.fill({0, 0, 0, 0});
    scratch_.fill({0, 0, 0, 0});
}

QZ_Win::~QZ_Win() {
    while (widgets_.first() != widgets_.end()) static_cast<QZ_Wid*>(widgets_.first()->data)->attach(nullptr);
}

void QZ_Win::redraw(const QZ_Rect&) {}

void QZ_Win::on_deferred(Deferred_Fn fn, void* context) {
    std::lock_guard<std::mutex> lock(deferred_mutex_);
    deferred_fn_ = fn;
    deferred_context_ = context;
}

void QZ_Win::run_deferred() {
    std::lock_guard<std::mutex> lock(deferred_mutex_);
    if (deferred_fn_) deferred_fn_(deferred_context_);
}

void QZ_Win::present(const QZ_Rect&, const QZ_Picture&, std::int32_t, std::int32_t) {}

void QZ_Win::forget(QZ_Wid* w) {
    if (hovered_ == w) hovered_ = nullptr;
    if (captured_ == w) captured_ = nullptr;
}

QZ_Wid* QZ_Win::hit(std::int32_t x, std::int32_t y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return nullptr;
    const QZ_Chain& t = tile(x / TILE, y / TILE);
    for (QZ_Chain_Item* it = t.tail.prev; it != &t.head; it = it->prev) {
        auto* w = static_cast<QZ_Wid*>(it->data);
        if (w->visible && x >= w->left && y >= w->top && x - w->left < w->width && y - w->top < w->height &&
            w->hitTest(x - w->left, y - w->top))
            return w;
    }
    return nullptr;
}

bool QZ_Win::paint(const QZ_Rect& r) {
    std::unique_lock<std::recursive_timed_mutex> lock(paint_mutex_, std::defer_lock);
    // Against the system clock: its timed lock is the one every thread checker knows.
    if (!lock.try_lock_until(std::chrono::system_clock::now() + std::chrono::milliseconds(1000)))
        return false;
    const QZ_Rect area = QZ_intersect(r, {0, 0, width_, height_});
    if (area.empty()) return true;
    const std::int32_t row1 = (area.bottom - 1) / TILE, col1 = (area.right - 1) / TILE;
    for (std::int32_t row = area.top / TILE; row <= row1 && row < tiles_y_; ++row) {
        for (std::int32_t col = area.left / TILE; col <= col1 && col < tiles_x_; ++col) {
            const QZ_Rect t{col * TILE, row * TILE, col * TILE + TILE, row * TILE + TILE};
            const QZ_Rect s = QZ_intersect(t, area);
            compose_tile(col, row, s);
            present(s, back_, t.left, t.top);
        }
    }
    return true;
}

void QZ_Win::compose_tile(std::int32_t col, std::int32_t row, const QZ_Rect& s) {
    const std::int32_t tx = col * TILE, ty = row * TILE;
    const QZ_Chain& list = tiles_[row * tiles_x_ + col];
    // An opaque pixel still keeps 1/256 of what lies under it, so composing over
    // whatever the previous tile left would make pixels depend on the order of
    // repaints. Start every tile from a cleared area.
    for (std::int32_t y = s.top - ty; y < s.bottom - ty; ++y) {
        QZ_Pix_A32* p = back_.row(y) + (s.left - tx);
        for (std::int32_t x = s.left; x < s.right; ++x) *p++ = {0, 0, 0, 0};
    }
    for (QZ_Chain_Item* it = list.first(); it != list.end(); it = it->next) {
        auto* w = static_cast<QZ_Wid*>(it->data);
        const QZ_Rect o = QZ_intersect(w->rect(), s);
        if (o.empty()) continue;
        const QZ_Rect src{o.left - w->left, o.top - w->top, o.right - w->left, o.bottom - w->top};
        const std::int32_t dx = o.left - tx, dy = o.top - ty;
        if (w != hovered_ && w->enabled) {
            if (w->visible) w->draw(back_, dx, dy, src);
            continue;
        }
        const QZ_Rect area{dx, dy, dx + (o.right - o.left), dy + (o.bottom - o.top)};
        for (std::int32_t y = area.top; y < area.bottom; ++y)
            for (std::int32_t x = area.left; x < area.right; ++x) scratch_.at(x, y) = {0, 0, 0, 0};
        if (w->visible) w->draw(scratch_, dx, dy, src);
        apply_factor(scratch_, area, w->enabled != 0);
        QZ_blend(scratch_, back_, dx, dy, &area);
    }
}

void QZ_Win::pointer_move(std::int32_t x, std::int32_t y) {
    if (captured_) {
        captured_->mouseDrag(x - captured_->left, y - captured_->top);
        return;
    }
    if (width_ <= 0 || height_ <= 0) return;
    x = x < 0 ? 0 : (x >= width_ ? width_ - 1 : x);
    y = y < 0 ? 0 : (y >= height_ ? height_ - 1 : y);
    QZ_Wid* old = nullptr;
    QZ_Wid* h = nullptr;
    {
        // Hit testing reads what a host thread may be changing; painting reads hovered_.
        std::lock_guard<std::recursive_timed_mutex> lock(paint_mutex_);
        h = hit(x, y);
        // Only the controls themselves light up, not classes built on them.
        if (h && typeid(*h) != typeid(QZ_Wid_Knob) && typeid(*h) != typeid(QZ_Wid_Butt)) h = nullptr;
        if (h == hovered_) return;
        old = hovered_;
        hovered_ = h;
    }
    if (old) redraw(old->rect());
    if (h) redraw(h->rect());
}

void QZ_Win::pointer_down(std::int32_t x, std::int32_t y) {
    {
        std::lock_guard<std::recursive_timed_mutex> lock(paint_mutex_);
        if (!hovered_ || !hovered_->enabled) return;
        captured_ = hovered_;
    }
    captured_->mouseDown(x - captured_->left, y - captured_->top);
}

void QZ_Win::pointer_up() {
    QZ_Wid* w = captured_;
    captured_ = nullptr;
    if (w) w->mouseUp();
}

void QZ_Win::pointer_leave() {
    pointer_up();
    QZ_Wid* old = hovered_;
    {
        std::lock_guard<std::recursive_timed_mutex> lock(paint_mutex_);
        hovered_ = nullptr;
    }
    if (old) redraw(old->rect());
}

void QZ_Win::release_pointer() {
    QZ_Wid* old = nullptr;
    QZ_Wid* held = nullptr;
    {
        std::lock_guard<std::recursive_timed_mutex> lock(paint_mutex_);
        old = hovered_;
        held = captured_;
        hovered_ = nullptr;
        captured_ = nullptr;
    }
    // A widget held when the pointer was taken away is let go (a drag's gesture ends).
    if (held) held->mouseUp();
    if (old) redraw(old->rect());
}

QZ_Win_Image::QZ_Win_Image(std::int32_t width, std::int32_t height) : QZ_Win(width, height) {
    image.allocate(this->width(), this->height());
    image.fill({0, 0, 0, 0});
}

void QZ_Win_Image::redraw(const QZ_Rect& r) { paint(r); }

void QZ_Win_Image::present(const QZ_Rect& s, const QZ_Picture& tile, std::int32_t tile_x,
                           std::int32_t tile_y) {
    for (std::int32_t y = s.top; y < s.bottom; ++y) {
        const QZ_Pix_A32* src = tile.row(y - tile_y) + (s.left - tile_x);
        QZ_Pix_A32* dst = image.row(y) + s.left;
        for (std::int32_t x = s.left; x < s.right; ++x) *dst++ = *src++;
    }
    ++presented_tiles;
}
