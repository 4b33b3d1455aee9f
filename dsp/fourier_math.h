// Fixed-point radix-2 transform on interleaved complex 32-bit data: the
// twiddle table, bit reversal and the butterfly stages.
#pragma once

#include <cstdint>

// 2048 (cos, sin) pairs of the angles k*pi/2048, scaled by 2147483647 and
// truncated; built once per process on first use.
const std::int32_t* QZ_fourier_twiddles();

// Index i with its low `bits` bits in reverse order.
inline std::uint32_t QZ_fourier_reverse(std::uint32_t i, int bits) {
    std::uint32_t r = 0;
    for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1u) << (bits - 1 - b);
    return r;
}

// Runs the s + 1 butterfly stages in place over N = 2^(s+1) complex values
// (2N words, real part first) already in bit-reversed order. Forward halves
// at every stage; both round each result to the nearest integer, ties to
// even, and saturate it to the 32-bit range. s must be 0..11.
void QZ_fourier_butterflies(std::int32_t* data, int s, bool forward);

// The portable integer path alone (what processors without AVX2 run); the
// result is the same as QZ_fourier_butterflies'.
void QZ_fourier_butterflies_scalar(std::int32_t* data, int s, bool forward);

// The same stages evaluated directly in extended precision; the definition
// the integer version must match bit for bit (tests and benchmarks).
void QZ_fourier_butterflies_reference(std::int32_t* data, int s, bool forward);
