#include "dsp/soundpipe.h"

#include <cstring>
#include <iterator>

#include "dsp/buffer.h"
#include "dsp/classes.h"
#include "dsp/effect.h"

namespace {
// The pipe under construction, as handle and pointer so that a pipe deleted on
// another thread resolves to nothing here.
thread_local QZ_handle current_handle = 0;
thread_local QZ_Soundpipe* current_pipe = nullptr;
}  // namespace

QZ_Soundpipe* QZ_Soundpipe::current() {
    return (current_pipe && QZ_object_from_handle(current_handle) == current_pipe) ? current_pipe : nullptr;
}

void QZ_Soundpipe::set_current(QZ_Soundpipe* p) {
    current_pipe = p;
    current_handle = QZ_handle_of(p);
}

QZ_Soundpipe::QZ_Soundpipe() { set_current(this); }

QZ_Soundpipe::~QZ_Soundpipe() {
    if (current_pipe == this) set_current(nullptr);
    // Effects and buffers outlive the pipe: detach them so their own deletion
    // later touches nothing of this one.
    while (effects.count > 0) {
        QZ_Chain_Item* it = effects.first();
        static_cast<QZ_Effect*>(it->data)->pipe_ = nullptr;
        effects.remove(it);
    }
    while (buffers.count > 0) buffers.remove(buffers.first());
}

bool QZ_Soundpipe::set_block_length(std::int32_t n) {
    if (n < 0 || n > QZ_MAX_BLOCK) return false;
    block_length_ = n;
    for (QZ_Chain_Item* it = buffers.first(); it != buffers.end(); it = it->next) {
        auto* b = static_cast<QZ_Buffer*>(it->data);
        if (b->length() == -1 && b->length_source() == this && b->count() < n) b->grow_for_source(n);
    }
    return true;
}

QZ_Effect* QZ_Soundpipe::insertion_point() const {
    return (before_ && QZ_object_from_handle(before_handle_) == before_) ? before_ : nullptr;
}

int QZ_Soundpipe::process() noexcept {
    for (QZ_Chain_Item* it = buffers.first(); it != buffers.end(); it = it->next)
        static_cast<QZ_Buffer*>(it->data)->crossfade = 0;

    for (QZ_Chain_Item* it = effects.first(); it != effects.end(); it = it->next) {
        auto* e = static_cast<QZ_Effect*>(it->data);
        const bool requested = e->on_requested_.load(std::memory_order_relaxed);
        const bool current = e->on_current_;
        e->on_pass_ = requested;
        if (requested || current) {
            if (!e->prepared_) e->prepare();
            if (e->prepared_) e->process();
        }
        if (requested != current) {
            if (!requested) e->reset();
            e->on_current_ = requested;
        }
        e->on_pass_ = e->on_current_;
    }
    return 0;
}

// ---------------------------------------------------------------- options

QZ_value QZ_Soundpipe::m_bl(QZ_Object* obj, QZ_value v) {
    auto* p = static_cast<QZ_Soundpipe*>(obj);
    if (v.present()) p->set_block_length(v.as_int());
    return QZ_value::integer(p->block_length_);
}

QZ_value QZ_Soundpipe::m_be(QZ_Object* obj, QZ_value v) {
    auto* p = static_cast<QZ_Soundpipe*>(obj);
    if (v.present()) {
        QZ_handle h = v.as_word();
        if (h == 0) {
            p->before_ = nullptr;
            p->before_handle_ = 0;
        } else if (QZ_Effect* e = QZ_object_as<QZ_Effect>(h); e && e->link.list == &p->effects) {
            p->before_ = e;
            p->before_handle_ = h;
        }
        // An effect of another pipe, or no effect at all, is refused.
    }
    return QZ_value::object(QZ_handle_of(p->insertion_point()));
}

QZ_value QZ_Soundpipe::m_b(QZ_Object* obj, QZ_value) {
    if (current()) return QZ_value::integer(0);
    set_current(static_cast<QZ_Soundpipe*>(obj));
    return QZ_value::integer(1);
}

QZ_value QZ_Soundpipe::m_e(QZ_Object* obj, QZ_value) {
    if (current() != static_cast<QZ_Soundpipe*>(obj)) return QZ_value::integer(0);
    set_current(nullptr);
    return QZ_value::integer(1);
}

namespace {
QZ_Object* make_soundpipe() {
    if (QZ_specialobject && std::strcmp(QZ_specialobject, "current") == 0) return QZ_Soundpipe::current();
    return new QZ_Soundpipe;
}

const QZ_Option soundpipe_options[] = {
    {"bl", &QZ_Soundpipe::m_bl},
    {"be", &QZ_Soundpipe::m_be},
    {"b", &QZ_Soundpipe::m_b},
    {"e", &QZ_Soundpipe::m_e},
};
}  // namespace

const QZ_Class QZ_Soundpipe_class = {"QZ_Soundpipe", &make_soundpipe, soundpipe_options,
                                     std::size(soundpipe_options), &QZ_Object_class};
