#include "dsp/fourier.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "dsp/classes.h"
#include "dsp/deline.h"
#include "dsp/soundpipe.h"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace {

std::uint64_t cycle_count() {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

// Internal buffers are ordinary buffers that commands may query; they are
// made outside any pipe under construction.
QZ_Buffer* make_buffer(std::int32_t length) {
    QZ_Soundpipe* saved = QZ_Soundpipe::current();
    QZ_Soundpipe::set_current(nullptr);
    auto* b = new QZ_Buffer;
    QZ_Soundpipe::set_current(saved);
    b->descriptor = &QZ_Buffer_class;
    b->set_length(length);
    return b;
}

void adopt(QZ_Buffer_ref& ref, QZ_Buffer* b) {
    ref.ptr = b;
    ref.handle = QZ_handle_of(b);
}

void destroy(QZ_Buffer_ref& ref) {
    delete ref.get();
    ref = QZ_Buffer_ref{};
}

std::int32_t wneg(std::int32_t v) { return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(v)); }

}  // namespace

// ------------------------------------------------------------- transform

QZ_Fourier_Transform::~QZ_Fourier_Transform() {
    destroy(history_);
    destroy(spectrum_);
}

bool QZ_Fourier_Transform::set_size(int s) {
    if (s < 0 || s > MAX_S) return false;
    const std::int32_t n = 2 << s;
    if (!spectrum_.get())
        adopt(spectrum_, make_buffer(2 * n));
    else
        spectrum_.get()->set_length(2 * n);
    if (!history_.get())
        adopt(history_, make_buffer(n));
    else
        history_.get()->set_length(n);
    reverse_.reset(new std::uint32_t[n]);
    hann_.reset(new double[n]);
    for (std::int32_t i = 0; i < n; ++i) {
        reverse_[i] = QZ_fourier_reverse(static_cast<std::uint32_t>(i), s + 1);
        const double w = std::sin(i * 3.141592653589793 / n);
        hann_[i] = w * w;
    }
    s_ = s;
    return true;
}

bool QZ_Fourier_Transform::fits(int s) const {
    if (s < 0 || s != s_) return false;
    const QZ_Buffer* hb = history_.get();
    const QZ_Buffer* sb = spectrum_.get();
    const std::int32_t n_points = 2 << s;
    return hb && sb && hb->frames() >= n_points && sb->frames() >= 2 * n_points;
}

void QZ_Fourier_Transform::process() noexcept {
    QZ_Buffer* bi = in.get();
    QZ_Buffer* hb = history_.get();
    QZ_Buffer* sb = spectrum_.get();
    if (!bi || !fits(s_)) return;
    const std::int32_t n_points = 2 << s_;
    const bool back = backward.load(std::memory_order_relaxed);
    const std::int32_t n = bi->frames();
    const std::int32_t* x = samples(this, bi);
    std::int32_t* t = samples(this, sb);
    if (!x || !t) return;
    const std::uint32_t* rev = reverse_.get();
    if (!back) {
        std::int32_t* h = hb->main_block();
        std::int32_t pos = hb->position;
        if (pos < 0 || pos >= n_points) pos = 0;
        for (std::int32_t i = 0; i < n; ++i) {
            h[pos] = x[i];
            pos = pos + 1 == n_points ? 0 : pos + 1;
        }
        hb->position = pos;
        const bool sin_window = window.load(std::memory_order_relaxed) == 1;
        for (std::int32_t i = 0; i < n_points; ++i) {
            const std::int32_t v = h[(pos + i) & (n_points - 1)];
            const std::int32_t r = static_cast<std::int32_t>(2 * rev[i]);
            t[r] = sin_window ? static_cast<std::int32_t>(v * hann_[i]) : v;
            t[r + 1] = 0;
        }
    } else {
        // N complex inputs are needed, and reading and writing one block would
        // scramble it: refuse both.
        if (n < 2 * n_points || x == t) return;
        for (std::int32_t i = 0; i < n_points; ++i) {
            const std::int32_t r = static_cast<std::int32_t>(2 * rev[i]);
            t[r] = x[2 * i];
            t[r + 1] = wneg(x[2 * i + 1]);
        }
    }
    const std::uint64_t c0 = cycle_count();
    QZ_fourier_butterflies(t, s_, !back);
    const std::uint64_t c1 = cycle_count();
    average = 0.01 * static_cast<double>(c1 - c0) + 0.99 * average;
    counter = (counter + 1) % 100;
    if (debug() && counter == 0) std::printf("%f\n", average);
}

