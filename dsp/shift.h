// The 8x oversampler and the two-head pitch shifters.
#pragma once

#include <atomic>
#include <cstdint>

#include "dsp/effect.h"

class QZ_Effect_Oversam : public QZ_Effect {
public:
    void process() noexcept override;
    void reset() noexcept override { s0 = s1 = s2 = d0 = d1 = 0; }

    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_k(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in, out;
    std::atomic<std::int32_t> factor{1};  // reported only; the factor used is always 8
    std::int32_t s0 = 0, s1 = 0, s2 = 0, d0 = 0, d1 = 0;
};

// Shared state of the shifters. The phase and period are Q14 positions.
class QZ_Shifter_Base : public QZ_Effect {
public:
    static constexpr std::int32_t HISTORY = 8192;
    static constexpr std::int32_t DEFAULT_PERIOD = 8388608;  // 512 samples

    void clock_changed() noexcept override;
    void reset() noexcept override;

    // sin^2 window weight of a Q14 position within a head's span of 2P.
    static double weight(std::int64_t pos, std::int64_t period);

    QZ_Buffer_ref in, out;
    std::int32_t w = 0;
    std::atomic<std::int32_t> phase{0};
    std::atomic<std::int32_t> speed{0};
    std::atomic<std::int32_t> period{DEFAULT_PERIOD};
    std::int32_t a[HISTORY] = {};
    std::int32_t b[HISTORY] = {};

protected:
    // Advances and wraps the phase into 0..P-1 (one step for |s| < P, as many
    // as needed otherwise).
    static std::int64_t advance(std::int64_t phi, std::int64_t s, std::int64_t p);
};

class QZ_Effect_Shift : public QZ_Shifter_Base {
public:
    void process() noexcept override;
    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_s(QZ_Object* obj, QZ_value v);
    static QZ_value m_p(QZ_Object* obj, QZ_value v);
};

class QZ_Effect_Nshift : public QZ_Shifter_Base {
public:
    void process() noexcept override;
    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_s(QZ_Object* obj, QZ_value v);
    static QZ_value m_p(QZ_Object* obj, QZ_value v);
};
