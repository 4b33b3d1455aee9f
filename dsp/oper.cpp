#include "dsp/oper.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "dsp/classes.h"

const char* const QZ_oper_words[QZ_OPER_COUNT] = {"add", "sub", "mul", "div"};

namespace {

// Wrapping 32-bit arithmetic without signed overflow.
inline std::int32_t wadd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t wsub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
inline std::int32_t sat32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

// -oper: words are tried from "div" back to "add"; any other word changes nothing.
QZ_value oper_option(std::atomic<int>& op, QZ_value v) {
    if (v.type == QZ_T_STRING && v.word.s) {
        for (int k = QZ_OPER_COUNT - 1; k >= 0; --k)
            if (std::strcmp(v.word.s, QZ_oper_words[k]) == 0) {
                op.store(k, std::memory_order_relaxed);
                break;
            }
    }
    return QZ_value::text(QZ_oper_words[op.load(std::memory_order_relaxed)]);
}

QZ_value int_option(std::atomic<std::int32_t>& field, QZ_value v) {
    if (v.present()) field.store(v.as_int(), std::memory_order_relaxed);
    return QZ_value::integer(field.load(std::memory_order_relaxed));
}

// One inner loop per operation and mode: r = op(a[i], b(i)) combined into o[i].
template <bool Koef, class B>
void run_oper(int op, int mode, const std::int32_t* a, B b, std::int32_t* o, std::int32_t n) {
    auto loop = [&](auto f) {
        QZ_with_mode(mode, [&](auto m) {
            for (std::int32_t i = 0; i < n; ++i) QZ_put<decltype(m)::value>(o[i], f(a[i], b(i)));
        });
    };
    switch (op) {
        case QZ_OPER_SUB: loop([](std::int32_t x, std::int32_t y) { return wsub(x, y); }); break;
        case QZ_OPER_MUL: loop([](std::int32_t x, std::int32_t y) { return QZ_q24_product(x, y); }); break;
        case QZ_OPER_DIV:
            loop([](std::int32_t x, std::int32_t y) { return QZ_q24_quotient(x, y, Koef); });
            break;
        default:
            if constexpr (Koef)
                loop([](std::int32_t x, std::int32_t y) { return wadd(x, y); });
            else
                loop([](std::int32_t x, std::int32_t y) { return QZ_saturating_add(x, y); });
            break;
    }
}

}  // namespace

std::int32_t QZ_q24_product(std::int32_t a, std::int32_t b) {
    return sat32((static_cast<std::int64_t>(a) * b) >> 24);
}

std::int32_t QZ_saturating_add(std::int32_t a, std::int32_t b) {
    return sat32(static_cast<std::int64_t>(a) + b);
}

std::int32_t QZ_q24_quotient(std::int32_t a, std::int32_t b, bool zero_negative) {
    const std::int64_t ma = std::llabs(static_cast<std::int64_t>(a)) + 1;
    const std::int64_t mb = std::llabs(static_cast<std::int64_t>(b)) + 1;
    const bool na = zero_negative ? a <= 0 : a < 0;
    const bool nb = zero_negative ? b <= 0 : b < 0;
    const bool negative = na != nb;
    if ((ma >> 7) >= mb) return negative ? INT32_MIN : INT32_MAX;
    const std::int64_t q = (ma << 24) / mb;  // below 2^31 here
    return static_cast<std::int32_t>(negative ? -q : q);
}

// ------------------------------------------------------------------- Oper

void QZ_Effect_Oper::process() noexcept {
    QZ_Buffer* b1 = in1.get();
    QZ_Buffer* b2 = in2.get();
    QZ_Buffer* bo = out.get();
    if (!b1 || !b2 || !bo) return;
    const std::int32_t n = std::min({b1->frames(), b2->frames(), bo->frames()});
    const std::int32_t* a = samples(this, b1);
    const std::int32_t* b = samples(this, b2);
    std::int32_t* o = samples(this, bo);
    if (!a || !b || !o || n <= 0) return;
    run_oper<false>(
        oper.load(std::memory_order_relaxed), mode(), a, [b](std::int32_t i) { return b[i]; }, o, n);
}

