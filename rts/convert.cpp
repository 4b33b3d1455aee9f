// Sample conversion between channel formats.
//
// Every sample goes through two working values, an integer v with the sample's
// significant bits at the top of 32 bits and a real x clamped to [-1, 1]:
// integer sources fill v by shifting and x = v / (2^31 - 1); float sources fill x
// and v = trunc(x * (2^31 - 1)). Integer destinations take v shifted back down,
// float destinations take x. So integer-to-integer copies are exact to the
// narrower width, full-scale integers map to +-1.0, and floats are clamped (NaN to
// -1.0) before they are narrowed.
//
// A call that cannot convert (channels of different count, a format word that
// cannot be read or written, no data) converts nothing and returns null; the
// destination then holds silence when it can be written, so that a driver never
// plays whatever its output block held before.
#include <atomic>
#include <cmath>
#include <cstring>

#include "rts/rts.h"
#include "rts/convert_paths.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// AVX loops only where 32-byte stack slots are sure to be aligned (not the
// 32-bit Windows build).
#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
// GCC 12 warns inside its own AVX-512 header (its "undefined" register values).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#define QZ_RTS_AVX2 1
#endif

namespace {

enum class Kind { none, i8, i16, i24, i32, f32, f64 };

struct Layout {
    Kind kind = Kind::none;
    unsigned stride = 0;
    unsigned bits = 0;  // significant bits of an integer
};

// Inline: a call returning the layout builds it on the stack and reads it back
// in one wider load, which stalls on every block.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline Layout decode(QZ_Rts_format f) {
    Layout l;
    const unsigned stride = QZ_rts_format_stride(f), bits = QZ_rts_format_bits(f), pad = QZ_rts_format_padding(f);
    unsigned size = 0;
    if (QZ_rts_format_is_float(f)) {
        if (pad != 0) return l;
        if (bits == 32) l.kind = Kind::f32, size = 4;
        else if (bits == 64) l.kind = Kind::f64, size = 8;
        else return l;
    } else {
        const unsigned total = bits + pad;
        if (bits == 0 || total % 8 != 0) return l;
        switch (total / 8) {
        case 1: l.kind = Kind::i8; break;
        case 2: l.kind = Kind::i16; break;
        case 3: l.kind = Kind::i24; break;
        case 4: l.kind = Kind::i32; break;
        default: return l;
        }
        size = total / 8;
    }
    // Samples that overlap are not a layout any device uses.
    if (stride < size) return Layout{};
    l.stride = stride;
    l.bits = bits;
    return l;
}

constexpr unsigned size_of(Kind k) {
    switch (k) {
    case Kind::i8: return 1;
    case Kind::i16: return 2;
    case Kind::i24: return 3;
    case Kind::i32: return 4;
    case Kind::f32: return 4;
    case Kind::f64: return 8;
    default: return 0;
    }
}

constexpr bool is_int(Kind k) { return k == Kind::i8 || k == Kind::i16 || k == Kind::i24 || k == Kind::i32; }

template <Kind K>
inline std::int32_t read_int(const unsigned char* p) {
    if constexpr (K == Kind::i8) {
        return static_cast<std::int8_t>(p[0]);
    } else if constexpr (K == Kind::i16) {
        std::int16_t s;
        std::memcpy(&s, p, 2);
        return s;
    } else if constexpr (K == Kind::i24) {
        // Low and middle bytes unsigned, top byte signed: a sign-extended 24-bit value.
        return static_cast<std::int32_t>(p[0] | p[1] << 8 | static_cast<std::uint32_t>(p[2]) << 16) << 8 >> 8;
    } else {
        std::int32_t s;
        std::memcpy(&s, p, 4);
        return s;
    }
}

template <Kind K>
inline void write_int(unsigned char* p, std::int32_t v) {
    if constexpr (K == Kind::i8) {
        p[0] = static_cast<unsigned char>(v);
    } else if constexpr (K == Kind::i16) {
        const std::int16_t s = static_cast<std::int16_t>(v);
        std::memcpy(p, &s, 2);
    } else if constexpr (K == Kind::i24) {
        p[0] = static_cast<unsigned char>(v);
        p[1] = static_cast<unsigned char>(v >> 8);
        p[2] = static_cast<unsigned char>(v >> 16);
    } else {
        std::memcpy(p, &v, 4);
    }
}

inline double clamp(double x) {
    if (x > 1.0) return 1.0;
    if (!(x >= -1.0)) return -1.0;  // NaN included
    return x;
}

