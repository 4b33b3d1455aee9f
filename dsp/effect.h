// QZ_Effect: the base of every processing element of a sound pipe.
//
// How a derived effect plugs in
// -----------------------------
// * Class: derive from QZ_Effect (or a registered child of it). The base
//   constructor links the effect into the pipe under construction; a derived
//   constructor only initialises its own fields. Provide a free `make` function
//   returning `new T` and a descriptor `extern const QZ_Class T_class` (declared
//   in dsp/classes.h) whose parent is `&QZ_Effect_class`.
// * Options: static handlers `QZ_value m_<name>(QZ_Object*, QZ_value)`; apply the
//   value only when `v.present()`, always return the current value. Buffer
//   options hold a QZ_Buffer_ref (dsp/buffer.h): `return e->in.option(v);`.
// * Virtual operations, in slot order: destructor, process, prepare,
//   clock_changed, reset.
//   - process(): one pass. Take the buffers with `in.get()` / `out.get()` (null
//     when unset or deleted: then return), n = min(in->frames(), out->frames()),
//     the blocks with `samples(this, buffer)` once per buffer, then run the inner
//     loop of the current mode (below). process is noexcept: allocate nothing,
//     lock nothing, guard every division by the values the options accept.
//     Don't keep block pointers from one pass to the next: a pipe whose block
//     length grows re-sizes the buffers that follow it.
//   - prepare(): called before the first process; call QZ_Effect::prepare() (it
//     sets the prepared flag), or leave it alone if nothing needs preparing.
//   - clock_changed(): after `-clock` stored a new clock; recompute coefficients
//     here and in the option handlers that feed them, never per block.
//   - reset(): clear the signal state; the pipe calls it when the effect is
//     switched off. The base constructor calls only the base's own reset.
// * Threads: `-on`, `-clock` and number options may arrive from another thread
//   while a pass runs. Values process reads that such handlers write should be
//   std::atomic and read once per block with relaxed order.
// * Mode loops: one inner loop per output mode, chosen once per block, never a
//   branch per sample on the mode:
//
//       QZ_with_mode(mode(), [&](auto m) {
//           for (std::int32_t i = 0; i < n; ++i) QZ_put<m>(o[i], compute(a[i]));
//       });
//
//   QZ_with_mode switches once and calls the lambda with a compile-time
//   std::integral_constant, so the loop body is instantiated six times.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <type_traits>

#include "core/object.h"
#include "dsp/buffer.h"

class QZ_Soundpipe;

// Output mode indices, in option word order.
enum : int {
    QZ_MODE_SET = 0,  // o = r
    QZ_MODE_ADD = 1,  // o = o + r
    QZ_MODE_SUB = 2,  // o = o - r
    QZ_MODE_STN = 3,  // o = -r
    QZ_MODE_ADN = 4,  // o = -(o + r)
    QZ_MODE_SBN = 5,  // o = r - o
    QZ_MODE_COUNT = 6,
};

// Zeroed storage for an effect's lines and rings, from calloc: pages the
// system hands out fresh stay untouched until the effect reaches them, so
// making an effect does not write its whole line. Throws std::bad_alloc.
struct QZ_Free {
    void operator()(std::int32_t* p) const noexcept { std::free(p); }
};
using QZ_Samples = std::unique_ptr<std::int32_t[], QZ_Free>;
QZ_Samples QZ_zeroed_samples(std::size_t count);

extern const char* const QZ_mode_words[QZ_MODE_COUNT];
// Index of a mode word, or -1.
int QZ_mode_index(const char* word);

// Combines r into o by the mode M; sums and negations wrap around in 32 bits.
template <int M>
inline void QZ_put(std::int32_t& o, std::int32_t r) {
    const std::uint32_t uo = static_cast<std::uint32_t>(o);
    const std::uint32_t ur = static_cast<std::uint32_t>(r);
    std::uint32_t out;
    if constexpr (M == QZ_MODE_SET)
        out = ur;
    else if constexpr (M == QZ_MODE_ADD)
        out = uo + ur;
    else if constexpr (M == QZ_MODE_SUB)
        out = uo - ur;
    else if constexpr (M == QZ_MODE_STN)
        out = 0u - ur;
    else if constexpr (M == QZ_MODE_ADN)
        out = 0u - (uo + ur);
    else if constexpr (M == QZ_MODE_SBN)
        out = ur - uo;
    else
        static_assert(M >= 0 && M < QZ_MODE_COUNT, "unknown output mode");
    o = static_cast<std::int32_t>(out);
}

