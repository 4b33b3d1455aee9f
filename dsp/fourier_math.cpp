#include "dsp/fourier_math.h"

#include <cmath>
#include <cstdint>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

namespace {

struct Twiddles {
    std::int32_t w[2 * 2048];
    // The entries each stage t uses (j * 2^(11 - t), j < 2^t), one run per
    // stage starting at pair 2^t - 1, so vector code loads them contiguously.
    alignas(32) std::int32_t staged[2 * 4096];
    Twiddles() {
        for (int k = 0; k < 2048; ++k) {
            double angle = k * 3.141592653589793 / 2048.0;
            w[2 * k] = static_cast<std::int32_t>(std::cos(angle) * 2147483647.0);
            w[2 * k + 1] = static_cast<std::int32_t>(std::sin(angle) * 2147483647.0);
        }
        for (int t = 0; t <= 11; ++t)
            for (int j = 0; j < (1 << t); ++j) {
                const int e = j << (11 - t);
                staged[2 * ((1 << t) - 1 + j)] = w[2 * e];
                staged[2 * ((1 << t) - 1 + j) + 1] = w[2 * e + 1];
            }
    }
};

const Twiddles& twiddle_tables() {
    static const Twiddles table;
    return table;
}

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

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define QZ_FOURIER_AVX2 1

// Four butterflies at once in 64-bit lanes, the same exact arithmetic as the
// scalar code: products by vpmuldq, arithmetic shifts through biased logical
// ones (all values are far inside the bias), rounding half to even, clamping.
#define QZ_AVX2 __attribute__((target("avx2"), always_inline)) inline

namespace avx {

// floor(p / 2^31) for any 64-bit p: flip the sign bit (adds 2^63), shift, unbias.
QZ_AVX2 __m256i high31(__m256i p) {
    const __m256i sign = _mm256_set1_epi64x(static_cast<long long>(0x8000000000000000ULL));
    return _mm256_sub_epi64(_mm256_srli_epi64(_mm256_xor_si256(p, sign), 31), _mm256_set1_epi64x(1LL << 32));
}

QZ_AVX2 __m256i clamp32(__m256i v) {
    const __m256i hi = _mm256_set1_epi64x(INT32_MAX), lo = _mm256_set1_epi64x(INT32_MIN);
    v = _mm256_blendv_epi8(v, hi, _mm256_cmpgt_epi64(v, hi));
    return _mm256_blendv_epi8(v, lo, _mm256_cmpgt_epi64(lo, v));
}

// round-half-even((s + f / 2^31) / 2), |s| < 2^36
QZ_AVX2 __m256i round_half(__m256i s, __m256i f) {
    const __m256i one = _mm256_set1_epi64x(1);
    const __m256i k =
        _mm256_sub_epi64(_mm256_srli_epi64(_mm256_add_epi64(s, _mm256_set1_epi64x(1LL << 40)), 1),
                         _mm256_set1_epi64x(1LL << 39));
    const __m256i r = _mm256_or_si256(_mm256_slli_epi64(_mm256_and_si256(s, one), 31), f);
    const __m256i up = _mm256_srli_epi64(
        _mm256_add_epi64(_mm256_add_epi64(r, _mm256_and_si256(k, one)), _mm256_set1_epi64x(0x7FFFFFFF)), 32);
    return clamp32(_mm256_add_epi64(k, up));
}

// round-half-even(s + f / 2^31)
QZ_AVX2 __m256i round_whole(__m256i s, __m256i f) {
    const __m256i one = _mm256_set1_epi64x(1);
    const __m256i up = _mm256_srli_epi64(
        _mm256_add_epi64(_mm256_add_epi64(f, _mm256_and_si256(s, one)), _mm256_set1_epi64x(0x3FFFFFFF)), 31);
    return clamp32(_mm256_add_epi64(s, up));
}

// a, b: four complex values each (re, im interleaved); w: four twiddles.
template <bool Forward>
QZ_AVX2 void exact_butterfly(__m256i& a, __m256i& b, __m256i w) {
    const __m256i ones = _mm256_set1_epi64x(1);
    const __m256i m31 = _mm256_set1_epi64x(0x7FFFFFFF);
    const __m256i b_im = _mm256_srli_epi64(b, 32), w_s = _mm256_srli_epi64(w, 32);
    const __m256i pr = _mm256_sub_epi64(_mm256_mul_epi32(w, b), _mm256_mul_epi32(w_s, b_im));
    const __m256i pi = _mm256_add_epi64(_mm256_mul_epi32(w, b_im), _mm256_mul_epi32(w_s, b));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i nr = _mm256_sub_epi64(zero, pr), ni = _mm256_sub_epi64(zero, pi);
    const __m256i ar = _mm256_mul_epi32(a, ones);
    const __m256i ai = _mm256_mul_epi32(_mm256_srli_epi64(a, 32), ones);
    const __m256i s_ar = _mm256_add_epi64(ar, high31(pr)), s_ai = _mm256_add_epi64(ai, high31(pi));
    const __m256i s_br = _mm256_add_epi64(ar, high31(nr)), s_bi = _mm256_add_epi64(ai, high31(ni));
    const __m256i f_ar = _mm256_and_si256(pr, m31), f_ai = _mm256_and_si256(pi, m31);
    const __m256i f_br = _mm256_and_si256(nr, m31), f_bi = _mm256_and_si256(ni, m31);
    __m256i xr, xi, yr, yi;
    if constexpr (Forward) {
        xr = round_half(s_ar, f_ar);
        xi = round_half(s_ai, f_ai);
        yr = round_half(s_br, f_br);
        yi = round_half(s_bi, f_bi);
    } else {
        xr = round_whole(s_ar, f_ar);
        xi = round_whole(s_ai, f_ai);
        yr = round_whole(s_br, f_br);
        yi = round_whole(s_bi, f_bi);
    }
    a = _mm256_blend_epi32(xr, _mm256_slli_epi64(xi, 32), 0xAA);
    b = _mm256_blend_epi32(yr, _mm256_slli_epi64(yi, 32), 0xAA);
}

// Most data lets a shorter sequence give the same bits. With |b| (each part)
// below L, |a * 2^31 +- p| stays under 2^63 - 2^32, p = w b the exact product
// (|p| <= (2^31 - 1) sqrt(2) |b|max): the forward results are then the high
// words of a * 2^31 +- p + 2^31 - 1 + (high word odd), ties to even, and
// cannot saturate. Backward (no halving) needs |a| + |u| below 2^31 - 2, so
// both a and b below La; then a * 2^32 +- 2p is exact and rounds the same way.
constexpr std::int32_t L_FORWARD = 1518500000;  // < (2^31 - 1) / sqrt(2)
constexpr std::int32_t L_BACKWARD = 889192448;  // La (1 + sqrt(2)) < 2^31 - 2

// Sign bits set in the lanes whose magnitude exceeds the limit: |v| + (2^31 - 1 - limit)
// wraps negative exactly for |v| > limit (|INT32_MIN| included).
template <std::int32_t Limit>
QZ_AVX2 __m256i over(__m256i v) {
    return _mm256_add_epi32(_mm256_abs_epi32(v), _mm256_set1_epi32(INT32_MAX - Limit));
}

// v + (bit 32 of v): with the bias already in v, the high word is then the
// value rounded half to even (adding the bit can only carry on an exact tie).
QZ_AVX2 __m256i even_tie(__m256i v) {
    return _mm256_add_epi64(v, _mm256_and_si256(_mm256_shuffle_epi32(v, 0xF5), _mm256_set1_epi64x(1)));
}

// The high words of re (even lanes) and im (odd lanes), interleaved.
QZ_AVX2 __m256i high_words(__m256i re, __m256i im) {
    return _mm256_blend_epi32(_mm256_shuffle_epi32(re, 0xF5), im, 0xAA);
}

template <bool Forward>
QZ_AVX2 void butterfly(__m256i& a, __m256i& b, __m256i w) {
    const __m256i flags = Forward ? over<L_FORWARD>(b) : _mm256_or_si256(over<L_BACKWARD>(a), over<L_BACKWARD>(b));
    if (__builtin_expect(_mm256_movemask_ps(_mm256_castsi256_ps(flags)) != 0, 0)) {
        exact_butterfly<Forward>(a, b, w);
        return;
    }
    const __m256i ws = _mm256_shuffle_epi32(w, 0xB1), bi = _mm256_shuffle_epi32(b, 0xB1);
    const __m256i pr = _mm256_sub_epi64(_mm256_mul_epi32(w, b), _mm256_mul_epi32(ws, bi));
    const __m256i pi = _mm256_add_epi64(_mm256_mul_epi32(w, bi), _mm256_mul_epi32(ws, b));
    const __m256i bias = _mm256_set1_epi64x(0x7FFFFFFF);
    if constexpr (Forward) {
        // m = -a * 2^31: x rounds a * 2^31 + p, and -y rounds p - a * 2^31 (ties to even are symmetric)
        const __m256i neg = _mm256_set1_epi64x(INT32_MIN);
        const __m256i mr = _mm256_mul_epi32(a, neg), mi = _mm256_mul_epi32(_mm256_shuffle_epi32(a, 0xB1), neg);
        const __m256i qr = _mm256_add_epi64(pr, bias), qi = _mm256_add_epi64(pi, bias);
        a = high_words(even_tie(_mm256_sub_epi64(qr, mr)), even_tie(_mm256_sub_epi64(qi, mi)));
        b = _mm256_sub_epi32(_mm256_setzero_si256(),
                             high_words(even_tie(_mm256_add_epi64(qr, mr)), even_tie(_mm256_add_epi64(qi, mi))));
    } else {
        // a * 2^32 (both parts) and 2p, +- the bias
        const __m256i ar = _mm256_slli_epi64(a, 32);
        const __m256i ai = _mm256_and_si256(a, _mm256_set1_epi64x(static_cast<long long>(0xFFFFFFFF00000000ULL)));
        const __m256i pr2 = _mm256_add_epi64(pr, pr), pi2 = _mm256_add_epi64(pi, pi);
        a = high_words(even_tie(_mm256_add_epi64(ar, _mm256_add_epi64(pr2, bias))),
                       even_tie(_mm256_add_epi64(ai, _mm256_add_epi64(pi2, bias))));
        b = high_words(even_tie(_mm256_sub_epi64(ar, _mm256_sub_epi64(pr2, bias))),
                       even_tie(_mm256_sub_epi64(ai, _mm256_sub_epi64(pi2, bias))));
    }
}

template <bool Forward>
__attribute__((target("avx2"))) void stages(std::int32_t* d, int s) {
    const std::int32_t* staged = twiddle_tables().staged;
    const int n = 1 << (s + 1);
    // stage 0: pairs of neighbours, twiddle entry 0
    {
        const __m256i w = _mm256_set1_epi64x(static_cast<long long>(
            static_cast<std::uint32_t>(staged[0]) |
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(staged[1])) << 32)));
        for (int c = 0; c < n; c += 8) {
            __m256i* p = reinterpret_cast<__m256i*>(d + 2 * c);
            const __m256i v1 = _mm256_loadu_si256(p), v2 = _mm256_loadu_si256(p + 1);
            __m256i a = _mm256_unpacklo_epi64(v1, v2), b = _mm256_unpackhi_epi64(v1, v2);
            butterfly<Forward>(a, b, w);
            _mm256_storeu_si256(p, _mm256_unpacklo_epi64(a, b));
            _mm256_storeu_si256(p + 1, _mm256_unpackhi_epi64(a, b));
        }
    }
    // stage 1: pairs two apart, twiddle entries (0, 1) of the stage
    {
        const __m128i w2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(staged + 2));
        const __m256i w = _mm256_set_m128i(w2, w2);
        for (int c = 0; c < n; c += 8) {
            __m256i* p = reinterpret_cast<__m256i*>(d + 2 * c);
            const __m256i v1 = _mm256_loadu_si256(p), v2 = _mm256_loadu_si256(p + 1);
            __m256i a = _mm256_permute2x128_si256(v1, v2, 0x20), b = _mm256_permute2x128_si256(v1, v2, 0x31);
            butterfly<Forward>(a, b, w);
            _mm256_storeu_si256(p, _mm256_permute2x128_si256(a, b, 0x20));
            _mm256_storeu_si256(p + 1, _mm256_permute2x128_si256(a, b, 0x31));
        }
    }
    for (int t = 2; t <= s; ++t) {
        const int m = 1 << t;
        const std::int32_t* tw = staged + 2 * (m - 1);
        for (int g = 0; g < n; g += 2 * m) {
            std::int32_t* pa = d + 2 * g;
            std::int32_t* pb = d + 2 * (g + m);
            for (int j = 0; j < m; j += 4) {
                __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pa + 2 * j));
                __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pb + 2 * j));
                const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tw + 2 * j));
                butterfly<Forward>(a, b, w);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(pa + 2 * j), a);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(pb + 2 * j), b);
            }
        }
    }
    _mm256_zeroupper();  // no transition penalty for the SSE and x87 code that follows
}

}  // namespace avx

