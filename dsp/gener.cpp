#include "dsp/gener.h"

#include <cmath>
#include <iterator>

#include "dsp/classes.h"

namespace {

constexpr std::uint64_t LCG_MUL = 22695477u;
// Seeding with 1 advances the state once by the 32-bit rule.
constexpr std::uint64_t START_STATE = static_cast<std::uint32_t>(1u * 22695477u + 1u);

std::atomic<std::uint64_t> g_state{START_STATE};

inline std::uint64_t step(std::uint64_t s) { return s * LCG_MUL + 1u; }
inline std::int32_t bits_of(std::uint64_t s) { return static_cast<std::int32_t>((s >> 32) & 0x7FFFFFFFu); }
inline std::int32_t noise_sample(std::uint64_t s) { return (bits_of(s) % 32768 - 16384) * 65536; }

}  // namespace

std::int32_t QZ_noise_draw() {
    std::uint64_t s = g_state.load(std::memory_order_relaxed);
    while (!g_state.compare_exchange_weak(s, step(s), std::memory_order_relaxed)) {
    }
    return bits_of(step(s));
}

void QZ_noise_reseed() { g_state.store(START_STATE, std::memory_order_relaxed); }

void QZ_noise_fill(std::int32_t* out, std::int32_t n) {
    if (!out || n <= 0) return;
    // Advance a private copy over the whole block and publish it at once; if
    // another thread drew meanwhile, draw the block again from its state.
    std::uint64_t start = g_state.load(std::memory_order_relaxed);
    for (;;) {
        std::uint64_t s = start;
        for (std::int32_t i = n - 1; i >= 0; --i) {
            s = step(s);
            out[i] = noise_sample(s);
        }
        if (g_state.compare_exchange_weak(start, s, std::memory_order_relaxed)) return;
    }
}

void QZ_Gener_White::process() noexcept {
    QZ_Buffer* bo = out.get();
    if (!bo) return;
    const std::int32_t n = bo->frames();
    std::int32_t* o = samples(this, bo);
    if (o) QZ_noise_fill(o, n);
}

QZ_value QZ_Gener_White::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Gener_White*>(obj)->out.option(v);
}

// With clock 0 no time passes: the envelope holds the level of t = 0.
void QZ_Gener_Exp::process() noexcept {
    QZ_Buffer* bo = out.get();
    if (!bo) return;
    const std::int32_t n = bo->frames();
    std::int32_t* o = samples(this, bo);
    if (!o) return;
    const std::int32_t c = clock();
    const double b = beg.load(std::memory_order_relaxed);
    const double tc = time.load(std::memory_order_relaxed);
    for (std::int32_t i = 0; i < n; ++i) {
        const double t = c != 0 ? static_cast<double>(counter) / c : 0.0;
        const double v = t > b ? std::exp(-(t - b) / tc) : 1.0;
        o[i] = QZ_trunc_to_int(v * 33554432.0);
        if (counter < INT32_MAX) ++counter;  // stops at the end of the range instead of wrapping
    }
}

namespace {
QZ_value float_option(std::atomic<float>& field, QZ_value v) {
    if (v.present()) field.store(v.as_float(), std::memory_order_relaxed);
    return QZ_value::real(field.load(std::memory_order_relaxed));
}
}  // namespace

QZ_value QZ_Gener_Exp::m_beg(QZ_Object* obj, QZ_value v) {
    return float_option(static_cast<QZ_Gener_Exp*>(obj)->beg, v);
}
QZ_value QZ_Gener_Exp::m_time(QZ_Object* obj, QZ_value v) {
    return float_option(static_cast<QZ_Gener_Exp*>(obj)->time, v);
}
QZ_value QZ_Gener_Exp::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Gener_Exp*>(obj)->out.option(v);
}

namespace {
QZ_Object* make_white() { return new QZ_Gener_White; }
QZ_Object* make_exp() { return new QZ_Gener_Exp; }
const QZ_Option white_options[] = {{"o", &QZ_Gener_White::m_o}};
const QZ_Option exp_options[] = {
    {"beg", &QZ_Gener_Exp::m_beg}, {"time", &QZ_Gener_Exp::m_time}, {"o", &QZ_Gener_Exp::m_o}};
}  // namespace

extern const QZ_Class QZ_Gener_class = {"QZ_Gener", nullptr, nullptr, 0, &QZ_Effect_class};
extern const QZ_Class QZ_Gener_White_class = {"QZ_Gener_White", &make_white, white_options,
                                              std::size(white_options), &QZ_Gener_class};
extern const QZ_Class QZ_Gener_Exp_class = {"QZ_Gener_Exp", &make_exp, exp_options, std::size(exp_options),
                                            &QZ_Gener_class};
