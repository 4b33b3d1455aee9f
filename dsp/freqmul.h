// Frequency multipliers: every period between upward zero crossings is stored
// k times in a ring that is read back k times faster. Both work on the main
// blocks directly and take no part in the switch crossfade.
#pragma once

#include <atomic>
#include <cstdint>

#include "dsp/effect.h"

// Factors are limited to 1..QZ_FREQMUL_MAX_K: below 1 the repetition count and
// read step make no sense, and larger factors only overwrite the whole ring
// many times per crossing.
constexpr std::int32_t QZ_FREQMUL_MAX_K = 256;

class QZ_Effect_Freqmul : public QZ_Effect {
public:
    static constexpr std::int32_t RING = 16384;

    void process() noexcept override;

    // Output delay in samples for a block of n: trunc(clock * g + n * k).
    std::int32_t delay(std::int32_t n) const;

    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_k(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in, out;
    std::atomic<std::int32_t> k{2};
    float g = 0.02f;
    std::int32_t w = 0, read = 0, last = 0;
    QZ_Samples ring = QZ_zeroed_samples(RING);
    std::int32_t prev = -1;
};

class QZ_Effect_Nefreqmul : public QZ_Effect {
public:
    static constexpr std::int32_t RING = 32768;

    void process() noexcept override;
    void reset() noexcept override;

    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_k(QZ_Object* obj, QZ_value v);
    static QZ_value m_rand(QZ_Object* obj, QZ_value v);
    static QZ_value m_stab(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in, out;
    std::atomic<std::int32_t> k{2};
    float g = 0.02f;
    std::int32_t w = 0, read = 0, last = 0;
    QZ_Samples ring = QZ_zeroed_samples(RING);
    std::int32_t prev = -1;
    double slope = 0.0;
    std::atomic<double> accept{0.6};
    std::atomic<double> stab{0.7};
};