QZ_value QZ_Effect_Oper::m_i1(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Oper*>(obj)->in1.option(v);
}
QZ_value QZ_Effect_Oper::m_i2(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Oper*>(obj)->in2.option(v);
}
QZ_value QZ_Effect_Oper::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Oper*>(obj)->out.option(v);
}
QZ_value QZ_Effect_Oper::m_oper(QZ_Object* obj, QZ_value v) {
    return oper_option(static_cast<QZ_Effect_Oper*>(obj)->oper, v);
}

// ------------------------------------------------------------------- Koef

void QZ_Effect_Koef::process() noexcept {
    QZ_Buffer* bi = in.get();
    QZ_Buffer* bo = out.get();
    if (!bi || !bo) return;
    const std::int32_t n = std::min(bi->frames(), bo->frames());
    const std::int32_t* a = samples(this, bi);
    std::int32_t* o = samples(this, bo);
    if (!a || !o || n <= 0) return;
    const std::int32_t kk = k.load(std::memory_order_relaxed);
    run_oper<true>(
        oper.load(std::memory_order_relaxed), mode(), a, [kk](std::int32_t) { return kk; }, o, n);
}

QZ_value QZ_Effect_Koef::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Koef*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Koef::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Koef*>(obj)->out.option(v);
}
QZ_value QZ_Effect_Koef::m_oper(QZ_Object* obj, QZ_value v) {
    return oper_option(static_cast<QZ_Effect_Koef*>(obj)->oper, v);
}

// The word is read as a float whatever its type; the constant is v / 127 in
// Q31. Values whose constant would not fit 32 bits (v >= 127, v < -127, NaN)
// are refused and the old constant kept.
QZ_value QZ_Effect_Koef::m_k(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Koef*>(obj);
    if (v.present()) {
        const double kk = static_cast<double>(std::bit_cast<float>(v.as_word())) * 2147483648.0 / 127.0;
        if (kk < 2147483648.0 && kk >= -2147483648.0)
            e->k.store(static_cast<std::int32_t>(kk), std::memory_order_relaxed);
    }
    return QZ_value::integer(e->k.load(std::memory_order_relaxed));
}

// ------------------------------------------------------- Gtzero and Ltzero

template <bool Floor, class E>
static void run_limit(E* e) {
    QZ_Buffer* bi = e->in.get();
    QZ_Buffer* bo = e->out.get();
    if (!bi || !bo) return;
    const std::int32_t n = std::min(bi->frames(), bo->frames());
    const std::int32_t* x = QZ_Effect::samples(e, bi);
    std::int32_t* o = QZ_Effect::samples(e, bo);
    if (!x || !o) return;
    const std::int32_t l = e->l.load(std::memory_order_relaxed);
    for (std::int32_t i = n - 1; i >= 0; --i) {
        if constexpr (Floor)
            o[i] = x[i] > l ? x[i] : l;
        else
            o[i] = x[i] < l ? x[i] : l;
    }
}

void QZ_Effect_Gtzero::process() noexcept { run_limit<true>(this); }
void QZ_Effect_Ltzero::process() noexcept { run_limit<false>(this); }

QZ_value QZ_Effect_Gtzero::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Gtzero*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Gtzero::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Gtzero*>(obj)->out.option(v);
}
QZ_value QZ_Effect_Gtzero::m_l(QZ_Object* obj, QZ_value v) {
    return int_option(static_cast<QZ_Effect_Gtzero*>(obj)->l, v);
}
QZ_value QZ_Effect_Ltzero::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Ltzero*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Ltzero::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Ltzero*>(obj)->out.option(v);
}
QZ_value QZ_Effect_Ltzero::m_l(QZ_Object* obj, QZ_value v) {
    return int_option(static_cast<QZ_Effect_Ltzero*>(obj)->l, v);
}

