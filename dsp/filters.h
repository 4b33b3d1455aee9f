// Filter effects: first-order low-pass and its high-pass complement, the
// second-order band-pass, and the level-dependent glide.
#pragma once

#include <atomic>
#include <cstdint>

#include "dsp/effect.h"

// Lopass/Hipass coefficient k = 2^32 a, a = 2 pi f / (2 pi f + clock), computed
// in extended precision and truncated. Returns `old` when f or clock is not
// positive (a negative one would give no meaningful smoothing factor).
std::uint32_t QZ_lopass_coefficient(std::int32_t f, std::int32_t clock, std::uint32_t old);

// Shared by the low-pass and the high-pass: same options, coefficient and state.
class QZ_Effect_Onepole : public QZ_Effect {
public:
    void clock_changed() noexcept override { recompute(); }
    void reset() noexcept override { y = 0; }

    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_f(QZ_Object* obj, QZ_value v);

    std::uint32_t coefficient() const { return k.load(std::memory_order_relaxed); }
    std::int32_t frequency() const { return f.load(std::memory_order_relaxed); }

    QZ_Buffer_ref in;
    QZ_Buffer_ref out;
    std::atomic<std::int32_t> f{0};
    std::atomic<std::uint32_t> k{0};
    std::int32_t y = 0;  // the low-pass output of the previous sample

protected:
    void recompute() noexcept;
};

class QZ_Effect_Lopass : public QZ_Effect_Onepole {
public:
    void process() noexcept override;
};

class QZ_Effect_Hipass : public QZ_Effect_Onepole {
public:
    void process() noexcept override;
};

// Keeps a value as computed: an empty asm the optimiser cannot see through.
#if defined(__GNUC__) || defined(__clang__)
#define QZ_PIN(v) __asm__("" : "+r"(v))
#else
#define QZ_PIN(v) ((void)0)
#endif

// One block of the low-pass recursion in mode M over x into o; y is the state.
// Exposed for the benchmarks, which compare it with a bare loop.
template <int M>
inline void QZ_lopass_loop(const std::int32_t* x, std::int32_t* o, std::int32_t n, std::uint32_t k,
                           std::int32_t& ystate) noexcept {
    std::uint32_t y = static_cast<std::uint32_t>(ystate);
    const std::uint32_t half = k >> 1;
    for (std::int32_t i = 0; i < n; ++i) {
        // x + 2^31 and y - k/2 do not depend on the previous product, so they
        // stay off the loop's dependency chain (sub, mul, shift, add); the bits
        // are those of u = x - y + 2^31, h = (u k) >> 32, y = y + h - k/2.
        // The compiler would re-associate the sums back onto the chain, so
        // both are pinned as computed values.
        std::uint32_t xb = static_cast<std::uint32_t>(x[i]) + 0x80000000u;
        QZ_PIN(xb);
        std::uint32_t ylow = y - half;
        QZ_PIN(ylow);
        const std::uint32_t u = xb - y;
        const std::uint32_t h = static_cast<std::uint32_t>((static_cast<std::uint64_t>(u) * k) >> 32);
        y = ylow + h;
        QZ_put<M>(o[i], static_cast<std::int32_t>(y));
    }
    ystate = static_cast<std::int32_t>(y);
}

// Band-pass: y[t] = (G (x[t] - x[t-2]) + (2H - 1) y[t-1] - (H - G) y[t-2]) / (G + H).
class QZ_Effect_Bapass : public QZ_Effect {
public:
    void process() noexcept override;
    void clock_changed() noexcept override { recompute(); }
    void reset() noexcept override;

    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_f(QZ_Object* obj, QZ_value v);
    static QZ_value m_q(QZ_Object* obj, QZ_value v);
    static QZ_value m_a(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in;
    QZ_Buffer_ref out;
    std::atomic<float> f{0.0f};
    std::atomic<float> q{0.0f};
    std::atomic<double> c0{0.0}, c1{0.0}, c2{0.0};
    std::atomic<std::int32_t> k0{0}, k1{0}, k2{0};
    std::atomic<bool> floating{false};

    struct Fixed {
        std::int32_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    } fixed;
    struct Float {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    } real;

private:
    void recompute() noexcept;
};

// Level-dependent glide toward the target c, in floating point.
class QZ_Effect_Lgd : public QZ_Effect {
public:
    void process() noexcept override;
    void reset() noexcept override { v = 0.0; }

    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_c(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in;
    QZ_Buffer_ref out;
    double v = 0.0;  // level, never below 0
    std::atomic<double> c{0.1};
};