QZ_value QZ_Fourier_Transform::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Fourier_Transform*>(obj)->in.option(v);
}

QZ_value QZ_Fourier_Transform::m_w(QZ_Object* obj, QZ_value) {
    return QZ_value::object(QZ_handle_of(static_cast<QZ_Fourier_Transform*>(obj)->spectrum_.get()));
}

QZ_value QZ_Fourier_Transform::m_d(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Fourier_Transform*>(obj);
    if (v.type == QZ_T_STRING && v.word.s) {
        if (std::strcmp(v.word.s, "forward") == 0)
            e->backward.store(false, std::memory_order_relaxed);
        else if (std::strcmp(v.word.s, "backward") == 0)
            e->backward.store(true, std::memory_order_relaxed);
    }
    return QZ_value::text(e->backward.load(std::memory_order_relaxed) ? "backward" : "forward");
}

QZ_value QZ_Fourier_Transform::m_win(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Fourier_Transform*>(obj);
    if (v.type == QZ_T_STRING && v.word.s) {
        if (std::strcmp(v.word.s, "none") == 0)
            e->window.store(0, std::memory_order_relaxed);
        else if (std::strcmp(v.word.s, "sin") == 0)
            e->window.store(1, std::memory_order_relaxed);
    }
    return QZ_value::text(e->window.load(std::memory_order_relaxed) == 1 ? "sin" : "none");
}

QZ_value QZ_Fourier_Transform::m_s(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Fourier_Transform*>(obj);
    if (v.present()) e->set_size(v.as_int());
    return QZ_value::integer(e->s_);
}

QZ_value QZ_Fourier_Transform::m_delete(QZ_Object* obj, QZ_value v) { return QZ_Effect::m_delete(obj, v); }

// ------------------------------------------------------------ noise gate

namespace {

QZ_Fourier_Transform* make_part(bool backward, int window) {
    auto* t = new QZ_Fourier_Transform;
    t->backward.store(backward);
    t->window.store(window);
    return t;
}

}  // namespace

QZ_Fourier_Noisegate::QZ_Fourier_Noisegate() {
    // The parts are run by the gate alone, in its order: keep them out of any
    // pipe under construction.
    QZ_Soundpipe* saved = QZ_Soundpipe::current();
    QZ_Soundpipe::set_current(nullptr);
    t4 = make_part(false, 1);
    t5 = make_part(false, 0);
    t1 = make_part(true, 0);
    t2 = make_part(false, 0);
    t3 = make_part(false, 0);
    line = new QZ_Effect_Deline;
    QZ_Soundpipe::set_current(saved);

    adopt(delayed, make_buffer(0));
    t5->in = delayed;
    QZ_Effect_Deline::m_g(line, QZ_EMPTY);
    QZ_Effect_Deline::m_ga(line, QZ_value::integer(1));
    QZ_Effect_Deline::m_go(line, QZ_value::object(delayed.handle));
    QZ_Effect_Deline::m_d(line, QZ_EMPTY);
    QZ_Effect_Deline::m_da(line, QZ_value::integer(1));
    QZ_Effect_Deline::m_dt(line, QZ_value::integer(512));
}

