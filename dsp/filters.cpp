#include "dsp/filters.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>

#include "dsp/classes.h"

namespace {
// The value word read as a single-precision float whatever its type.
float word_as_float(QZ_value v) {
    if (v.type == QZ_T_FLOAT) return v.word.f;
    return std::bit_cast<float>(v.as_word());
}
}  // namespace

// ---------------------------------------------------------------- Lopass, Hipass

std::uint32_t QZ_lopass_coefficient(std::int32_t f, std::int32_t clock, std::uint32_t old) {
    if (f <= 0 || clock <= 0) return old;
    const long double lf = f;
    const long double k = lf * static_cast<long double>(13493037704.522018) /
                          (lf * static_cast<long double>(3.141592653589793) +
                           static_cast<long double>(clock) * static_cast<long double>(0.5));
    // For positive f and clock, 0 < k < 2^32; the bound is kept explicitly so
    // that rounding can never make the conversion undefined.
    if (!(k < 4294967296.0L)) return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(k);
}

void QZ_Effect_Onepole::recompute() noexcept {
    k.store(QZ_lopass_coefficient(frequency(), clock(), coefficient()), std::memory_order_relaxed);
}

QZ_value QZ_Effect_Onepole::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Onepole*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Onepole::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Onepole*>(obj)->out.option(v);
}
QZ_value QZ_Effect_Onepole::m_f(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Onepole*>(obj);
    if (v.present()) {
        e->f.store(v.as_int(), std::memory_order_relaxed);
        e->recompute();
    }
    return QZ_value::integer(e->frequency());
}

void QZ_Effect_Lopass::process() noexcept {
    QZ_Buffer* ib = in.get();
    QZ_Buffer* ob = out.get();
    if (!ib || !ob) return;
    const std::int32_t* x = samples(this, ib);
    std::int32_t* o = samples(this, ob);
    // The output's storage bounds the count as well as the input's length.
    const std::int32_t n = std::min(ib->frames(), ob->frames());
    if (!x || !o || n <= 0) return;
    const std::uint32_t kk = coefficient();
    QZ_with_mode(mode(), [&](auto m) { QZ_lopass_loop<m>(x, o, n, kk, y); });
}

void QZ_Effect_Hipass::process() noexcept {
    QZ_Buffer* ib = in.get();
    QZ_Buffer* ob = out.get();
    if (!ib || !ob) return;
    const std::int32_t* x = samples(this, ib);
    std::int32_t* o = samples(this, ob);
    const std::int32_t n = std::min(ib->frames(), ob->frames());
    if (!x || !o || n <= 0) return;
    const std::uint32_t kk = coefficient();
    const std::uint32_t half = kk >> 1;
    std::uint32_t yy = static_cast<std::uint32_t>(y);
    for (std::int32_t i = 0; i < n; ++i) {
        // The low-pass recursion with the same off-chain terms as QZ_lopass_loop.
        const std::uint32_t xi = static_cast<std::uint32_t>(x[i]);
        std::uint32_t xb = xi + 0x80000000u;
        QZ_PIN(xb);
        std::uint32_t ylow = yy - half;
        QZ_PIN(ylow);
        yy = ylow + static_cast<std::uint32_t>((static_cast<std::uint64_t>(xb - yy) * kk) >> 32);
        o[i] = static_cast<std::int32_t>(xi - yy);
    }
    y = static_cast<std::int32_t>(yy);
}

namespace {
QZ_Object* make_lopass() { return new QZ_Effect_Lopass; }
QZ_Object* make_hipass() { return new QZ_Effect_Hipass; }
const QZ_Option onepole_options[] = {
    {"i", &QZ_Effect_Onepole::m_i},
    {"o", &QZ_Effect_Onepole::m_o},
    {"f", &QZ_Effect_Onepole::m_f},
};
}  // namespace

const QZ_Class QZ_Effect_Lopass_class = {"QZ_Effect_Lopass", &make_lopass, onepole_options,
                                         std::size(onepole_options), &QZ_Effect_class};
const QZ_Class QZ_Effect_Hipass_class = {"QZ_Effect_Hipass", &make_hipass, onepole_options,
                                         std::size(onepole_options), &QZ_Effect_class};

// ---------------------------------------------------------------- Bapass