// ------------------------------------------------------------------- Dist

QZ_Effect_Dist::QZ_Effect_Dist() { recompute_bounds(); }

void QZ_Effect_Dist::recompute_bounds() {
    const std::int32_t dd = d.load(std::memory_order_relaxed);
    const std::int32_t bb = QZ_trunc_to_int(dd * (1.0 - softness.load(std::memory_order_relaxed)));
    b.store(bb, std::memory_order_relaxed);
    e.store(static_cast<std::int32_t>((static_cast<std::int64_t>(dd) - bb) / 2), std::memory_order_relaxed);
}

void QZ_Effect_Dist::recompute_rate() {
    const std::int32_t c = clock();
    if (c == 0) return;
    r.store(QZ_trunc_to_int(static_cast<double>(rate.load(std::memory_order_relaxed)) * 48000.0 / c *
                            2147483647.0),
            std::memory_order_relaxed);
}

void QZ_Effect_Dist::clock_changed() noexcept { recompute_rate(); }

void QZ_Effect_Dist::process() noexcept {
    QZ_Buffer* bi = in.get();
    QZ_Buffer* bo = out.get();
    if (!bi || !bo) return;
    const std::int32_t n = std::min(bi->frames(), bo->frames());
    const std::int32_t* x = samples(this, bi);
    std::int32_t* o = samples(this, bo);
    if (!x || !o) return;
    const std::int64_t bb = b.load(std::memory_order_relaxed);
    const std::int32_t ee = e.load(std::memory_order_relaxed);
    const std::int64_t rr = r.load(std::memory_order_relaxed);
    const bool asym = (flags.load(std::memory_order_relaxed) & 1) != 0;
    const std::int64_t r_wide = 2 * bb;
    // (4b - (4b >> knee)) >> 3 with the knee shift 1.
    const std::int64_t r_narrow = (4 * bb - ((4 * bb) >> 1)) >> 3;
    const std::int32_t neg_e = wsub(0, ee);
    const std::int32_t neg_e_b = wsub(neg_e, static_cast<std::int32_t>(bb));
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t a = wsub(x[i] >> 1, s) >> 1;
        const std::int32_t lo = asym ? std::max(neg_e_b, std::min(s, ee)) : neg_e;
        const std::int32_t c = a > ee ? ee : (a < lo ? lo : a);
        const std::int64_t ov = static_cast<std::int64_t>(a) - c;
        const std::int64_t big_r = (ov > 0 || !asym) ? r_wide : r_narrow;
        const std::int64_t mag = ov < 0 ? -ov : ov;
        const std::int64_t div = big_r + mag;
        // |o| < 3 * 2^30, so o * o fits unsigned 64 bits even with extreme
        // drive and softness; the quotient is cut to 32 bits like the sum.
        const std::uint64_t sq = static_cast<std::uint64_t>(mag) * static_cast<std::uint64_t>(mag);
        std::uint64_t q = 0;
        if (div > 0)
            q = sq / static_cast<std::uint64_t>(div);
        else if (div < 0)
            q = 0u - sq / static_cast<std::uint64_t>(-div);
        const std::int32_t y = wadd(c, static_cast<std::int32_t>(static_cast<std::uint32_t>(q)));
        s = wadd(s, static_cast<std::int32_t>((static_cast<std::int64_t>(wsub(a, y)) * rr) >> 32));
        o[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(y) << 2);
    }
}

QZ_value QZ_Effect_Dist::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Dist*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Dist::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Dist*>(obj)->out.option(v);
}

QZ_value QZ_Effect_Dist::m_d(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Dist*>(obj);
    if (v.present()) {
        e->d.store(QZ_trunc_to_int(static_cast<double>(v.as_float()) * 536870912.0),
                   std::memory_order_relaxed);
        e->recompute_bounds();
    }
    return QZ_value::real(static_cast<float>(e->d.load(std::memory_order_relaxed) / 1073741824.0));
}

