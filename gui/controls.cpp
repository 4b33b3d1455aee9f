#include "gui/controls.h"

#include <iterator>

#include "gui/classes.h"

#include <cmath>

#include "gui/win.h"

namespace {
void call_back(QZ_handle com, QZ_handle dat) {
    if (auto* cb = QZ_object_as<QZ_Callback>(com))
        if (cb->fn) cb->fn(QZ_object_from_handle(dat));
}

// -var, -com and -dat keep handles; a word naming nothing suitable is refused.
QZ_value set_var(QZ_handle& slot, const QZ_value& v) {
    if (v.present()) {
        const QZ_handle h = v.as_word();
        if (h == 0 || QZ_bound_value(h)) slot = h;
    }
    return QZ_value::object(slot);
}
QZ_value set_com(QZ_handle& slot, const QZ_value& v) {
    if (v.present()) {
        const QZ_handle h = v.as_word();
        if (h == 0 || QZ_object_as<QZ_Callback>(h)) slot = h;
    }
    return QZ_value::object(slot);
}
QZ_value set_dat(QZ_handle& slot, const QZ_value& v) {
    if (v.present()) {
        const QZ_handle h = v.as_word();
        if (h == 0 || QZ_object_from_handle(h)) slot = h;
    }
    return QZ_value::object(slot);
}
void map_strip(QZ_Vid& strip, std::string& name, const QZ_value& v) {
    if (v.type != QZ_T_STRING || !v.word.s) return;
    name = v.word.s;
    std::size_t size = 0;
    if (const unsigned char* p = QZ_gui_resource(name.c_str(), &size)) strip.map(p, size);
}
bool opaque_at(const QZ_Vid& strip, std::int32_t frame, std::int32_t x, std::int32_t y) {
    QZ_Pix_A32 p;
    return strip.pixel(frame, x, y, &p) && p.a >= 128;
}
}  // namespace

QZ_value* QZ_bound_value(QZ_handle h) { return dynamic_cast<QZ_value*>(QZ_object_from_handle(h)); }

// ---------------------------------------------------------------- switch

void QZ_Wid_Butt::draw(QZ_Picture& target, std::int32_t dx, std::int32_t dy, const QZ_Rect& src) {
    QZ_drawFrame(strip, state ? 1 : 0, target, dx, dy, &src);
}

void QZ_Wid_Butt::update() {
    {
        Paint_Guard g(this);
        shown = state ? 1 : 0;
    }
    QZ_Wid::update();
}

bool QZ_Wid_Butt::hitTest(std::int32_t x, std::int32_t y) { return opaque_at(strip, shown, x, y); }

void QZ_Wid_Butt::set_state(bool on) {
    {
        // Compared under the lock too: a host's thread and the editor's may set it at once.
        Paint_Guard g(this);
        if (on == state) return;
        state = on;
    }
    update();
    call_back(com, dat);
}

void QZ_Wid_Butt::mouseDown(std::int32_t, std::int32_t) {
    if (QZ_value* b = QZ_bound_value(var)) {
        // The owner decides; the switch shows the outcome once it is set with -val.
        // A click is a whole gesture.
        QZ_Object* about = QZ_object_from_handle(dat);
        b->gesture(true, about);
        b->word.p = nullptr;
        b->word.i = state ? 0 : 1;
        b->type = QZ_T_INT;
        b->changed(about);
        // The owner may have unbound the switch meanwhile.
        if (QZ_value* still = QZ_bound_value(var)) still->gesture(false, QZ_object_from_handle(dat));
        return;
    }
    set_state(!state);
}

QZ_value QZ_Wid_Butt::m_res(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Butt*>(o);
    map_strip(w->strip, w->resource, v);
    return QZ_value::text(w->resource.c_str());
}
QZ_value QZ_Wid_Butt::m_com(QZ_Object* o, QZ_value v) {
    return set_com(static_cast<QZ_Wid_Butt*>(o)->com, v);
}
QZ_value QZ_Wid_Butt::m_var(QZ_Object* o, QZ_value v) {
    return set_var(static_cast<QZ_Wid_Butt*>(o)->var, v);
}
QZ_value QZ_Wid_Butt::m_dat(QZ_Object* o, QZ_value v) {
    return set_dat(static_cast<QZ_Wid_Butt*>(o)->dat, v);
}
QZ_value QZ_Wid_Butt::m_val(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Butt*>(o);
    if (v.present()) w->set_state(v.as_float() != 0.0f);
    return QZ_value::real(w->state ? 1.0f : 0.0f);
}

// ---------------------------------------------------------------- knob

void QZ_Wid_Knob::draw(QZ_Picture& target, std::int32_t dx, std::int32_t dy, const QZ_Rect& src) {
    QZ_drawFrame(strip, position, target, dx, dy, &src);  // a position outside the strip draws nothing
}

void QZ_Wid_Knob::update() {
    if (!window() || resource.empty() || position < 0 || static_cast<std::uint32_t>(position) >= strip.frames)
        return;
    QZ_Wid::update();
    call_back(com, dat);
}

bool QZ_Wid_Knob::hitTest(std::int32_t x, std::int32_t y) { return opaque_at(strip, position, x, y); }

float QZ_Wid_Knob::value() const {
    const double d = strip.frames > 1 ? static_cast<double>(strip.frames) - 1.0 : 1.0;
    return static_cast<float>(minimum + position / d * (static_cast<double>(maximum) - minimum));
}