void QZ_Effect_Bapass::recompute() noexcept {
    const double ff = f.load(std::memory_order_relaxed);
    const double qq = q.load(std::memory_order_relaxed);
    const double clk = clock();
    if (qq == 0.0 || qq == 1.0 || ff == 0.0 || clk == 0.0) return;
    if (!std::isfinite(ff) || !std::isfinite(qq)) return;
    const double pi = 3.141592653589793;
    const double wa = 2 * pi * ff * qq;
    const double wb = 2 * pi * ff / qq;
    const double g = (wb - wa) / (wb * wa);
    const double h = 1 / (wb * wa);
    const double G = clk * g * 0.5;
    const double H = clk * clk * h;
    const double D = G + H;
    // D is 0 when q - 1/q = clock / (pi f): the filter has no finite
    // coefficients there, so the previous ones stay.
    if (D == 0.0 || !std::isfinite(D)) return;
    const double a0 = (2 * G + 1) / D;
    const double a1 = 2 * G / D;
    const double a2 = G / D;
    if (!std::isfinite(a0) || !std::isfinite(a1) || !std::isfinite(a2)) return;
    c0.store(a0, std::memory_order_relaxed);
    c1.store(a1, std::memory_order_relaxed);
    c2.store(a2, std::memory_order_relaxed);
    // Saturating truncation: out-of-range values must not be undefined.
    k0.store(QZ_trunc_to_int(a0 * 32768 * 65536 * 0.5), std::memory_order_relaxed);
    k1.store(QZ_trunc_to_int(a1 * 32768 * 65536), std::memory_order_relaxed);
    k2.store(QZ_trunc_to_int(a2 * 32768 * 65536), std::memory_order_relaxed);
}

void QZ_Effect_Bapass::reset() noexcept {
    fixed = Fixed{};
    real = Float{};
}

namespace {
inline std::int32_t mul_shift31(std::int32_t a, std::int32_t k) {
    // Bits 31 to 62 of the 64-bit product (arithmetic shift).
    return static_cast<std::int32_t>((static_cast<std::int64_t>(a) * k) >> 31);
}

template <int M>
void bapass_fixed_loop(const std::int32_t* x, std::int32_t* o, std::int32_t n, std::int32_t k0,
                       std::int32_t k1, std::int32_t k2, QZ_Effect_Bapass::Fixed& st) noexcept {
    std::int32_t x1 = st.x1, x2 = st.x2, y1 = st.y1, y2 = st.y2;
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t xi = x[i];
        const auto diff =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(xi) - static_cast<std::uint32_t>(x2));
        const std::uint32_t p = static_cast<std::uint32_t>(mul_shift31(diff, k2));
        const std::uint32_t r =
            p - static_cast<std::uint32_t>(y2) + static_cast<std::uint32_t>(mul_shift31(y2, k1)) +
            2u * static_cast<std::uint32_t>(y1) - 2u * static_cast<std::uint32_t>(mul_shift31(y1, k0));
        x2 = x1;
        x1 = xi;
        y2 = y1;
        y1 = static_cast<std::int32_t>(r);
        QZ_put<M>(o[i], y1);
    }
    st = {x1, x2, y1, y2};
}

// Floating-point output: the combination is done in double, then truncated
// toward zero (saturating, so a diverging filter cannot produce undefined casts).
template <int M>
inline double float_combine(double o, double r) {
    if constexpr (M == QZ_MODE_SET)
        return r;
    else if constexpr (M == QZ_MODE_ADD)
        return o + r;
    else if constexpr (M == QZ_MODE_SUB)
        return o - r;
    else if constexpr (M == QZ_MODE_STN)
        return -r;
    else if constexpr (M == QZ_MODE_ADN)
        return -(o + r);
    else
        return r - o;
}

template <int M>
void bapass_float_loop(const std::int32_t* x, std::int32_t* o, std::int32_t n, double c0, double c1,
                       double c2, QZ_Effect_Bapass::Float& st) noexcept {
    double x1 = st.x1, x2 = st.x2, y1 = st.y1, y2 = st.y2;
    for (std::int32_t i = 0; i < n; ++i) {
        const double xi = x[i];
        const double r = c2 * (xi - x2) - y2 + c1 * y2 + 2 * y1 - c0 * y1;
        o[i] = QZ_trunc_to_int(float_combine<M>(o[i], r));
        x2 = x1;
        x1 = xi;
        y2 = y1;
        y1 = r;
    }
    st = {x1, x2, y1, y2};
}
}  // namespace

