#include "dsp/effect.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include "dsp/classes.h"
#include "dsp/soundpipe.h"

const char* const QZ_mode_words[QZ_MODE_COUNT] = {"set", "add", "sub", "stn", "adn", "sbn"};

int QZ_mode_index(const char* word) {
    if (!word) return -1;
    for (int m = QZ_MODE_COUNT - 1; m >= 0; --m)
        if (std::strcmp(word, QZ_mode_words[m]) == 0) return m;
    return -1;
}

QZ_Samples QZ_zeroed_samples(std::size_t count) {
    QZ_Samples p(static_cast<std::int32_t*>(std::calloc(count, sizeof(std::int32_t))));
    if (!p) throw std::bad_alloc();
    return p;
}

QZ_Effect::QZ_Effect() : link(this) {
    QZ_Effect::reset();
    if (QZ_Soundpipe* p = QZ_Soundpipe::current()) {
        pipe_ = p;
        QZ_Effect* before = p->insertion_point();
        p->effects.insert(&link, before ? &before->link : nullptr);
    }
}

QZ_Effect::~QZ_Effect() {
    if (pipe_) pipe_->effects.remove(&link);
}

std::int32_t* QZ_Effect::samples(QZ_Effect* effect, QZ_Buffer* buffer) noexcept {
    if (!buffer) return nullptr;
    const int s = (effect->on_pass_ == effect->on_current_) ? 0 : (effect->on_pass_ ? 1 : -1);
    std::int32_t* m = buffer->main_block();
    std::int32_t* d = buffer->side_block();
    if (s != buffer->crossfade) {
        const std::int64_t n = buffer->frames();
        if (buffer->crossfade == -1) {
            // An effect switched off wrote d: fade from d (its last output) to m.
            for (std::int64_t i = 0; i < n; ++i)
                m[i] = static_cast<std::int32_t>((m[i] * i + d[i] * (n - i)) / n);
        } else if (buffer->crossfade == 1) {
            // An effect switched on wrote d: fade from m (dry) to d.
            for (std::int64_t i = 0; i < n; ++i)
                m[i] = static_cast<std::int32_t>((d[i] * i + m[i] * (n - i)) / n);
        }
        // The switching effect starts from the current signal.
        if (s != 0 && n > 0) std::copy(m, m + n, d);
        buffer->crossfade = s;
    }
    return s != 0 ? d : m;
}

// ---------------------------------------------------------------- options

QZ_value QZ_Effect::m_before(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect*>(obj);
    if (v.present()) {
        // Reordering happens only within the pipe under construction, and only
        // between effects of that pipe; anything else is refused.
        QZ_Soundpipe* p = QZ_Soundpipe::current();
        QZ_handle h = v.as_word();
        QZ_Effect* target = h ? QZ_object_as<QZ_Effect>(h) : nullptr;
        if (p && e->link.list == &p->effects &&
            (h == 0 || (target && target != e && target->link.list == &p->effects))) {
            p->effects.remove(&e->link);
            p->effects.insert(&e->link, target ? &target->link : nullptr);
        }
    }
    QZ_Chain_Item* next = e->link.list ? e->link.next : nullptr;
    if (!next || next == e->link.list->end()) return QZ_value::object(0);
    return QZ_value::object(QZ_handle_of(static_cast<QZ_Effect*>(next->data)));
}

QZ_value QZ_Effect::m_mode(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect*>(obj);
    if (v.type == QZ_T_STRING) {
        int m = QZ_mode_index(v.word.s);
        if (m >= 0) e->mode_.store(m, std::memory_order_relaxed);
    }
    return QZ_value::text(QZ_mode_words[e->mode()]);
}

QZ_value QZ_Effect::m_clock(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect*>(obj);
    if (v.present()) {
        e->clock_.store(v.as_int(), std::memory_order_relaxed);
        e->clock_changed();
    }
    return QZ_value::integer(e->clock());
}

QZ_value QZ_Effect::m_on(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect*>(obj);
    if (v.present()) e->on_requested_.store(v.as_int() != 0, std::memory_order_relaxed);
    return QZ_value::integer(e->requested_on() ? 1 : 0);
}

QZ_value QZ_Effect::m_debug(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect*>(obj);
    if (v.present()) e->debug_.store(v.as_int() != 0, std::memory_order_relaxed);
    return QZ_value::integer(e->debug() ? 1 : 0);
}