bool has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

// Rounds to the nearest integer, ties to even (the default rounding mode), and
// saturates to 32 bits. Every value here is far inside the range of long.
inline std::int32_t round_ld(long double v) {
    const long long r = std::llrintl(v);
    return static_cast<std::int32_t>(r > INT32_MAX ? INT32_MAX : (r < INT32_MIN ? INT32_MIN : r));
}

}  // namespace

const std::int32_t* QZ_fourier_twiddles() { return twiddle_tables().w; }

void QZ_fourier_butterflies(std::int32_t* data, int s, bool forward) {
    if (!data || s < 0 || s > 11) return;
#ifdef QZ_FOURIER_AVX2
    // Vector stages need at least 8 points (four butterflies per stage step).
    if (s >= 2 && has_avx2()) {
        if (forward)
            avx::stages<true>(data, s);
        else
            avx::stages<false>(data, s);
        return;
    }
#endif
    if (forward)
        stages<true>(data, s);
    else
        stages<false>(data, s);
}

void QZ_fourier_butterflies_scalar(std::int32_t* data, int s, bool forward) {
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
                    xr /= 2;
                    xi /= 2;
                    yr /= 2;
                    yi /= 2;
                }
                a[0] = round_ld(xr);
                a[1] = round_ld(xi);
                b[0] = round_ld(yr);
                b[1] = round_ld(yi);
            }
        }
    }
}