// v / (2^31 - 1) with the factor and the product in extended precision, rounded
// once to double.
inline double int_to_real(std::int32_t v) {
    static constexpr long double factor = 1.0L / 2147483647.0L;
    return static_cast<double>(static_cast<long double>(v) * factor);
}

// The inner loop for one pair of kinds. SS and DS are the strides when they are
// known at compile time (packed samples), 0 when they are taken from the words.
template <Kind S, Kind D, unsigned SS, unsigned DS>
void convert(const unsigned char* src, unsigned src_stride, unsigned src_bits, unsigned char* dst,
             unsigned dst_stride, unsigned dst_bits, std::int32_t count) {
    if constexpr (SS != 0) src_stride = SS;
    if constexpr (DS != 0) dst_stride = DS;
    const unsigned up = 32 - src_bits, down = 32 - dst_bits;
    for (std::int32_t k = 0; k < count; ++k, src += src_stride, dst += dst_stride) {
        if constexpr (is_int(S)) {
            const std::int32_t v = static_cast<std::int32_t>(static_cast<std::uint32_t>(read_int<S>(src)) << up);
            if constexpr (is_int(D)) {
                write_int<D>(dst, v >> down);
            } else if constexpr (D == Kind::f32) {
                float f;
                if (src_bits <= 24) {
                    // At most 24 significant bits: v / 2^31 is exact in a float and is
                    // what rounding v / (2^31 - 1) gives (the clamp only meets -2^31,
                    // which gives -1.0 both ways).
                    f = static_cast<float>(v) * (1.0f / 2147483648.0f);
                } else {
                    f = static_cast<float>(clamp(int_to_real(v)));
                }
                std::memcpy(dst, &f, 4);
            } else {
                const double x = clamp(int_to_real(v));
                std::memcpy(dst, &x, 8);
            }
        } else {
            double x;
            if constexpr (S == Kind::f32) {
                float f;
                std::memcpy(&f, src, 4);
                x = f;
            } else {
                std::memcpy(&x, src, 8);
            }
            x = clamp(x);
            if constexpr (is_int(D)) {
                const std::int32_t v = static_cast<std::int32_t>(x * 2147483647.0);
                write_int<D>(dst, v >> down);
            } else if constexpr (D == Kind::f32) {
                const float f = static_cast<float>(x);
                std::memcpy(dst, &f, 4);
            } else {
                std::memcpy(dst, &x, 8);
            }
        }
    }
}

using Loop = void (*)(const unsigned char*, unsigned, unsigned, unsigned char*, unsigned, unsigned, std::int32_t);

template <Kind S, Kind D>
Loop pick(bool packed_src, bool packed_dst) {
    constexpr unsigned ss = size_of(S), ds = size_of(D);
    if (packed_src && packed_dst) return convert<S, D, ss, ds>;
    if (packed_src) return convert<S, D, ss, 0>;
    if (packed_dst) return convert<S, D, 0, ds>;
    return convert<S, D, 0, 0>;
}

template <Kind S>
Loop pick_dst(Kind d, bool ps, bool pd) {
    switch (d) {
    case Kind::i8: return pick<S, Kind::i8>(ps, pd);
    case Kind::i16: return pick<S, Kind::i16>(ps, pd);
    case Kind::i24: return pick<S, Kind::i24>(ps, pd);
    case Kind::i32: return pick<S, Kind::i32>(ps, pd);
    case Kind::f32: return pick<S, Kind::f32>(ps, pd);
    case Kind::f64: return pick<S, Kind::f64>(ps, pd);
    default: return nullptr;
    }
}

#if defined(__SSE2__)
// Packed layouts that hosts convert every block, four or eight samples at a time;
// the tail goes through the general loop. They give exactly what it gives.

// 16 significant bits: s / 2^15 is exact in a float.
void int16_to_float(const unsigned char* src, unsigned, unsigned, unsigned char* dst, unsigned, unsigned,
                    std::int32_t count) {
    const __m128 scale = _mm_set1_ps(1.0f / 2147483648.0f);
    const __m128i zero = _mm_setzero_si128();
    std::int32_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * k));
        // Interleaving zero words below the samples puts each at the top of 32 bits.
        const __m128 lo = _mm_cvtepi32_ps(_mm_unpacklo_epi16(zero, x));
        const __m128 hi = _mm_cvtepi32_ps(_mm_unpackhi_epi16(zero, x));
        _mm_storeu_ps(reinterpret_cast<float*>(dst + 4 * k), _mm_mul_ps(lo, scale));
        _mm_storeu_ps(reinterpret_cast<float*>(dst + 4 * k + 16), _mm_mul_ps(hi, scale));
    }
    convert<Kind::i16, Kind::f32, 2, 4>(src + 2 * k, 2, 16, dst + 4 * k, 4, 32, count - k);
}