QZ_Fourier_Noisegate::~QZ_Fourier_Noisegate() {
    delete t1;
    delete t2;
    delete t3;
    delete t4;
    delete t5;
    delete line;
    destroy(delayed);
    destroy(floor);
    destroy(gain);
    destroy(half1);
    destroy(half2);
    destroy(made_o1_);
    destroy(made_o2_);
}

namespace {
inline double re_of(const std::int32_t* z, std::int32_t i) { return z[2 * i]; }
inline double im_of(const std::int32_t* z, std::int32_t i) { return z[2 * i + 1]; }
}  // namespace

// Everything a pass reads or writes, checked once per pass: the internal
// buffers are ordinary buffers that a command may re-size or delete by handle.
bool QZ_Fourier_Noisegate::fits() const noexcept {
    if (n_ == 0) return false;
    const QZ_Buffer* bi = in.get();
    const QZ_Buffer* fb = floor.get();
    const QZ_Buffer* gb = gain.get();
    const QZ_Buffer* h1 = half1.get();
    const QZ_Buffer* h2 = half2.get();
    if (!bi || !signal.get() || !delayed.get() || !fb || !gb || !h1 || !h2) return false;
    if (bi->frames() < 2 * n_ || fb->frames() < n_ / 2 + 1 || gb->frames() < 2 * n_) return false;
    // The halves are the inputs of T2 and T3: exactly N samples each.
    if (h1->frames() != n_ || h2->frames() != n_) return false;
    for (const QZ_Fourier_Transform* t : {t1, t2, t3, t4, t5})
        if (!t->fits(s_)) return false;
    return true;
}

// out[i] = in[i] * conj(H2[i]) * k + H5[i] * conj(H3[i]) * k over N bins; k
// undoes the gains' scale. Runs only after fits().
void QZ_Fourier_Noisegate::filter(std::int32_t* out) noexcept {
    if (!out) return;
    const std::int32_t* a = samples(this, in.get());
    const std::int32_t* h2 = t2->spectrum()->main_block();
    const std::int32_t* h3 = t3->spectrum()->main_block();
    const std::int32_t* h5 = t5->spectrum()->main_block();
    if (!a || !h2 || !h3 || !h5) return;
    const double k = 1024.0 * static_cast<double>(1 << gain_shift_) / 2147483647.0;
    for (std::int32_t i = 0; i < n_; ++i) {
        const double ar = re_of(a, i), ai = im_of(a, i);
        const double br = re_of(h2, i), bi2 = im_of(h2, i);
        const double cr = re_of(h5, i), ci = im_of(h5, i);
        const double dr = re_of(h3, i), di = im_of(h3, i);
        // Each product truncated on its own; their sum saturates rather than wraps.
        const std::int64_t re = std::int64_t{QZ_trunc_to_int((ar * br + ai * bi2) * k)} +
                                QZ_trunc_to_int((cr * dr + ci * di) * k);
        const std::int64_t im = std::int64_t{QZ_trunc_to_int((ai * br - ar * bi2) * k)} +
                                QZ_trunc_to_int((ci * dr - cr * di) * k);
        out[2 * i] = static_cast<std::int32_t>(std::clamp<std::int64_t>(re, INT32_MIN, INT32_MAX));
        out[2 * i + 1] = static_cast<std::int32_t>(std::clamp<std::int64_t>(im, INT32_MIN, INT32_MAX));
    }
}

