#include "dsp/buffer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "dsp/classes.h"
#include "dsp/soundpipe.h"

QZ_Buffer::QZ_Buffer() : pipe_link(this), other_link(this) {
    set_length(-1);
    if (QZ_Soundpipe* p = QZ_Soundpipe::current()) p->buffers.insert(&pipe_link);
}

QZ_Buffer::~QZ_Buffer() {
    // The list pointer is non-null only while the owning pipe is alive: a pipe
    // being destroyed unlinks its buffers first.
    if (pipe_link.list) pipe_link.list->remove(&pipe_link);
    if (other_link.list) other_link.list->remove(&other_link);
    release();
}

void QZ_Buffer::release() {
    delete[] main_;
    main_ = nullptr;
    side_ = nullptr;
    count_ = 0;
}

QZ_Soundpipe* QZ_Buffer::length_source() const {
    return (source_ && QZ_object_from_handle(source_handle_) == source_) ? source_ : nullptr;
}

std::int32_t QZ_Buffer::reported_length() const {
    if (length_ != -1) return length_;
    QZ_Soundpipe* p = length_source();
    return p ? p->block_length() : 0;
}

std::int32_t QZ_Buffer::frames() const {
    // A block length beyond the storage (a pipe that grew without re-sizing this
    // buffer) is cut to what was allocated.
    std::int32_t n = reported_length();
    if (n < 0) return 0;
    return std::min(n, count_);
}

bool QZ_Buffer::set_length(std::int32_t v) {
    if (v < -1 || v > QZ_MAX_BLOCK) return false;
    release();
    length_ = v;
    source_ = nullptr;
    source_handle_ = 0;
    if (v == 0) return true;
    std::int32_t n = v;
    if (v == -1) {
        source_ = QZ_Soundpipe::current();
        source_handle_ = QZ_handle_of(source_);
        n = source_ ? source_->block_length() : 0;
    }
    if (n == 0) {
        // No storage. A buffer that follows a pipe keeps following it, so the
        // pipe can size it when its block length is set.
        if (!source_) length_ = 0;
        return true;
    }
    grow_for_source(n);
    return true;
}

void QZ_Buffer::grow_for_source(std::int32_t n) {
    if (n <= 0 || n > QZ_MAX_BLOCK) return;
    std::int32_t* block = new std::int32_t[2 * static_cast<std::size_t>(n)];
    release();
    main_ = block;
    side_ = block + n;
    count_ = n;
    position %= n;
    if (position < 0) position += n;
    std::fill(main_, main_ + 2 * static_cast<std::size_t>(n), 0);
}

QZ_value QZ_Buffer_ref::option(QZ_value v) {
    if (v.present()) {
        QZ_handle h = v.as_word();
        if (h == 0) {
            handle = 0;
            ptr = nullptr;
        } else if (QZ_Buffer* b = QZ_object_as<QZ_Buffer>(h)) {
            handle = h;
            ptr = b;
        }
        // Any other word names no live buffer: refused, the old one kept.
    }
    return QZ_value::object(get() ? handle : 0);
}

// ---------------------------------------------------------------- options

QZ_value QZ_Buffer::m_l(QZ_Object* obj, QZ_value v) {
    auto* b = static_cast<QZ_Buffer*>(obj);
    if (v.present()) b->set_length(v.as_int());
    return QZ_value::integer(b->reported_length());
}

QZ_value QZ_Buffer::m_t(QZ_Object* obj, QZ_value v) {
    auto* b = static_cast<QZ_Buffer*>(obj);
    if (v.present()) {
        // Command text lives only during the call, so the name is copied. A word
        // that is not text cannot be read as characters; its number names it.
        if (v.type == QZ_T_STRING) {
            b->name_ = v.word.s ? v.word.s : "";
        } else {
            char text[16];
            std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(v.as_word()));
            b->name_ = text;
        }
    }
    return QZ_value::text(b->name_.c_str());
}

QZ_value QZ_Buffer::m_limit(QZ_Object* obj, QZ_value v) {
    auto* b = static_cast<QZ_Buffer*>(obj);
    if (v.present()) b->limit = v.as_int();
    return QZ_value::integer(b->limit);
}

QZ_value QZ_Buffer::m_delete(QZ_Object* obj, QZ_value v) {
    if (!v.present()) delete static_cast<QZ_Buffer*>(obj);
    return QZ_EMPTY;
}

namespace {
QZ_Object* make_buffer() { return new QZ_Buffer; }

const QZ_Option buffer_options[] = {
    {"l", &QZ_Buffer::m_l},
    {"t", &QZ_Buffer::m_t},
    {"limit", &QZ_Buffer::m_limit},
    {"delete", &QZ_Buffer::m_delete},
};
}  // namespace

const QZ_Class QZ_Buffer_class = {"QZ_Buffer", &make_buffer, buffer_options, std::size(buffer_options),
                                  &QZ_Object_class};