void QZ_Wid_Knob::set_value(float v) {
    std::int32_t p = 0;
    if (maximum != minimum) {
        const long double span = static_cast<long double>(strip.frames) - 1.0L;
        long double t =
            span * (static_cast<long double>(v) - minimum) / (static_cast<long double>(maximum) - minimum);
        // A frame's own value, once stored as a float, may come back a hair
        // below the frame number; a thousandth of a frame is far above that
        // rounding and far below any value between two frames.
        if (t >= 0) t += 1e-3L;
        p = QZ_trunc_to_int(static_cast<double>(std::trunc(t)));
    }
    if (resource.empty()) return;
    {
        Paint_Guard g(this);
        position = p;
    }
    update();
}

void QZ_Wid_Knob::mouseDown(std::int32_t x, std::int32_t y) {
    anchor_x = x;
    anchor_y = y;
    anchor_pos = position;
    // Taking the knob begins a gesture; letting it go ends it.
    if (QZ_value* b = QZ_bound_value(var)) {
        if (gesturing) b->gesture(false, QZ_object_from_handle(dat));  // a release that never came
        b->gesture(true, QZ_object_from_handle(dat));
        gesturing = true;
    }
}

void QZ_Wid_Knob::mouseUp() {
    if (!gesturing) return;
    gesturing = false;
    if (QZ_value* b = QZ_bound_value(var)) b->gesture(false, QZ_object_from_handle(dat));
}

void QZ_Wid_Knob::mouseDrag(std::int32_t x, std::int32_t y) {
    const std::int64_t frames = strip.frames;
    std::int64_t p = static_cast<std::int64_t>(anchor_pos) + (static_cast<std::int64_t>(x) - anchor_x) -
                     (static_cast<std::int64_t>(y) - anchor_y);
    if (p < 0 || p >= frames) {
        // Re-anchor at the limit, so that moving back acts at once.
        anchor_x = x;
        anchor_y = y;
        p = p < 0 || frames == 0 ? 0 : frames - 1;
        anchor_pos = static_cast<std::int32_t>(p);
    }
    {
        Paint_Guard g(this);
        position = static_cast<std::int32_t>(p);
    }
    if (QZ_value* b = QZ_bound_value(var)) {
        b->word.p = nullptr;
        b->word.f = value();
        b->type = QZ_T_FLOAT;
        b->length = -1;
        b->changed(QZ_object_from_handle(dat));
        return;
    }
    update();
}

QZ_value QZ_Wid_Knob::m_res(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Knob*>(o);
    map_strip(w->strip, w->resource, v);
    return QZ_value::text(w->resource.c_str());
}
QZ_value QZ_Wid_Knob::m_com(QZ_Object* o, QZ_value v) {
    return set_com(static_cast<QZ_Wid_Knob*>(o)->com, v);
}
QZ_value QZ_Wid_Knob::m_var(QZ_Object* o, QZ_value v) {
    return set_var(static_cast<QZ_Wid_Knob*>(o)->var, v);
}
QZ_value QZ_Wid_Knob::m_dat(QZ_Object* o, QZ_value v) {
    return set_dat(static_cast<QZ_Wid_Knob*>(o)->dat, v);
}
QZ_value QZ_Wid_Knob::m_val(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Knob*>(o);
    if (v.present()) w->set_value(v.as_float());
    Paint_Guard g(w);  // a drag on the window's thread may be moving it
    return QZ_value::real(w->value());
}
QZ_value QZ_Wid_Knob::m_mn(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Knob*>(o);
    if (v.present()) {
        const float keep = w->value();
        w->minimum = v.as_float();
        w->set_value(keep);
    }
    return QZ_value::real(w->minimum);
}
QZ_value QZ_Wid_Knob::m_mx(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Knob*>(o);
    if (v.present()) {
        const float keep = w->value();
        w->maximum = v.as_float();
        w->set_value(keep);
    }
    return QZ_value::real(w->maximum);
}

namespace {
QZ_Object* make_butt() { return new QZ_Wid_Butt; }
QZ_Object* make_knob() { return new QZ_Wid_Knob; }
const QZ_Option butt_options[] = {
    {"res", &QZ_Wid_Butt::m_res}, {"com", &QZ_Wid_Butt::m_com}, {"var", &QZ_Wid_Butt::m_var},
    {"val", &QZ_Wid_Butt::m_val}, {"dat", &QZ_Wid_Butt::m_dat},
};
const QZ_Option knob_options[] = {
    {"res", &QZ_Wid_Knob::m_res}, {"com", &QZ_Wid_Knob::m_com}, {"val", &QZ_Wid_Knob::m_val},
    {"dat", &QZ_Wid_Knob::m_dat}, {"mn", &QZ_Wid_Knob::m_mn},   {"mx", &QZ_Wid_Knob::m_mx},
    {"var", &QZ_Wid_Knob::m_var},
};
}  // namespace

const QZ_Class QZ_Wid_Butt_class = {"QZ_Wid_Butt", &make_butt, butt_options, std::size(butt_options),
                                    &QZ_Wid_class};
const QZ_Class QZ_Wid_Knob_class = {"QZ_Wid_Knob", &make_knob, knob_options, std::size(knob_options),
                                    &QZ_Wid_class};