void QZ_Fourier_Noisegate::process() noexcept {
    // Used before -i or -s, or with a buffer deleted or re-sized: nothing to do.
    if (!fits()) return;
    QZ_Buffer* fb = floor.get();
    QZ_Buffer* gb = gain.get();
    QZ_Buffer* h1 = half1.get();
    QZ_Buffer* h2 = half2.get();
    QZ_Buffer* b1 = o1.get();
    QZ_Buffer* b2 = o2.get();
    std::int32_t* out1 = (b1 && b1->frames() >= 2 * n_) ? samples(this, b1) : nullptr;
    std::int32_t* out2 = (b2 && b2->frames() >= 2 * n_) ? samples(this, b2) : nullptr;

    if (!line->prepared()) line->prepare();
    line->process();
    t5->process();
    filter(out1);

    t4->process();
    const std::int32_t* bins4 = t4->spectrum()->main_block();
    std::int32_t* fl = fb->main_block();
    std::int32_t* g = gb->main_block();
    const double offset = 8000.0 * floor_offset;
    const bool adapting = adapt.load(std::memory_order_relaxed);
    const double unity = 2147483647.0 / 1024.0 / static_cast<double>(1 << gain_shift_);
    for (std::int32_t j = 0; j <= n_ / 2; ++j) {
        const double m = std::sqrt(re_of(bins4, j) * re_of(bins4, j) + im_of(bins4, j) * im_of(bins4, j));
        const double f = fl[j];
        if (adapting) fl[j] = QZ_trunc_to_int((m - f) * 0.1 + f);
        const double d = f + offset;
        const double x = std::max(m, d);
        const double gv = x == 0.0 ? 1.0 : (x - d) / x;
        const std::int32_t gq = QZ_trunc_to_int(gv * unity);
        g[2 * j] = gq;
        g[2 * j + 1] = 0;
        if (j > 0) {
            g[2 * (n_ - j)] = gq;
            g[2 * (n_ - j) + 1] = 0;
        }
    }

    t1->process();
    const std::int32_t* h = t1->spectrum()->main_block();
    std::int32_t* p1 = h1->main_block();
    std::int32_t* p2 = h2->main_block();
    const std::int32_t half = n_ / 2;
    for (std::int32_t i = 0; i < half; ++i) {
        p1[i] = h[2 * i];
        p2[i] = h[2 * (i + half)];
    }
    std::fill(p1 + half, p1 + n_, 0);
    std::fill(p2 + half, p2 + n_, 0);
    t2->process();
    t3->process();
    filter(out2);
}

// -i: the spectrum to filter, L = 2N samples with L a power of two from 4 to
// 8192; any other length is refused and the gate keeps its configuration.
QZ_value QZ_Fourier_Noisegate::m_i(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Fourier_Noisegate*>(obj);
    if (!v.present()) return e->in.option(v);
    QZ_handle h = v.as_word();
    QZ_Buffer* b = h ? QZ_object_as<QZ_Buffer>(h) : nullptr;
    if (!b) return e->in.option(v);  // 0 clears, anything else is refused there
    const std::int32_t len = b->reported_length();
    int bits = 0;
    while (bits < 31 && (len >> bits) > 1) ++bits;
    const int s = bits + 1 - 3;  // significant bits of L, minus 3
    const bool power_of_two = len > 0 && (len & (len - 1)) == 0;
    if (!power_of_two || s < 0 || s > QZ_Fourier_Transform::MAX_S)
        return e->in.option(QZ_value::object(e->in.handle));
    e->in.option(v);
    const std::int32_t n = len / 2;
    QZ_Soundpipe* saved = QZ_Soundpipe::current();
    QZ_Soundpipe::set_current(nullptr);
    for (QZ_Fourier_Transform* t : {e->t1, e->t2, e->t3, e->t4, e->t5}) t->set_size(s);
    QZ_Soundpipe::set_current(saved);
    auto sized = [](QZ_Buffer_ref& r, std::int32_t length) {
        if (!r.get())
            adopt(r, make_buffer(length));
        else
            r.get()->set_length(length);
    };
    sized(e->floor, len / 4 + 1);
    sized(e->gain, len);
    sized(e->half1, n);
    sized(e->half2, n);
    // Above 1024 bins, N gains of 1.0 would sum past the 32-bit range in the
    // backward transform: the gains are held 2^shift lower and the filter's
    // product scaled back up, so the gate stays at unity gain at every size.
    const int shift = std::max(0, s + 1 - 10);
    std::int32_t* g = e->gain.get()->main_block();
    for (std::int32_t i = 0; i < n; ++i) {
        g[2 * i] = 2097151 >> shift;
        g[2 * i + 1] = 0;
    }
    e->t1->in = e->gain;
    e->t2->in = e->half1;
    e->t3->in = e->half2;
    e->n_ = n;
    e->s_ = s;
    e->gain_shift_ = shift;
    return e->in.option(QZ_EMPTY);
}

