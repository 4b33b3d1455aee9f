// Generators: effects without input that fill their output block each pass.
#pragma once

#include <atomic>
#include <cstdint>

#include "dsp/effect.h"

// The process-wide noise source: a 64-bit linear congruential state, seeded
// with 1 at start (state 22695478 after the seeding step). Each draw returns
// bits 32..62 of the advanced state. Lock-free; draws from several threads
// each get distinct states.
std::int32_t QZ_noise_draw();
// Puts the generator back to its start-up state (tests).
void QZ_noise_reseed();
// Fills out[n-1] down to out[0] with (draw mod 32768 - 16384) * 65536.
void QZ_noise_fill(std::int32_t* out, std::int32_t n);

class QZ_Gener : public QZ_Effect {
public:
    // Puts the generator back to its starting point.
    virtual void restart() noexcept {}
};

class QZ_Gener_White : public QZ_Gener {
public:
    void process() noexcept override;
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    QZ_Buffer_ref out;
};

// Holds 2^25 for `beg` seconds, then decays as exp(-(t - beg) / time).
class QZ_Gener_Exp : public QZ_Gener {
public:
    void process() noexcept override;
    void restart() noexcept override { counter = 0; }

    static QZ_value m_beg(QZ_Object* obj, QZ_value v);
    static QZ_value m_time(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref out;
    std::atomic<float> beg{0.0f};
    std::atomic<float> time{1.0f};
    std::int32_t counter = 0;
};