// 24 significant bits in three bytes: each sample's bytes moved to the top three
// bytes of a 32-bit lane, then scaled like the 16-bit ones.
void int24_to_float(const unsigned char* src, unsigned, unsigned, unsigned char* dst, unsigned, unsigned,
                    std::int32_t count) {
    const __m128 scale = _mm_set1_ps(1.0f / 2147483648.0f);
    std::int32_t k = 0;
    // A 16-byte load from sample k stays inside the block while k + 6 <= count.
    for (; k + 6 <= count; k += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * k));
        const __m128i ab = _mm_unpacklo_epi32(x, _mm_srli_si128(x, 3));
        const __m128i cd = _mm_unpacklo_epi32(_mm_srli_si128(x, 6), _mm_srli_si128(x, 9));
        const __m128i v = _mm_slli_epi32(_mm_unpacklo_epi64(ab, cd), 8);
        _mm_storeu_ps(reinterpret_cast<float*>(dst + 4 * k), _mm_mul_ps(_mm_cvtepi32_ps(v), scale));
    }
    convert<Kind::i24, Kind::f32, 3, 4>(src + 3 * k, 3, 24, dst + 4 * k, 4, 32, count - k);
}

// Clamp in doubles (maxpd gives its second operand for a NaN, so NaN becomes
// -1.0), scale by 2^31 - 1, truncate.
void float_to_int32(const unsigned char* src, unsigned, unsigned, unsigned char* dst, unsigned, unsigned,
                    std::int32_t count) {
    const __m128d low = _mm_set1_pd(-1.0), high = _mm_set1_pd(1.0), scale = _mm_set1_pd(2147483647.0);
    std::int32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m128 f = _mm_loadu_ps(reinterpret_cast<const float*>(src + 4 * k));
        __m128d a = _mm_cvtps_pd(f), b = _mm_cvtps_pd(_mm_movehl_ps(f, f));
        a = _mm_mul_pd(_mm_min_pd(_mm_max_pd(a, low), high), scale);
        b = _mm_mul_pd(_mm_min_pd(_mm_max_pd(b, low), high), scale);
        const __m128i v = _mm_unpacklo_epi64(_mm_cvttpd_epi32(a), _mm_cvttpd_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * k), v);
    }
    convert<Kind::f32, Kind::i32, 4, 4>(src + 4 * k, 4, 32, dst + 4 * k, 4, 32, count - k);
}
#endif

#if defined(QZ_RTS_AVX2)
// The same three with eight samples per step, on processors that have AVX2.
__attribute__((target("avx2"))) void int16_to_float_avx2(const unsigned char* src, unsigned, unsigned,
                                                          unsigned char* dst, unsigned, unsigned,
                                                          std::int32_t count) {
    const __m256 scale = _mm256_set1_ps(1.0f / 32768.0f);
    std::int32_t k = 0;
    for (; k + 16 <= count; k += 16) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * k));
        const __m256 lo = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_castsi256_si128(x)));
        const __m256 hi = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_extracti128_si256(x, 1)));
        _mm256_storeu_ps(reinterpret_cast<float*>(dst + 4 * k), _mm256_mul_ps(lo, scale));
        _mm256_storeu_ps(reinterpret_cast<float*>(dst + 4 * k + 32), _mm256_mul_ps(hi, scale));
    }
    convert<Kind::i16, Kind::f32, 2, 4>(src + 2 * k, 2, 16, dst + 4 * k, 4, 32, count - k);
}

__attribute__((target("avx2"))) void int24_to_float_avx2(const unsigned char* src, unsigned, unsigned,
                                                          unsigned char* dst, unsigned, unsigned,
                                                          std::int32_t count) {
    const __m256 scale = _mm256_set1_ps(1.0f / 2147483648.0f);
    // Per 32-bit lane: a zero byte, then the sample's three bytes.
    const __m256i order = _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1,
                                           3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
    std::int32_t k = 0;
    // The second 16-byte load ends 28 bytes after sample k: inside while k + 10 <= count.
    for (; k + 10 <= count; k += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * k + 12));
        const __m256i v = _mm256_shuffle_epi8(_mm256_set_m128i(b, a), order);
        _mm256_storeu_ps(reinterpret_cast<float*>(dst + 4 * k), _mm256_mul_ps(_mm256_cvtepi32_ps(v), scale));
    }
    convert<Kind::i24, Kind::f32, 3, 4>(src + 3 * k, 3, 24, dst + 4 * k, 4, 32, count - k);
}

