// The sound pipe: an ordered list of effects over a list of buffers, run one
// block per call of process().
#pragma once

#include <cstdint>

#include "core/object.h"

class QZ_Effect;
class QZ_Buffer;

class QZ_Soundpipe : public QZ_Object {
public:
    QZ_Soundpipe();
    ~QZ_Soundpipe() override;

    // The pipe under construction on this thread, or null. Buffers and effects
    // constructed while it is set join it. Kept per thread (like the constructor
    // word of the command language) so plug-in instances built on different
    // host threads do not collect each other's objects.
    static QZ_Soundpipe* current();
    static void set_current(QZ_Soundpipe* p);

    // One pass over every effect. Allocates nothing, locks nothing, never throws.
    int process() noexcept;

    std::int32_t block_length() const { return block_length_; }
    // Stores the block length. Values outside 0..QZ_MAX_BLOCK are refused (false).
    // Growing beyond the storage of buffers that follow this pipe's block length
    // re-sizes them (the only allocation of this path; the plug-in never grows).
    bool set_block_length(std::int32_t n);

    QZ_Effect* insertion_point() const;

    static QZ_value m_bl(QZ_Object* obj, QZ_value v);
    static QZ_value m_be(QZ_Object* obj, QZ_value v);
    static QZ_value m_b(QZ_Object* obj, QZ_value v);
    static QZ_value m_e(QZ_Object* obj, QZ_value v);

    QZ_Chain effects;  // links of QZ_Effect, in processing order
    QZ_Chain buffers;  // pipe links of QZ_Buffer

private:
    std::int32_t block_length_ = 0;
    QZ_handle before_handle_ = 0;
    QZ_Effect* before_ = nullptr;
};