QZ_value QZ_Effect_Dist::m_s(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Dist*>(obj);
    if (v.present()) {
        e->softness.store(v.as_float(), std::memory_order_relaxed);
        e->recompute_bounds();
    }
    return QZ_value::real(static_cast<float>(e->softness.load(std::memory_order_relaxed)));
}

QZ_value QZ_Effect_Dist::m_k(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Dist*>(obj);
    if (v.present()) {
        e->rate.store(v.as_float(), std::memory_order_relaxed);
        e->recompute_rate();
    }
    return QZ_value::real(e->rate.load(std::memory_order_relaxed));
}

QZ_value QZ_Effect_Dist::m_l(QZ_Object* obj, QZ_value v) {
    return int_option(static_cast<QZ_Effect_Dist*>(obj)->flags, v);
}

// ----------------------------------------------------------------- Ampdet

std::int32_t QZ_Effect_Ampdet::coefficient(float f, std::int32_t clock) {
    if (f == 0.0f) return 0x7FFFFFFF;
    return QZ_trunc_to_int(f * 6746518852.261009 / (f * 3.141592653589793 + clock * 0.5));
}

void QZ_Effect_Ampdet::clock_changed() noexcept {
    const std::int32_t c = clock();
    if (c == 0) return;
    k1.store(coefficient(f1.load(std::memory_order_relaxed), c), std::memory_order_relaxed);
    k2.store(coefficient(f2.load(std::memory_order_relaxed), c), std::memory_order_relaxed);
}

void QZ_Effect_Ampdet::process() noexcept {
    QZ_Buffer* bi = in.get();
    if (!bi) return;
    QZ_Buffer* bo = out.get();
    QZ_Buffer* ba = rect.get();
    std::int32_t n = bi->frames();
    if (bo) n = std::min(n, bo->frames());
    if (ba) n = std::min(n, ba->frames());
    const std::int32_t* x = samples(this, bi);
    std::int32_t* o = bo ? samples(this, bo) : nullptr;
    std::int32_t* m_out = ba ? samples(this, ba) : nullptr;
    if (!x) return;
    if (m_out)
        for (std::int32_t i = 0; i < n; ++i)
            m_out[i] = static_cast<std::int32_t>(x[i] < 0 ? 0u - static_cast<std::uint32_t>(x[i])
                                                          : static_cast<std::uint32_t>(x[i]));
    if (!o) return;
    const std::int64_t c1 = k1.load(std::memory_order_relaxed);
    const std::int64_t c2 = k2.load(std::memory_order_relaxed);
    QZ_with_mode(mode(), [&](auto md) {
        std::uint32_t env = static_cast<std::uint32_t>(y);
        for (std::int32_t i = 0; i < n; ++i) {
            const std::uint32_t m =
                x[i] < 0 ? 0u - static_cast<std::uint32_t>(x[i]) : static_cast<std::uint32_t>(x[i]);
            const std::int64_t diff = static_cast<std::int32_t>(m - env);
            const std::int64_t k = m >= env ? c1 : c2;
            env += static_cast<std::uint32_t>((diff * k) >> 31);
            QZ_put<decltype(md)::value>(o[i], static_cast<std::int32_t>(env));
        }
        y = static_cast<std::int32_t>(env);
    });
}

QZ_value QZ_Effect_Ampdet::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Ampdet*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Ampdet::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Ampdet*>(obj)->out.option(v);
}
QZ_value QZ_Effect_Ampdet::m_a(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Ampdet*>(obj)->rect.option(v);
}

QZ_value QZ_Effect_Ampdet::m_f1(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Ampdet*>(obj);
    if (v.present()) {
        const float f = v.as_float();
        e->f1.store(f, std::memory_order_relaxed);
        if (const std::int32_t c = e->clock(); c != 0) e->k1.store(coefficient(f, c), std::memory_order_relaxed);
    }
    return QZ_value::real(e->f1.load(std::memory_order_relaxed));
}