// Without doubles: with c the clamped sample and a = |c| 2^31 (exact), the
// rule's trunc(|c| (2^31 - 1)) = trunc(a - |c|) is trunc(a), less one where the
// fraction of a is below |c|. The double product of the rule rounds, but never
// across an integer: the distance to one is at least c's own last bit, far
// above the rounding. 2^31 itself truncates to the word 0x80000000, which less
// one is the right 0x7FFFFFFF. The sign goes on last, from the sample held
// only at -1 (NaN gives -1 there): psignd negates where it is negative and
// leaves the zero of a -0.0 alone. Ten vector operations per eight samples.
__attribute__((target("avx2"))) void float_to_int32_avx2(const unsigned char* src, unsigned, unsigned,
                                                          unsigned char* dst, unsigned, unsigned,
                                                          std::int32_t count) {
    const __m256 low = _mm256_set1_ps(-1.0f), high = _mm256_set1_ps(1.0f);
    const __m256 scale = _mm256_set1_ps(2147483648.0f), sign = _mm256_set1_ps(-0.0f);
    std::int32_t k = 0;
    for (; k + 8 <= count; k += 8) {
        // maxps gives its second operand for a NaN: -1.
        const __m256 c = _mm256_max_ps(_mm256_loadu_ps(reinterpret_cast<const float*>(src + 4 * k)), low);
        const __m256 mag = _mm256_min_ps(_mm256_andnot_ps(sign, c), high);
        const __m256 a = _mm256_mul_ps(mag, scale);
        const __m256 whole = _mm256_round_ps(a, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m256i below = _mm256_castps_si256(_mm256_cmp_ps(_mm256_sub_ps(a, whole), mag, _CMP_LT_OQ));
        const __m256i m = _mm256_add_epi32(_mm256_cvttps_epi32(a), below);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * k), _mm256_sign_epi32(m, _mm256_castps_si256(c)));
    }
    convert<Kind::f32, Kind::i32, 4, 4>(src + 4 * k, 4, 32, dst + 4 * k, 4, 32, count - k);
}

bool has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}

// Sixteen at a time where AVX-512 is there: a whole register of floats widens
// into one of doubles.
__attribute__((target("avx512f"))) void float_to_int32_avx512(const unsigned char* src, unsigned, unsigned,
                                                               unsigned char* dst, unsigned, unsigned,
                                                               std::int32_t count) {
    const __m512 low = _mm512_set1_ps(-1.0f), high = _mm512_set1_ps(1.0f);
    const __m512d scale = _mm512_set1_pd(2147483647.0);
    std::int32_t k = 0;
    for (; k + 16 <= count; k += 16) {
        const __m512 f = _mm512_min_ps(_mm512_max_ps(_mm512_loadu_ps(src + 4 * k), low), high);
        const __m512d a = _mm512_mul_pd(_mm512_cvtps_pd(_mm512_castps512_ps256(f)), scale);
        const __m512d b = _mm512_mul_pd(
            _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(f), 1))), scale);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * k), _mm512_cvttpd_epi32(a));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * k + 32), _mm512_cvttpd_epi32(b));
    }
    convert<Kind::f32, Kind::i32, 4, 4>(src + 4 * k, 4, 32, dst + 4 * k, 4, 32, count - k);
}

bool has_avx512() {
    static const bool yes = __builtin_cpu_supports("avx512f");
    return yes;
}
#endif

std::atomic<int> vector_limit{512};
Loop pick_loop(const Layout& s, const Layout& d);

// The packed pairs that drivers convert every block, with their loops once
// chosen (cleared when a test changes the width): no decoding per call.
std::atomic<Loop> hot_loops[3];

Loop hot_loop(QZ_Rts_format s, QZ_Rts_format d) {
    const int pair = d == QZ_RTS_FLOAT32 ? (s == QZ_RTS_INT16 ? 0 : s == QZ_RTS_INT24 ? 1 : -1)
                                         : (s == QZ_RTS_FLOAT32 && d == QZ_RTS_INT32 ? 2 : -1);
    if (pair < 0) return nullptr;
    Loop f = hot_loops[pair].load(std::memory_order_relaxed);
    if (!f) {
        f = pick_loop(decode(s), decode(d));
        hot_loops[pair].store(f, std::memory_order_relaxed);
    }
    return f;
}

