#include "dsp/freqmul.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "dsp/classes.h"

namespace {

QZ_value factor_option(std::atomic<std::int32_t>& k, QZ_value v) {
    if (v.present()) {
        const std::int32_t x = v.as_int();
        if (x >= 1 && x <= QZ_FREQMUL_MAX_K) k.store(x, std::memory_order_relaxed);
    }
    return QZ_value::integer(k.load(std::memory_order_relaxed));
}

// First ring index of a block's output: the read index less the delay, as the
// 32-bit wrap (a delay saturated at either end of the integer range, from an
// extreme clock, must not overflow the subtraction).
std::int32_t first_read(std::int32_t read, std::int32_t delay) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(read) - static_cast<std::uint32_t>(delay));
}

QZ_value real_option(std::atomic<double>& field, QZ_value v) {
    if (v.present()) field.store(v.as_float(), std::memory_order_relaxed);
    return QZ_value::real(static_cast<float>(field.load(std::memory_order_relaxed)));
}

}  // namespace

// ---------------------------------------------------------------- Freqmul

std::int32_t QZ_Effect_Freqmul::delay(std::int32_t n) const {
    // Single precision, like the delay time itself.
    const float d =
        static_cast<float>(clock()) * g + static_cast<float>(n * k.load(std::memory_order_relaxed));
    return QZ_trunc_to_int(d);
}

void QZ_Effect_Freqmul::process() noexcept {
    QZ_Buffer* bi = in.get();
    QZ_Buffer* bo = out.get();
    if (!bi || !bo) return;
    const std::int32_t* x = bi->main_block();
    std::int32_t* o = bo->main_block();
    const std::int32_t n = std::min(bi->frames(), bo->frames());
    if (!x || !o || n <= 0) return;
    const std::int32_t kk = k.load(std::memory_order_relaxed);
    constexpr std::int32_t M = RING - 1;
    // Read the input block before the output is written: they may be one block.
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t s = x[i];
        w = (w + 1) & M;
        if (prev < 0 && s >= 0) {
            const std::int32_t h = w;
            for (std::int32_t r = 1; r < kk; ++r)
                for (std::int32_t u = last; u != h; u = (u + 1) & M) {
                    ring[w] = ring[u];
                    w = (w + 1) & M;
                }
            last = w;
        }
        ring[w] = s;
        prev = s;
    }
    std::int32_t j = first_read(read, delay(n)) & M;
    for (std::int32_t i = 0; i < n; ++i) {
        o[i] = ring[j];
        read = (read + kk) & M;
        j = (j + kk) & M;
    }
}

QZ_value QZ_Effect_Freqmul::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Freqmul*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Freqmul::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Freqmul*>(obj)->out.option(v);
}
QZ_value QZ_Effect_Freqmul::m_k(QZ_Object* obj, QZ_value v) {
    return factor_option(static_cast<QZ_Effect_Freqmul*>(obj)->k, v);
}

// -------------------------------------------------------------- Nefreqmul

void QZ_Effect_Nefreqmul::reset() noexcept {
    std::memset(ring.get(), 0, sizeof(std::int32_t) * RING);
    slope = 0.0;
}

