#include "dsp/shift.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "dsp/classes.h"

namespace {

inline std::int32_t wmul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
inline std::int32_t wadd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t wsub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}


constexpr std::int32_t MASK = QZ_Shifter_Base::HISTORY - 1;

// History read at a Q14 position (0 is the newest sample); indices wrap, so
// any position stays inside the history.
inline std::int32_t read_exact(const std::int32_t* r, std::int32_t w, std::int64_t pos) {
    const std::int64_t ip = pos / 16384;
    const std::int64_t f = pos - 16384 * ip;
    const std::int32_t i0 = static_cast<std::int32_t>((w + ip) & MASK);
    const std::int32_t i1 = static_cast<std::int32_t>((w + ip + 1) & MASK);
    return static_cast<std::int32_t>(
        (static_cast<std::int64_t>(r[i1]) * f + static_cast<std::int64_t>(r[i0]) * (16384 - f)) >> 14);
}

inline std::int32_t read_cheap(const std::int32_t* r, std::int32_t w, std::int64_t pos) {
    const std::int64_t ip = pos / 16384;
    const std::int32_t f = static_cast<std::int32_t>(pos - 16384 * ip);
    const std::int32_t i0 = static_cast<std::int32_t>((w + ip) & MASK);
    const std::int32_t i1 = static_cast<std::int32_t>((w + ip + 1) & MASK);
    return wadd(wmul(r[i1] >> 14, f), wmul(r[i0] >> 14, 16384 - f));
}

}  // namespace

// ---------------------------------------------------------------- Oversam

void QZ_Effect_Oversam::process() noexcept {
    QZ_Buffer* bi = in.get();
    QZ_Buffer* bo = out.get();
    if (!bi || !bo) return;
    // The output length follows the pipe when it was set to -1; never read
    // past the input's n / 8 samples.
    const std::int32_t n = std::min(bo->frames(), 8 * bi->frames());
    const std::int32_t* x = samples(this, bi);
    std::int32_t* o = samples(this, bo);
    if (!x || !o) return;
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t a = i & 7;
        if (a == 0) {
            d0 = d1;
            s0 = s1;
            s1 = s2;
            s2 = x[i / 8] / 8;
            d1 = (wsub(s2, s0) / 2) / 8;
        }
        o[i] = wadd(wmul(8 - a, wadd(s0, wmul(a, d0))), wmul(a, wsub(s1, wmul(8 - a, d1))));
    }
}

QZ_value QZ_Effect_Oversam::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Oversam*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Oversam::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Oversam*>(obj)->out.option(v);
}
QZ_value QZ_Effect_Oversam::m_k(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Oversam*>(obj);
    if (v.present()) e->factor.store(v.as_int(), std::memory_order_relaxed);
    return QZ_value::integer(e->factor.load(std::memory_order_relaxed));
}

// --------------------------------------------------------------- shifters

void QZ_Shifter_Base::clock_changed() noexcept {
    const long double factor = 8388608.0L * (1.0L / 48000.0L);
    period.store(QZ_trunc_to_int(static_cast<double>(clock() * factor)), std::memory_order_relaxed);
}

void QZ_Shifter_Base::reset() noexcept {
    std::memset(a, 0, sizeof a);
    std::memset(b, 0, sizeof b);
}

double QZ_Shifter_Base::weight(std::int64_t pos, std::int64_t p) {
    const long double angle = static_cast<long double>(pos) * 3.141592653589793 / (2.0L * p);
    const double s = static_cast<double>(std::sin(angle));
    return s * s;
}

std::int64_t QZ_Shifter_Base::advance(std::int64_t phi, std::int64_t s, std::int64_t p) {
    phi += s;
    if (phi < 0)
        phi += p;
    else if (phi >= p)
        phi -= p;
    if (phi < 0 || phi >= p) {
        phi %= p;
        if (phi < 0) phi += p;
    }
    return phi;
}

// A period of less than one sample (clock 0 or tiny) has no window: such a
// shifter does nothing.
void QZ_Effect_Shift::process() noexcept {
    QZ_Buffer* bi = in.get();
    QZ_Buffer* bo = out.get();
    if (!bi || !bo) return;
    const std::int64_t p = period.load(std::memory_order_relaxed);
    if (p < 16384) return;
    const std::int32_t n = std::min(bi->frames(), bo->frames());
    const std::int32_t* x = samples(this, bi);
    std::int32_t* o = samples(this, bo);
    if (!x || !o) return;
    const std::int64_t s = speed.load(std::memory_order_relaxed);
    std::int64_t phi = phase.load(std::memory_order_relaxed);
    const std::int64_t e = QZ_trunc_to_int(static_cast<double>(p) / (1.0 - s * (1.0 / 16384.0)));
    for (std::int32_t i = 0; i < n; ++i) {
        w = (w - 1) & MASK;
        a[w] = x[i];
        phi = advance(phi, s, p);
        const double g1 = weight(phi, p);
        const double g2 = weight(phi + p, p);
        double y = read_exact(a, w, phi) * g1 + read_exact(a, w, phi + p) * g2;
        double q, m;
        if (g1 < g2) {
            q = g1 / g2;
            m = 1.0 / g2;
        } else {
            q = g2 / g1;
            m = 1.0 / g1;
        }
        y = m * y - q * read_exact(b, w, e);
        const std::int32_t out_y = QZ_trunc_to_int(y);
        b[w] = out_y;
        o[i] = out_y;
    }
    phase.store(static_cast<std::int32_t>(phi), std::memory_order_relaxed);
}