// Runs f(std::integral_constant<int, M>{}) for the mode M; one switch per call.
template <class F>
inline void QZ_with_mode(int mode, F&& f) {
    switch (mode) {
        case QZ_MODE_ADD: f(std::integral_constant<int, QZ_MODE_ADD>{}); break;
        case QZ_MODE_SUB: f(std::integral_constant<int, QZ_MODE_SUB>{}); break;
        case QZ_MODE_STN: f(std::integral_constant<int, QZ_MODE_STN>{}); break;
        case QZ_MODE_ADN: f(std::integral_constant<int, QZ_MODE_ADN>{}); break;
        case QZ_MODE_SBN: f(std::integral_constant<int, QZ_MODE_SBN>{}); break;
        default: f(std::integral_constant<int, QZ_MODE_SET>{}); break;
    }
}

class QZ_Effect : public QZ_Object {
public:
    QZ_Effect();
    ~QZ_Effect() override;

    // Slot order after the destructor: process, prepare, clock changed, reset.
    virtual void process() noexcept {}
    virtual void prepare() noexcept { prepared_ = true; }
    virtual void clock_changed() noexcept {}
    virtual void reset() noexcept {}

    // Block access: performs the buffer's pending crossfade and returns the block
    // (main, or side while this effect is switching) this effect uses in this
    // pass; null for a null buffer.
    static std::int32_t* samples(QZ_Effect* effect, QZ_Buffer* buffer) noexcept;

    int mode() const { return mode_.load(std::memory_order_relaxed); }
    std::int32_t clock() const { return clock_.load(std::memory_order_relaxed); }
    bool requested_on() const { return on_requested_.load(std::memory_order_relaxed); }
    bool current_on() const { return on_current_; }
    bool prepared() const { return prepared_; }
    bool debug() const { return debug_.load(std::memory_order_relaxed); }
    // The pipe the effect joined at construction, or null (also once it is deleted).
    QZ_Soundpipe* pipe() const { return pipe_; }

    static QZ_value m_before(QZ_Object* obj, QZ_value v);
    static QZ_value m_mode(QZ_Object* obj, QZ_value v);
    static QZ_value m_clock(QZ_Object* obj, QZ_value v);
    static QZ_value m_on(QZ_Object* obj, QZ_value v);
    static QZ_value m_debug(QZ_Object* obj, QZ_value v);
    static QZ_value m_delete(QZ_Object* obj, QZ_value v);

    QZ_Chain_Item link;  // in the pipe's effect list

private:
    friend class QZ_Soundpipe;

    bool prepared_ = false;
    std::atomic<int> mode_{QZ_MODE_SET};
    std::atomic<std::int32_t> clock_{0};
    bool on_current_ = true;
    std::atomic<bool> on_requested_{true};
    // The requested state as read once at the start of this effect's turn in a
    // pass, so every buffer it touches sees the same switch direction.
    bool on_pass_ = true;
    std::atomic<bool> debug_{false};
    QZ_Soundpipe* pipe_ = nullptr;
};

// Clears its output buffer.
class QZ_Effect_Zero : public QZ_Effect {
public:
    void process() noexcept override;
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    QZ_Buffer_ref out;
};

// Copies or combines one buffer into another, with steps.
class QZ_Effect_Copy : public QZ_Effect {
public:
    void process() noexcept override;
    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_is(QZ_Object* obj, QZ_value v);
    static QZ_value m_os(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in;
    QZ_Buffer_ref out;
    // Steps must be positive: the count divides by the input step.
    std::atomic<std::int32_t> in_step{1};
    std::atomic<std::int32_t> out_step{1};
};