Loop pick_loop(const Layout& s, const Layout& d) {
    const bool ps = s.stride == size_of(s.kind), pd = d.stride == size_of(d.kind);
    const int width = vector_limit.load(std::memory_order_relaxed);
#if defined(QZ_RTS_AVX2)
    if (width >= 512 && ps && pd && has_avx512() && s.kind == Kind::f32 && d.kind == Kind::i32 && d.bits == 32)
        return float_to_int32_avx512;
    if (width >= 256 && ps && pd && has_avx2()) {
        if (d.kind == Kind::f32 && s.kind == Kind::i16 && s.bits == 16) return int16_to_float_avx2;
        if (d.kind == Kind::f32 && s.kind == Kind::i24 && s.bits == 24) return int24_to_float_avx2;
        if (s.kind == Kind::f32 && d.kind == Kind::i32 && d.bits == 32) return float_to_int32_avx2;
    }
#endif
#if defined(__SSE2__)
    if (width >= 128 && ps && pd) {
        if (d.kind == Kind::f32 && s.kind == Kind::i16 && s.bits == 16) return int16_to_float;
        if (d.kind == Kind::f32 && s.kind == Kind::i24 && s.bits == 24) return int24_to_float;
        if (s.kind == Kind::f32 && d.kind == Kind::i32 && d.bits == 32) return float_to_int32;
    }
#endif
    switch (s.kind) {
    case Kind::i8: return pick_dst<Kind::i8>(d.kind, ps, pd);
    case Kind::i16: return pick_dst<Kind::i16>(d.kind, ps, pd);
    case Kind::i24: return pick_dst<Kind::i24>(d.kind, ps, pd);
    case Kind::i32: return pick_dst<Kind::i32>(d.kind, ps, pd);
    case Kind::f32: return pick_dst<Kind::f32>(d.kind, ps, pd);
    case Kind::f64: return pick_dst<Kind::f64>(d.kind, ps, pd);
    default: return nullptr;
    }
}

// Zero in every format this file writes is all bits clear.
void silence(QZ_Rts::Chan* dst) {
    if (!dst || !dst->data || dst->count <= 0) return;
    const Layout d = decode(dst->format);
    if (d.kind == Kind::none) return;
    unsigned char* p = static_cast<unsigned char*>(dst->data);
    const unsigned size = size_of(d.kind);
    if (d.stride == size) {
        std::memset(p, 0, static_cast<std::size_t>(size) * static_cast<std::size_t>(dst->count));
        return;
    }
    for (std::int32_t k = 0; k < dst->count; ++k, p += d.stride) std::memset(p, 0, size);
}

std::atomic<std::uint32_t> refusals{0};

}  // namespace

QZ_error QZ_Rts::copyBuffer(Chan* dst, Chan* src) {
    if (!dst) return nullptr;
    if (!src || src->count != dst->count) {
        refusals.fetch_add(1, std::memory_order_relaxed);
        silence(dst);
        return nullptr;
    }
    if (src->data && dst->data && src->count >= 0)
        if (const Loop f = hot_loop(src->format, dst->format)) {
            f(static_cast<const unsigned char*>(src->data), QZ_rts_format_stride(src->format),
              QZ_rts_format_bits(src->format), static_cast<unsigned char*>(dst->data),
              QZ_rts_format_stride(dst->format), QZ_rts_format_bits(dst->format), src->count);
            return QZ_OK;
        }
    const Layout s = decode(src->format), d = decode(dst->format);
    if (s.kind == Kind::none || d.kind == Kind::none || !src->data || !dst->data || src->count < 0) {
        silence(dst);
        return nullptr;
    }
    pick_loop(s, d)(static_cast<const unsigned char*>(src->data), s.stride, s.bits,
                    static_cast<unsigned char*>(dst->data), d.stride, d.bits, src->count);
    return QZ_OK;
}

void QZ_rts_limit_vector_width(int bits) {
    vector_limit.store(bits);
    for (std::atomic<Loop>& f : hot_loops) f.store(nullptr);
}

std::uint32_t QZ_Rts::copyRefusals() { return refusals.load(std::memory_order_relaxed); }