void QZ_Effect_Nshift::process() noexcept {
    QZ_Buffer* bi = in.get();
    QZ_Buffer* bo = out.get();
    if (!bi || !bo) return;
    const std::int64_t p = period.load(std::memory_order_relaxed);
    if (p < 16384) return;
    const std::int32_t n = std::min(bi->frames(), bo->frames());
    const std::int32_t* x = samples(this, bi);
    std::int32_t* o = samples(this, bo);
    if (!x || !o) return;
    const std::int64_t s = speed.load(std::memory_order_relaxed);
    std::int64_t phi = phase.load(std::memory_order_relaxed);
    for (std::int32_t i = 0; i < n; ++i) {
        w = (w - 1) & MASK;
        a[w] = x[i];
        phi = advance(phi, s, p);
        const double g1 = weight(phi, p);
        const double g2 = weight(phi + p, p);
        const double y = read_cheap(a, w, phi) * g1 + read_cheap(a, w, phi + p) * g2;
        o[i] = QZ_trunc_to_int(y);
    }
    phase.store(static_cast<std::int32_t>(phi), std::memory_order_relaxed);
}

namespace {
template <class T>
QZ_value speed_option(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<T*>(obj);
    if (v.present()) e->speed.store(v.as_int(), std::memory_order_relaxed);
    return QZ_value::integer(e->speed.load(std::memory_order_relaxed));
}
template <class T>
QZ_value phase_option(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<T*>(obj);
    if (v.present()) e->phase.store(v.as_int(), std::memory_order_relaxed);
    return QZ_value::integer(e->phase.load(std::memory_order_relaxed));
}
}  // namespace

QZ_value QZ_Effect_Shift::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Shift*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Shift::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Shift*>(obj)->out.option(v);
}
QZ_value QZ_Effect_Shift::m_s(QZ_Object* obj, QZ_value v) { return speed_option<QZ_Effect_Shift>(obj, v); }
QZ_value QZ_Effect_Shift::m_p(QZ_Object* obj, QZ_value v) { return phase_option<QZ_Effect_Shift>(obj, v); }
QZ_value QZ_Effect_Nshift::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Nshift*>(obj)->in.option(v);
}
QZ_value QZ_Effect_Nshift::m_o(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Nshift*>(obj)->out.option(v);
}
QZ_value QZ_Effect_Nshift::m_s(QZ_Object* obj, QZ_value v) { return speed_option<QZ_Effect_Nshift>(obj, v); }
QZ_value QZ_Effect_Nshift::m_p(QZ_Object* obj, QZ_value v) { return phase_option<QZ_Effect_Nshift>(obj, v); }

namespace {
QZ_Object* make_oversam() { return new QZ_Effect_Oversam; }
QZ_Object* make_shift() { return new QZ_Effect_Shift; }
QZ_Object* make_nshift() { return new QZ_Effect_Nshift; }
const QZ_Option oversam_options[] = {
    {"i", &QZ_Effect_Oversam::m_i}, {"o", &QZ_Effect_Oversam::m_o}, {"k", &QZ_Effect_Oversam::m_k}};
const QZ_Option shift_options[] = {{"i", &QZ_Effect_Shift::m_i},
                                   {"o", &QZ_Effect_Shift::m_o},
                                   {"s", &QZ_Effect_Shift::m_s},
                                   {"p", &QZ_Effect_Shift::m_p}};
const QZ_Option nshift_options[] = {{"i", &QZ_Effect_Nshift::m_i},
                                    {"o", &QZ_Effect_Nshift::m_o},
                                    {"s", &QZ_Effect_Nshift::m_s},
                                    {"p", &QZ_Effect_Nshift::m_p}};
}  // namespace

extern const QZ_Class QZ_Effect_Oversam_class = {"QZ_Effect_Oversam", &make_oversam, oversam_options,
                                                 std::size(oversam_options), &QZ_Effect_class};
extern const QZ_Class QZ_Effect_Shift_class = {"QZ_Effect_Shift", &make_shift, shift_options,
                                               std::size(shift_options), &QZ_Effect_class};
extern const QZ_Class QZ_Effect_Nshift_class = {"QZ_Effect_Nshift", &make_nshift, nshift_options,
                                                std::size(nshift_options), &QZ_Effect_class};
