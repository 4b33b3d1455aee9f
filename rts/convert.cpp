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

namespace {

enum class Kind { none, i8, i16, i24, i32, f32, f64 };

struct Layout {
    Kind kind = Kind::none;
    unsigned stride = 0;
    unsigned bits = 0;  // significant bits of an integer
};

Layout decode(QZ_Rts_format f) {
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

Loop pick_loop(const Layout& s, const Layout& d) {
    const bool ps = s.stride == size_of(s.kind), pd = d.stride == size_of(d.kind);
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
    const Layout s = decode(src->format), d = decode(dst->format);
    if (s.kind == Kind::none || d.kind == Kind::none || !src->data || !dst->data || src->count < 0) {
        silence(dst);
        return nullptr;
    }
    pick_loop(s, d)(static_cast<const unsigned char*>(src->data), s.stride, s.bits,
                    static_cast<unsigned char*>(dst->data), d.stride, d.bits, src->count);
    return QZ_OK;
}

std::uint32_t QZ_Rts::copyRefusals() { return refusals.load(std::memory_order_relaxed); }
