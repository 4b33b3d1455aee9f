#include "dsp/fourier_math.h"

#include <cmath>
#include <cstdint>

namespace {

struct Twiddles {
    std::int32_t w[2 * 2048];
    Twiddles() {
        for (int k = 0; k < 2048; ++k) {
            double angle = k * 3.141592653589793 / 2048.0;
            w[2 * k] = static_cast<std::int32_t>(std::cos(angle) * 2147483647.0);
            w[2 * k + 1] = static_cast<std::int32_t>(std::sin(angle) * 2147483647.0);
        }
    }
};

inline std::int32_t clamp32(std::int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

// The exact value of a + p / 2^31 is carried as an integer part s and a
// fraction f / 2^31 (0 <= f < 2^31), so no 64-bit sum can overflow even for
// full-scale data at 45 degrees.
//
// round-half-even(s + f / 2^31)
inline std::int64_t round_whole(std::int64_t s, std::int64_t f) {
    return s + ((f + (s & 1) + 0x3FFFFFFF) >> 31);
}

// round-half-even((s + f / 2^31) / 2)
inline std::int64_t round_half(std::int64_t s, std::int64_t f) {
    std::int64_t k = s >> 1;
    std::int64_t r = ((s & 1) << 31) | f;
    return k + ((r + (k & 1) + 0x7FFFFFFF) >> 32);
}

template <bool Forward>
void stages(std::int32_t* d, int s) {
    const std::int32_t* tw = QZ_fourier_twiddles();
    const int n = 1 << (s + 1);
    for (int t = 0; t <= s; ++t) {
        const int m = 1 << t;
        const int step = 1 << (11 - t);
        for (int g = 0; g < n; g += 2 * m) {
            std::int32_t* pa = d + 2 * g;
            std::int32_t* pb = d + 2 * (g + m);
            for (int j = 0; j < m; ++j) {
                const std::int64_t c = tw[2 * j * step];
                const std::int64_t sn = tw[2 * j * step + 1];
                const std::int64_t ar = pa[2 * j], ai = pa[2 * j + 1];
                const std::int64_t br = pb[2 * j], bi = pb[2 * j + 1];
                // u * 2^31, exact in 64 bits (|u| * 2^31 < 2^62.5).
                const std::int64_t pr = c * br - sn * bi;
                const std::int64_t pi = c * bi + sn * br;
                const std::int64_t hr = pr >> 31, lr = pr & 0x7FFFFFFF;
                const std::int64_t hi = pi >> 31, li = pi & 0x7FFFFFFF;
                // a - u = (a - h - 1) + (2^31 - l) / 2^31 when l > 0.
                const std::int64_t nr = lr != 0, ni = li != 0;
                const std::int64_t mlr = (0x80000000LL - lr) & 0x7FFFFFFF;
                const std::int64_t mli = (0x80000000LL - li) & 0x7FFFFFFF;
                if constexpr (Forward) {
                    pa[2 * j] = clamp32(round_half(ar + hr, lr));
                    pa[2 * j + 1] = clamp32(round_half(ai + hi, li));
                    pb[2 * j] = clamp32(round_half(ar - hr - nr, mlr));
                    pb[2 * j + 1] = clamp32(round_half(ai - hi - ni, mli));
                } else {
                    pa[2 * j] = clamp32(round_whole(ar + hr, lr));
                    pa[2 * j + 1] = clamp32(round_whole(ai + hi, li));
                    pb[2 * j] = clamp32(round_whole(ar - hr - nr, mlr));
                    pb[2 * j + 1] = clamp32(round_whole(ai - hi - ni, mli));
                }
            }
        }
    }
}

inline std::int32_t clamp_ld(long double v) {
    if (v >= 2147483647.0L) return INT32_MAX;
    if (v <= -2147483648.0L) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

}  // namespace

const std::int32_t* QZ_fourier_twiddles() {
    static const Twiddles table;
    return table.w;
}

void QZ_fourier_butterflies(std::int32_t* data, int s, bool forward) {
    if (!data || s < 0 || s > 11) return;
    if (forward)
        stages<true>(data, s);
    else
        stages<false>(data, s);
}

void QZ_fourier_butterflies_reference(std::int32_t* d, int s, bool forward) {
    if (!d || s < 0 || s > 11) return;
    const std::int32_t* tw = QZ_fourier_twiddles();
    const int n = 1 << (s + 1);
    const long double scale = 1.0L / 2147483648.0L;
    for (int t = 0; t <= s; ++t) {
        const int m = 1 << t;
        for (int g = 0; g < n; g += 2 * m) {
            for (int j = 0; j < m; ++j) {
                const int e = j << (11 - t);
                const long double wr = tw[2 * e] * scale, wi = tw[2 * e + 1] * scale;
                std::int32_t* a = d + 2 * (g + j);
                std::int32_t* b = d + 2 * (g + j + m);
                const long double ar = a[0], ai = a[1], br = b[0], bi = b[1];
                const long double ur = wr * br - wi * bi;
                const long double ui = wr * bi + wi * br;
                long double xr = ar + ur, xi = ai + ui, yr = ar - ur, yi = ai - ui;
                if (forward) {
                    xr /= 2; xi /= 2; yr /= 2; yi /= 2;
                }
                // rintl rounds ties to even in the default rounding mode.
                a[0] = clamp_ld(std::rintl(xr));
                a[1] = clamp_ld(std::rintl(xi));
                b[0] = clamp_ld(std::rintl(yr));
                b[1] = clamp_ld(std::rintl(yi));
            }
        }
    }
}
