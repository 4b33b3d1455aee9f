// Arithmetic and non-linear effects: two inputs combined (Oper), an input and a
// constant (Koef), floor and ceiling (Gtzero, Ltzero), soft clipping (Dist) and
// the amplitude envelope follower (Ampdet).
#pragma once

#include <atomic>
#include <cstdint>

#include "dsp/effect.h"

// Operation indices of -oper, in word order.
enum : int {
    QZ_OPER_ADD = 0,
    QZ_OPER_SUB = 1,
    QZ_OPER_MUL = 2,
    QZ_OPER_DIV = 3,
    QZ_OPER_COUNT = 4,
};

extern const char* const QZ_oper_words[QZ_OPER_COUNT];

// Fixed-point helpers shared by the arithmetic effects (exposed for tests).
std::int32_t QZ_q24_product(std::int32_t a, std::int32_t b);
// Sign-magnitude Q24 quotient; `zero_negative` makes a 0 count as negative.
std::int32_t QZ_q24_quotient(std::int32_t a, std::int32_t b, bool zero_negative);
std::int32_t QZ_saturating_add(std::int32_t a, std::int32_t b);

class QZ_Effect_Oper : public QZ_Effect {
public:
    void process() noexcept override;
    static QZ_value m_i1(QZ_Object* obj, QZ_value v);
    static QZ_value m_i2(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_oper(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in1, in2, out;
    std::atomic<int> oper{QZ_OPER_ADD};
};

class QZ_Effect_Koef : public QZ_Effect {
public:
    void process() noexcept override;
    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_oper(QZ_Object* obj, QZ_value v);
    static QZ_value m_k(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in, out;
    std::atomic<int> oper{QZ_OPER_ADD};
    std::atomic<std::int32_t> k{0};
};

// Floor at l (Gtzero) or ceiling at l (Ltzero); always writes.
class QZ_Effect_Gtzero : public QZ_Effect {
public:
    void process() noexcept override;
    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_l(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in, out;
    std::atomic<std::int32_t> l{0};
};

class QZ_Effect_Ltzero : public QZ_Effect {
public:
    void process() noexcept override;
    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_l(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in, out;
    std::atomic<std::int32_t> l{0};
};

class QZ_Effect_Dist : public QZ_Effect {
public:
    QZ_Effect_Dist();
    void process() noexcept override;
    void clock_changed() noexcept override;
    void reset() noexcept override { s = 0; }

    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_d(QZ_Object* obj, QZ_value v);
    static QZ_value m_s(QZ_Object* obj, QZ_value v);
    static QZ_value m_k(QZ_Object* obj, QZ_value v);
    static QZ_value m_l(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in, out;
    std::int32_t s = 0;  // offset state
    std::atomic<std::int32_t> r{0x4000000};
    std::atomic<float> rate{0.0f};
    std::atomic<std::int32_t> d{0x1000000};
    std::atomic<std::int32_t> b{0};
    std::atomic<std::int32_t> e{0};
    std::atomic<std::int32_t> flags{0};
    std::atomic<double> softness{0.5};

private:
    void recompute_bounds();
    void recompute_rate();
};

class QZ_Effect_Ampdet : public QZ_Effect {
public:
    void process() noexcept override;
    void clock_changed() noexcept override;
    void reset() noexcept override { y = 0; }

    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_a(QZ_Object* obj, QZ_value v);
    static QZ_value m_f1(QZ_Object* obj, QZ_value v);
    static QZ_value m_f2(QZ_Object* obj, QZ_value v);

    // Coefficient of a follower frequency at a clock (0x7FFFFFFF for f = 0).
    static std::int32_t coefficient(float f, std::int32_t clock);

    QZ_Buffer_ref in, out, rect;
    std::atomic<float> f1{0.0f}, f2{0.0f};
    std::atomic<std::int32_t> k1{0}, k2{0};
    std::int32_t y = 0;  // envelope
};