void QZ_Effect_Nefreqmul::process() noexcept {
    QZ_Buffer* bi = in.get();
    QZ_Buffer* bo = out.get();
    if (!bi || !bo) return;
    const std::int32_t* x = bi->main_block();
    std::int32_t* o = bo->main_block();
    const std::int32_t n = std::min(bi->frames(), bo->frames());
    if (!x || !o || n <= 0) return;
    const std::int32_t kk = k.load(std::memory_order_relaxed);
    const double ratio_min = accept.load(std::memory_order_relaxed);
    const double st = stab.load(std::memory_order_relaxed);
    const float max_period = static_cast<float>(clock()) * g;
    constexpr std::int32_t M = RING - 1;
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t s = x[i];
        w = (w + 1) & M;
        bool accepted = prev < 0 && s >= 0;
        const double d = static_cast<double>(
            static_cast<std::int32_t>(static_cast<std::uint32_t>(s) - static_cast<std::uint32_t>(prev)));
        if (accepted && slope > 0.1) {
            const double ratio = d / slope;
            if (ratio > 1.0 || ratio < ratio_min) accepted = false;
            if (static_cast<float>((w - last) & M) > max_period) accepted = true;
        }
        if (accepted) {
            const std::int32_t h = w;
            const std::int64_t period = (h - last) & M;
            const std::int64_t sum = static_cast<std::int64_t>(s) + prev;
            for (std::int32_t jj = 0; jj <= kk - 2; ++jj) {
                std::int32_t u = last;
                std::int32_t vv = (h - 1) & M;
                for (std::int64_t ii = 0; ii < period; ++ii) {
                    const std::int64_t f = ring[u];
                    const std::int64_t t = sum - ring[vv];
                    std::int64_t value;
                    if (jj & 1)
                        value = f;
                    else if (jj == kk - 2)
                        value = (ii * f + (period - ii) * t) / period;
                    else
                        value = t - sum * ii / period;
                    ring[w] = static_cast<std::int32_t>(value);
                    w = (w + 1) & M;
                    u = (u + 1) & M;
                    vv = (vv - 1) & M;
                }
            }
            last = w;
            slope = (1.0 - st) * d + st * slope;
        }
        ring[w] = s;
        prev = s;
    }
    const float lag = static_cast<float>(clock()) * g * static_cast<float>(kk);
    std::int32_t j = first_read(read, QZ_trunc_to_int(lag)) & M;
    QZ_with_mode(mode(), [&](auto m) {
        for (std::int32_t i = 0; i < n; ++i) {
            QZ_put<decltype(m)::value>(o[i], ring[j]);
            read = (read + kk) & M;
            j = (j + kk) & M;
        }
    });
}

QZ_value QZ_Effect_Nefreqmul::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Nefreqmul*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Nefreqmul::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Nefreqmul*>(obj)->out.option(v);
}
QZ_value QZ_Effect_Nefreqmul::m_k(QZ_Object* obj, QZ_value v) {
    return factor_option(static_cast<QZ_Effect_Nefreqmul*>(obj)->k, v);
}
QZ_value QZ_Effect_Nefreqmul::m_rand(QZ_Object* obj, QZ_value v) {
    return real_option(static_cast<QZ_Effect_Nefreqmul*>(obj)->accept, v);
}
QZ_value QZ_Effect_Nefreqmul::m_stab(QZ_Object* obj, QZ_value v) {
    return real_option(static_cast<QZ_Effect_Nefreqmul*>(obj)->stab, v);
}

namespace {
QZ_Object* make_freqmul() { return new QZ_Effect_Freqmul; }
QZ_Object* make_nefreqmul() { return new QZ_Effect_Nefreqmul; }
const QZ_Option freqmul_options[] = {
    {"i", &QZ_Effect_Freqmul::m_i}, {"o", &QZ_Effect_Freqmul::m_o}, {"k", &QZ_Effect_Freqmul::m_k}};
const QZ_Option nefreqmul_options[] = {{"i", &QZ_Effect_Nefreqmul::m_i},
                                       {"o", &QZ_Effect_Nefreqmul::m_o},
                                       {"k", &QZ_Effect_Nefreqmul::m_k},
                                       {"rand", &QZ_Effect_Nefreqmul::m_rand},
                                       {"stab", &QZ_Effect_Nefreqmul::m_stab}};
}  // namespace

extern const QZ_Class QZ_Effect_Freqmul_class = {"QZ_Effect_Freqmul", &make_freqmul, freqmul_options,
                                                 std::size(freqmul_options), &QZ_Effect_class};
extern const QZ_Class QZ_Effect_Nefreqmul_class = {"QZ_Effect_Nefreqmul", &make_nefreqmul, nefreqmul_options,
                                                   std::size(nefreqmul_options), &QZ_Effect_class};