QZ_value QZ_Effect_Ampdet::m_f2(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Ampdet*>(obj);
    if (v.present()) {
        const float f = v.as_float();
        e->f2.store(f, std::memory_order_relaxed);
        if (const std::int32_t c = e->clock(); c != 0) e->k2.store(coefficient(f, c), std::memory_order_relaxed);
    }
    return QZ_value::real(e->f2.load(std::memory_order_relaxed));
}

// ------------------------------------------------------------ descriptors

namespace {
QZ_Object* make_oper() { return new QZ_Effect_Oper; }
QZ_Object* make_koef() { return new QZ_Effect_Koef; }
QZ_Object* make_gtzero() { return new QZ_Effect_Gtzero; }
QZ_Object* make_ltzero() { return new QZ_Effect_Ltzero; }
QZ_Object* make_dist() { return new QZ_Effect_Dist; }
QZ_Object* make_ampdet() { return new QZ_Effect_Ampdet; }

const QZ_Option oper_options[] = {{"i1", &QZ_Effect_Oper::m_i1},
                                  {"i2", &QZ_Effect_Oper::m_i2},
                                  {"o", &QZ_Effect_Oper::m_o},
                                  {"oper", &QZ_Effect_Oper::m_oper}};
const QZ_Option koef_options[] = {{"i", &QZ_Effect_Koef::m_i},
                                  {"o", &QZ_Effect_Koef::m_o},
                                  {"oper", &QZ_Effect_Koef::m_oper},
                                  {"k", &QZ_Effect_Koef::m_k}};
const QZ_Option gtzero_options[] = {
    {"i", &QZ_Effect_Gtzero::m_i}, {"o", &QZ_Effect_Gtzero::m_o}, {"l", &QZ_Effect_Gtzero::m_l}};
const QZ_Option ltzero_options[] = {
    {"i", &QZ_Effect_Ltzero::m_i}, {"o", &QZ_Effect_Ltzero::m_o}, {"l", &QZ_Effect_Ltzero::m_l}};
const QZ_Option dist_options[] = {{"i", &QZ_Effect_Dist::m_i}, {"o", &QZ_Effect_Dist::m_o},
                                  {"d", &QZ_Effect_Dist::m_d}, {"s", &QZ_Effect_Dist::m_s},
                                  {"k", &QZ_Effect_Dist::m_k}, {"l", &QZ_Effect_Dist::m_l}};
const QZ_Option ampdet_options[] = {{"i", &QZ_Effect_Ampdet::m_i},
                                    {"o", &QZ_Effect_Ampdet::m_o},
                                    {"a", &QZ_Effect_Ampdet::m_a},
                                    {"f1", &QZ_Effect_Ampdet::m_f1},
                                    {"f2", &QZ_Effect_Ampdet::m_f2}};
}  // namespace

extern const QZ_Class QZ_Effect_Oper_class = {"QZ_Effect_Oper", &make_oper, oper_options,
                                              std::size(oper_options), &QZ_Effect_class};
extern const QZ_Class QZ_Effect_Koef_class = {"QZ_Effect_Koef", &make_koef, koef_options,
                                              std::size(koef_options), &QZ_Effect_class};
extern const QZ_Class QZ_Effect_Gtzero_class = {"QZ_Effect_Gtzero", &make_gtzero, gtzero_options,
                                                std::size(gtzero_options), &QZ_Effect_class};
extern const QZ_Class QZ_Effect_Ltzero_class = {"QZ_Effect_Ltzero", &make_ltzero, ltzero_options,
                                                std::size(ltzero_options), &QZ_Effect_class};
extern const QZ_Class QZ_Effect_Dist_class = {"QZ_Effect_Dist", &make_dist, dist_options,
                                              std::size(dist_options), &QZ_Effect_class};
extern const QZ_Class QZ_Effect_Ampdet_class = {"QZ_Effect_Ampdet", &make_ampdet, ampdet_options,
                                                std::size(ampdet_options), &QZ_Effect_class};