void QZ_Effect_Bapass::process() noexcept {
    QZ_Buffer* ib = in.get();
    QZ_Buffer* ob = out.get();
    if (!ib || !ob) return;
    const std::int32_t* x = samples(this, ib);
    std::int32_t* o = samples(this, ob);
    const std::int32_t n = std::min(ib->frames(), ob->frames());
    if (!x || !o || n <= 0) return;
    if (floating.load(std::memory_order_relaxed)) {
        const double a0 = c0.load(std::memory_order_relaxed);
        const double a1 = c1.load(std::memory_order_relaxed);
        const double a2 = c2.load(std::memory_order_relaxed);
        QZ_with_mode(mode(), [&](auto m) { bapass_float_loop<m>(x, o, n, a0, a1, a2, real); });
    } else {
        const std::int32_t b0 = k0.load(std::memory_order_relaxed);
        const std::int32_t b1 = k1.load(std::memory_order_relaxed);
        const std::int32_t b2 = k2.load(std::memory_order_relaxed);
        QZ_with_mode(mode(), [&](auto m) { bapass_fixed_loop<m>(x, o, n, b0, b1, b2, fixed); });
    }
}

QZ_value QZ_Effect_Bapass::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Bapass*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Bapass::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Bapass*>(obj)->out.option(v);
}

QZ_value QZ_Effect_Bapass::m_f(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Bapass*>(obj);
    if (v.present()) {
        e->f.store(v.as_float(), std::memory_order_relaxed);
        e->recompute();
    }
    return QZ_value::real(e->f.load(std::memory_order_relaxed));
}

QZ_value QZ_Effect_Bapass::m_q(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Bapass*>(obj);
    if (v.present()) {
        e->q.store(word_as_float(v), std::memory_order_relaxed);
        e->recompute();
    }
    return QZ_value::real(e->q.load(std::memory_order_relaxed));
}

QZ_value QZ_Effect_Bapass::m_a(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Bapass*>(obj);
    if (v.type == QZ_T_STRING)
        e->floating.store(v.word.s && std::strcmp(v.word.s, "floating") == 0, std::memory_order_relaxed);
    return QZ_value::text(e->floating.load(std::memory_order_relaxed) ? "floating" : "integer");
}

namespace {
QZ_Object* make_bapass() { return new QZ_Effect_Bapass; }
const QZ_Option bapass_options[] = {
    {"i", &QZ_Effect_Bapass::m_i}, {"o", &QZ_Effect_Bapass::m_o}, {"f", &QZ_Effect_Bapass::m_f},
    {"q", &QZ_Effect_Bapass::m_q}, {"a", &QZ_Effect_Bapass::m_a},
};
}  // namespace

const QZ_Class QZ_Effect_Bapass_class = {"QZ_Effect_Bapass", &make_bapass, bapass_options,
                                         std::size(bapass_options), &QZ_Effect_class};

// ---------------------------------------------------------------- Lgd

void QZ_Effect_Lgd::process() noexcept {
    QZ_Buffer* ib = in.get();
    QZ_Buffer* ob = out.get();
    if (!ib || !ob) return;
    const std::int32_t* x = samples(this, ib);
    std::int32_t* o = samples(this, ob);
    const std::int32_t n = std::min(ib->frames(), ob->frames());
    if (!x || !o || n <= 0) return;
    const double target = c.load(std::memory_order_relaxed);
    const double scale_in = 1.0 / 2147483648.0;
    double level = v;
    for (std::int32_t i = 0; i < n; ++i) {
        const double s = x[i] * scale_in;
        // level never falls below 0, so the divisor is at least 0.01.
        const double e = 0.01 / (level + 0.01);
        const double result = (1 - e) * target + e * s;
        const double d = s - target;
        // With level in [0, 0.1] here, the root's argument stays in [0.0001, 1.0001].
        const double w =
            (d > 0 || level > 0.1) ? 1.0 : std::sqrt(1.0001 - (level - 0.1) * (level - 0.1) / 0.1 / 0.1);
        level = level + w * d * 0.1;
        if (level < 0) level = 0;
        o[i] = QZ_trunc_to_int(result * 2147483648.0);
    }
    v = level;
}

QZ_value QZ_Effect_Lgd::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Lgd*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Lgd::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Lgd*>(obj)->out.option(v);
}

QZ_value QZ_Effect_Lgd::m_c(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Lgd*>(obj);
    if (v.present()) {
        // A target that is not finite would turn the level into NaN for good.
        const float t = word_as_float(v);
        if (std::isfinite(t)) e->c.store(t, std::memory_order_relaxed);
    }
    return QZ_value::real(static_cast<float>(e->c.load(std::memory_order_relaxed)));
}

namespace {
QZ_Object* make_lgd() { return new QZ_Effect_Lgd; }
const QZ_Option lgd_options[] = {
    {"i", &QZ_Effect_Lgd::m_i},
    {"o", &QZ_Effect_Lgd::m_o},
    {"c", &QZ_Effect_Lgd::m_c},
};
}  // namespace

const QZ_Class QZ_Effect_Lgd_class = {"QZ_Effect_Lgd", &make_lgd, lgd_options, std::size(lgd_options),
                                      &QZ_Effect_class};