QZ_value QZ_Effect::m_delete(QZ_Object* obj, QZ_value v) {
    if (!v.present()) delete static_cast<QZ_Effect*>(obj);
    return QZ_EMPTY;
}

namespace {
const QZ_Option effect_options[] = {
    {"before", &QZ_Effect::m_before}, {"mode", &QZ_Effect::m_mode},   {"clock", &QZ_Effect::m_clock},
    {"on", &QZ_Effect::m_on},         {"debug", &QZ_Effect::m_debug}, {"delete", &QZ_Effect::m_delete},
};
}  // namespace

const QZ_Class QZ_Effect_class = {"QZ_Effect", nullptr, effect_options, std::size(effect_options),
                                  &QZ_Object_class};

// ---------------------------------------------------------------- Zero

void QZ_Effect_Zero::process() noexcept {
    QZ_Buffer* ob = out.get();
    if (!ob) return;
    const std::int32_t n = ob->frames();
    std::int32_t* o = samples(this, ob);
    if (o && n > 0) std::fill(o, o + n, 0);
}

QZ_value QZ_Effect_Zero::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Zero*>(obj)->out.option(v);
}

namespace {
QZ_Object* make_zero() { return new QZ_Effect_Zero; }
const QZ_Option zero_options[] = {{"o", &QZ_Effect_Zero::m_o}};
}  // namespace

const QZ_Class QZ_Effect_Zero_class = {"QZ_Effect_Zero", &make_zero, zero_options, std::size(zero_options),
                                       &QZ_Effect_class};

// ---------------------------------------------------------------- Copy

void QZ_Effect_Copy::process() noexcept {
    QZ_Buffer* ib = in.get();
    QZ_Buffer* ob = out.get();
    if (!ib || !ob) return;
    const std::int32_t* a = samples(this, ib);
    std::int32_t* b = samples(this, ob);
    const int m = mode();
    if (!a || !b) return;
    if (a == b && m == QZ_MODE_SET) return;  // a block onto itself

    const std::int32_t is = in_step.load(std::memory_order_relaxed);
    const std::int32_t os = out_step.load(std::memory_order_relaxed);
    // The handlers accept only positive steps; the count is a division by is.
    // The output step also bounds the count, so a short output is never overrun.
    const std::int64_t reach = (std::int64_t{ob->frames()} + os - 1) / os;
    const std::int32_t count = static_cast<std::int32_t>(std::min<std::int64_t>(ib->frames() / is, reach));
    if (count <= 0) return;

    if (m == QZ_MODE_SET && is == 1 && os == 1) {
        std::memmove(b, a, static_cast<std::size_t>(count) * sizeof *b);
        return;
    }
    QZ_with_mode(m, [&](auto mc) {
        for (std::int32_t j = 0; j < count; ++j) QZ_put<mc>(b[j * os], a[j * is]);
    });
}

QZ_value QZ_Effect_Copy::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Copy*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Copy::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Copy*>(obj)->out.option(v);
}

namespace {
QZ_value step_option(std::atomic<std::int32_t>& step, QZ_value v) {
    // A step of 0 or below is refused, keeping the old step.
    if (v.present() && v.as_int() > 0) step.store(v.as_int(), std::memory_order_relaxed);
    return QZ_value::integer(step.load(std::memory_order_relaxed));
}
}  // namespace

QZ_value QZ_Effect_Copy::m_is(QZ_Object* obj, QZ_value v) {
    return step_option(static_cast<QZ_Effect_Copy*>(obj)->in_step, v);
}
QZ_value QZ_Effect_Copy::m_os(QZ_Object* obj, QZ_value v) {
    return step_option(static_cast<QZ_Effect_Copy*>(obj)->out_step, v);
}

namespace {
QZ_Object* make_copy() { return new QZ_Effect_Copy; }
const QZ_Option copy_options[] = {
    {"i", &QZ_Effect_Copy::m_i},
    {"o", &QZ_Effect_Copy::m_o},
    {"is", &QZ_Effect_Copy::m_is},
    {"os", &QZ_Effect_Copy::m_os},
};
}  // namespace

const QZ_Class QZ_Effect_Copy_class = {"QZ_Effect_Copy", &make_copy, copy_options, std::size(copy_options),
                                       &QZ_Effect_class};
