// Fourier transform effect and the spectral noise gate built from five of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "dsp/effect.h"
#include "dsp/fourier_math.h"

class QZ_Effect_Deline;

class QZ_Fourier_Transform : public QZ_Effect {
public:
    static constexpr int MAX_S = 11;  // N = 4096: the twiddle table covers angles below pi

    ~QZ_Fourier_Transform() override;
    void process() noexcept override;

    // Sets the size exponent (0..MAX_S; anything else is refused, false) and
    // sizes the history (N) and spectrum (2N) buffers.
    bool set_size(int s);
    int size_exponent() const { return s_; }
    // True when a pass at size exponent s can run: that is the size set, and
    // both buffers are live and long enough (commands may re-size them).
    bool fits(int s) const;
    int points() const { return s_ < 0 ? 0 : 2 << s_; }
    QZ_Buffer* spectrum() const { return spectrum_.get(); }
    QZ_Buffer* history() const { return history_.get(); }

    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_w(QZ_Object* obj, QZ_value v);
    static QZ_value m_d(QZ_Object* obj, QZ_value v);
    static QZ_value m_win(QZ_Object* obj, QZ_value v);
    static QZ_value m_s(QZ_Object* obj, QZ_value v);
    static QZ_value m_delete(QZ_Object* obj, QZ_value v);

    double average = 0.0;  // cycles per pass, smoothed
    int counter = 0;       // passes modulo 100
    QZ_Buffer_ref in;
    std::atomic<bool> backward{false};
    std::atomic<int> window{0};  // 0 none, 1 sin

private:
    QZ_Buffer_ref history_;
    QZ_Buffer_ref spectrum_;
    int s_ = -1;  // unset: the transform does nothing
    std::unique_ptr<std::uint32_t[]> reverse_;
    std::unique_ptr<double[]> hann_;
};

class QZ_Fourier_Noisegate : public QZ_Effect {
public:
    QZ_Fourier_Noisegate();
    ~QZ_Fourier_Noisegate() override;
    void process() noexcept override;

    int points() const { return n_; }
    // log2 of the factor by which gains are held below 2097151 so that the
    // unscaled backward transform of N of them cannot overflow (N above 1024).
    int gain_shift() const { return gain_shift_; }

    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_o1(QZ_Object* obj, QZ_value v);
    static QZ_value m_o2(QZ_Object* obj, QZ_value v);
    static QZ_value m_s(QZ_Object* obj, QZ_value v);
    static QZ_value m_a(QZ_Object* obj, QZ_value v);
    static QZ_value m_w(QZ_Object* obj, QZ_value v);
    static QZ_value m_delete(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in;
    QZ_Buffer_ref signal;
    QZ_Buffer_ref o1, o2;
    std::atomic<bool> adapt{false};
    double floor_offset = 0.0;

    // Internal parts (reachable for tests).
    QZ_Fourier_Transform *t1, *t2, *t3, *t4, *t5;
    QZ_Effect_Deline* line;
    QZ_Buffer_ref delayed, floor, gain, half1, half2;

private:
    QZ_value output_option(QZ_Buffer_ref& ref, QZ_Buffer_ref& made, QZ_value v);
    bool fits() const noexcept;
    void filter(std::int32_t* out) noexcept;
    QZ_Buffer_ref made_o1_, made_o2_;
    int n_ = 0;  // bins; 0 until -i gave a usable size
    int s_ = -1;
    int gain_shift_ = 0;
};
