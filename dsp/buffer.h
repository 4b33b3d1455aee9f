// Sample buffers: a main block that effects read and write, and a side block of
// the same size that carries the one-block crossfade when an effect is switched.
#pragma once

#include <cstdint>
#include <string>

#include "core/object.h"

class QZ_Soundpipe;
class QZ_Effect;

// The crossfade counters are 16 bits wide in the original design; a block never
// holds more than this many samples.
constexpr std::int32_t QZ_MAX_BLOCK = 32768;

// Default limit: 2^30 - 1, leaving one bit of headroom for effects' differences.
constexpr std::int32_t QZ_DEFAULT_LIMIT = 0x3FFFFFFF;

class QZ_Buffer : public QZ_Object {
public:
    QZ_Buffer();
    ~QZ_Buffer() override;

    // Number of samples effects may touch in this pass: the stored length, or the
    // length source's block length for -1, never more than the allocated count.
    std::int32_t frames() const;

    // The `-l` result: the stored length, or the length source's block length.
    std::int32_t reported_length() const;

    // Re-allocates for length v (0 no storage, -1 the pipe under construction's
    // block length). Lengths outside -1..QZ_MAX_BLOCK are refused: returns false
    // and keeps everything as it was.
    bool set_length(std::int32_t v);

    // Grows the storage to n samples for a length-source pipe whose block length
    // grew; contents are cleared. Used only by QZ_Soundpipe.
    void grow_for_source(std::int32_t n);

    std::int32_t* main_block() const { return main_; }
    std::int32_t* side_block() const { return side_; }
    std::int32_t count() const { return count_; }
    std::int32_t length() const { return length_; }
    QZ_Soundpipe* length_source() const;
    const char* name() const { return name_.c_str(); }

    static QZ_value m_l(QZ_Object* obj, QZ_value v);
    static QZ_value m_t(QZ_Object* obj, QZ_value v);
    static QZ_value m_limit(QZ_Object* obj, QZ_value v);
    static QZ_value m_delete(QZ_Object* obj, QZ_value v);

    std::int32_t position = 0;  // index into the block, kept below count on re-allocation
    std::int32_t limit = QZ_DEFAULT_LIMIT;
    // -1, 0 or 1: which crossfade the side block holds in this pass (see QZ_Effect::samples).
    std::int32_t crossfade = 0;

    QZ_Chain_Item pipe_link;   // in the pipe's buffer list
    QZ_Chain_Item other_link;  // for lists kept by other parts of the system

private:
    void release();

    std::int32_t length_ = 0;
    std::int32_t count_ = 0;
    std::string name_;
    std::int32_t* main_ = nullptr;
    std::int32_t* side_ = nullptr;
    // The pipe whose block length a length of -1 follows. Kept as handle and
    // pointer: a deleted pipe then resolves to nothing instead of freed memory.
    QZ_handle source_handle_ = 0;
    QZ_Soundpipe* source_ = nullptr;
};

// A buffer reference held by an effect option (`-i`, `-o`, ...). The option
// stores a handle; get() checks once per pass that the handle still names the
// same buffer, so deleting a buffer makes the effect do nothing instead of
// touching freed memory.
struct QZ_Buffer_ref {
    QZ_handle handle = 0;
    QZ_Buffer* ptr = nullptr;

    QZ_Buffer* get() const { return (ptr && QZ_object_from_handle(handle) == ptr) ? ptr : nullptr; }
    // Handler body of an object option: a present value naming a live buffer (or
    // 0 for none) is stored, anything else refused; returns the current buffer.
    QZ_value option(QZ_value v);
};