QZ_value QZ_Fourier_Noisegate::output_option(QZ_Buffer_ref& ref, QZ_Buffer_ref& made, QZ_value v) {
    if (v.present()) return ref.option(v);
    if (!ref.get() && n_ > 0) {
        destroy(made);
        adopt(made, make_buffer(2 * n_));
        ref = made;
    }
    return ref.option(v);
}

QZ_value QZ_Fourier_Noisegate::m_o1(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Fourier_Noisegate*>(obj);
    return e->output_option(e->o1, e->made_o1_, v);
}

QZ_value QZ_Fourier_Noisegate::m_o2(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Fourier_Noisegate*>(obj);
    return e->output_option(e->o2, e->made_o2_, v);
}

QZ_value QZ_Fourier_Noisegate::m_s(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Fourier_Noisegate*>(obj);
    QZ_value r = e->signal.option(v);
    if (v.present()) {
        QZ_Buffer* sb = e->signal.get();
        e->t4->in = e->signal;
        e->line->in = e->signal;
        if (QZ_Buffer* d = e->delayed.get()) d->set_length(sb ? sb->frames() : 0);
    }
    return r;
}

QZ_value QZ_Fourier_Noisegate::m_a(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Fourier_Noisegate*>(obj);
    if (v.present()) e->adapt.store(v.as_int() != 0, std::memory_order_relaxed);
    return QZ_value::integer(e->adapt.load(std::memory_order_relaxed) ? 1 : 0);
}

QZ_value QZ_Fourier_Noisegate::m_w(QZ_Object* obj, QZ_value) {
    return QZ_value::object(QZ_handle_of(static_cast<QZ_Fourier_Noisegate*>(obj)->floor.get()));
}

QZ_value QZ_Fourier_Noisegate::m_delete(QZ_Object* obj, QZ_value v) { return QZ_Effect::m_delete(obj, v); }

namespace {
QZ_Object* make_transform() { return new QZ_Fourier_Transform; }
QZ_Object* make_gate() { return new QZ_Fourier_Noisegate; }
const QZ_Option transform_options[] = {
    {"i", &QZ_Fourier_Transform::m_i}, {"w", &QZ_Fourier_Transform::m_w},
    {"d", &QZ_Fourier_Transform::m_d}, {"win", &QZ_Fourier_Transform::m_win},
    {"s", &QZ_Fourier_Transform::m_s}, {"delete", &QZ_Fourier_Transform::m_delete},
};
const QZ_Option gate_options[] = {
    {"i", &QZ_Fourier_Noisegate::m_i},           {"o1", &QZ_Fourier_Noisegate::m_o1},
    {"o2", &QZ_Fourier_Noisegate::m_o2},         {"s", &QZ_Fourier_Noisegate::m_s},
    {"a", &QZ_Fourier_Noisegate::m_a},           {"w", &QZ_Fourier_Noisegate::m_w},
    {"delete", &QZ_Fourier_Noisegate::m_delete},
};
}  // namespace

extern const QZ_Class QZ_Fourier_Transform_class = {"QZ_Fourier_Transform", &make_transform,
                                                    transform_options, std::size(transform_options),
                                                    &QZ_Effect_class};
extern const QZ_Class QZ_Fourier_Noisegate_class = {"QZ_Fourier_Noisegate", &make_gate, gate_options,
                                                    std::size(gate_options), &QZ_Effect_class};
