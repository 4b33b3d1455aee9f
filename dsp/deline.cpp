#include "dsp/deline.h"

#include <cmath>
#include <cstring>
#include <iterator>

#include "dsp/classes.h"

namespace {

using Group = QZ_Effect_Deline::Group;
using Delay = QZ_Effect_Deline::Delay;

// "float or integer": a float is used as it is, any other word as an integer.
double number_of(const QZ_value& v) {
    return v.type == QZ_T_FLOAT ? static_cast<double>(v.as_float()) : static_cast<double>(v.as_int());
}

// bits 31..62 (shift 31) or 23..54 (shift 23) of the 64-bit product
template <int Shift>
inline std::int32_t mulhi(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>((static_cast<std::int64_t>(a) * b) >> Shift);
}

inline std::int32_t wadd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace

QZ_Effect_Deline::QZ_Effect_Deline()
    : line(QZ_zeroed_samples(LINE_SIZE)),
      program(new std::int32_t[PROGRAM_CAPACITY]()),
      out_end_(new std::int32_t*[MAX_GROUPS]()),
      out_len_(new std::int32_t[MAX_GROUPS]()) {}

QZ_Effect_Deline::~QZ_Effect_Deline() {
    while (groups.count > 0) {
        auto* g = static_cast<Group*>(groups.tail.prev->data);
        groups.remove(&g->link);
        clear_group(g);
        delete g;
    }
}

void QZ_Effect_Deline::clear_group(Group* g) {
    while (g->delays.count > 0) {
        auto* d = static_cast<Delay*>(g->delays.tail.prev->data);
        g->delays.remove(&d->link);
        delete d;
        program_length -= 2;
    }
    g->current = nullptr;
}

void QZ_Effect_Deline::reset() noexcept {
    if (line) std::memset(line.get(), 0, sizeof(std::int32_t) * LINE_SIZE);
}

std::int32_t QZ_Effect_Deline::compile() noexcept {
    std::int32_t* p = program.get();
    std::int32_t len = 0;
    std::int32_t slot = 0;
    const long double clk = clock();
    for (QZ_Chain_Item* gi = groups.first(); gi != groups.end(); gi = gi->next) {
        auto* g = static_cast<Group*>(gi->data);
        const std::int32_t need = 4 + 2 * g->delays.count;
        if (len + need > PROGRAM_CAPACITY || slot >= MAX_GROUPS) break;  // options keep this from happening
        for (QZ_Chain_Item* di = g->delays.first(); di != g->delays.end(); di = di->next) {
            auto* d = static_cast<Delay*>(di->data);
            const float time = d->time.load(std::memory_order_relaxed);
            long double t =
                d->in_samples.load(std::memory_order_relaxed) ? static_cast<long double>(time) : clk * time;
            // The line holds 65535 past samples: clamp, never index outside it.
            std::int32_t w;
            if (!(t >= 0.0L))
                w = 0;  // also NaN
            else if (t >= MAX_DELAY)
                w = MAX_DELAY;
            else
                w = static_cast<std::int32_t>(t);
            p[len++] = w;
            p[len++] = d->amplitude.load(std::memory_order_relaxed);
        }
        p[len++] = -1;
        p[len++] = g->gain.load(std::memory_order_relaxed);
        QZ_Buffer* ob = g->out.get();
        std::int32_t* blk = ob ? samples(this, ob) : nullptr;
        if (blk && ob->frames() > 0) {
            out_len_[slot] = ob->frames();
            out_end_[slot] = blk + ob->frames();
            p[len++] = slot++;
        } else {
            p[len++] = -1;
        }
        p[len++] = g->feedback.load(std::memory_order_relaxed);
    }
    return len;
}

namespace {

// One sample at a time, walking the whole program: right for any delays.
template <int M>
void run_program(const std::int32_t* x, std::int32_t n, std::int32_t* line, std::uint16_t& position,
                 const std::int32_t* prog, std::int32_t len, std::int32_t* const* out_end,
                 const std::int32_t* out_len) {
    std::uint16_t pos = position;
    for (std::int32_t i = 0; i < n; ++i) {
        std::int32_t d = x[i];
        std::int32_t acc = 0;
        std::int32_t k = 0;
        while (k < len) {
            const std::int32_t w = prog[k];
            if (w >= 0) {
                const std::int32_t t = line[static_cast<std::uint16_t>(pos + w + 1)];
                acc = wadd(acc, mulhi<31>(t, prog[k + 1]));
                k += 2;
            } else {
                const std::int32_t y = mulhi<23>(acc, prog[k + 1]);
                const std::int32_t slot = prog[k + 2];
                if (slot >= 0) {
                    // sample m - n + i of the output block: both ends aligned
                    const std::int32_t idx = out_len[slot] - n + i;
                    if (idx >= 0) QZ_put<M>(out_end[slot][idx - out_len[slot]], y);
                }
                d = wadd(d, mulhi<23>(acc, prog[k + 3]));
                acc = 0;
                k += 4;
            }
        }
        line[pos] = d;
        pos = static_cast<std::uint16_t>(pos - 1);
    }
    position = pos;
}

// Runs of samples no longer than the shortest delay (plus one) read only line
// samples written before the run, so each group can sweep the whole run with
// its taps in registers, and the line is written once the run's sums are
// complete. Sums wrap in 32 bits, so their order does not matter; per sample
// the groups still write their outputs in program order.
constexpr std::int32_t RUN_MAX = 256;
constexpr std::int32_t RUN_MIN = 16;  // shorter runs gain nothing over the walk

// Taps = 0: any number, read from the program. o (null for none) is where the
// output sample of j = first goes; earlier samples have none.
template <int M, int Taps>
void group_run(const std::int32_t* line, std::uint16_t pos, std::int32_t len, const std::int32_t* taps,
               std::int32_t count, std::int32_t gain, std::int32_t feedback, std::int32_t* o, std::int32_t first,
               std::int32_t* d) {
    std::uint16_t base[Taps > 0 ? Taps : 1];
    std::int32_t amp[Taps > 0 ? Taps : 1];
    if constexpr (Taps > 0)
        for (int t = 0; t < Taps; ++t) {
            base[t] = static_cast<std::uint16_t>(pos + taps[2 * t] + 1);
            amp[t] = taps[2 * t + 1];
        }
    auto sum = [&](std::int32_t j) {
        std::int32_t acc = 0;
        if constexpr (Taps > 0) {
            for (int t = 0; t < Taps; ++t)
                acc = wadd(acc, mulhi<31>(line[static_cast<std::uint16_t>(base[t] - j)], amp[t]));
        } else {
            for (std::int32_t t = 0; t < count; ++t)
                acc = wadd(acc, mulhi<31>(line[static_cast<std::uint16_t>(pos - j + taps[2 * t] + 1)],
                                          taps[2 * t + 1]));
        }
        return acc;
    };
    const std::int32_t quiet = o ? first : len;
    for (std::int32_t j = 0; j < quiet; ++j) d[j] = wadd(d[j], mulhi<23>(sum(j), feedback));
    for (std::int32_t j = quiet; j < len; ++j) {
        const std::int32_t acc = sum(j);
        QZ_put<M>(o[j - first], mulhi<23>(acc, gain));
        d[j] = wadd(d[j], mulhi<23>(acc, feedback));
    }
}

template <int M>
void run_groups(const std::int32_t* x, std::int32_t n, std::int32_t* line, std::uint16_t& position,
                const std::int32_t* prog, std::int32_t len, std::int32_t* const* out_end,
                const std::int32_t* out_len, std::int32_t run) {
    std::uint16_t pos = position;
    std::int32_t d[RUN_MAX];
    for (std::int32_t i0 = 0; i0 < n; i0 += run) {
        const std::int32_t m = n - i0 < run ? n - i0 : run;
        for (std::int32_t j = 0; j < m; ++j) d[j] = x[i0 + j];
        std::int32_t k = 0;
        while (k < len) {
            const std::int32_t* taps = prog + k;
            std::int32_t count = 0;
            while (prog[k] >= 0) {
                ++count;
                k += 2;
            }
            const std::int32_t slot = prog[k + 2];
            std::int32_t* o = nullptr;
            std::int32_t first = 0;
            if (slot >= 0) {
                // sample i of the block goes to out_end - n + i: both ends aligned
                const std::int32_t skip = n - out_len[slot];  // samples before the output starts
                first = skip - i0 > 0 ? skip - i0 : 0;
                if (first < m) o = out_end[slot] - (n - i0 - first);
            }
            switch (count) {
                case 1: group_run<M, 1>(line, pos, m, taps, count, prog[k + 1], prog[k + 3], o, first, d); break;
                case 2: group_run<M, 2>(line, pos, m, taps, count, prog[k + 1], prog[k + 3], o, first, d); break;
                case 3: group_run<M, 3>(line, pos, m, taps, count, prog[k + 1], prog[k + 3], o, first, d); break;
                case 4: group_run<M, 4>(line, pos, m, taps, count, prog[k + 1], prog[k + 3], o, first, d); break;
                default: group_run<M, 0>(line, pos, m, taps, count, prog[k + 1], prog[k + 3], o, first, d); break;
            }
            k += 4;
        }
        for (std::int32_t j = 0; j < m; ++j) line[static_cast<std::uint16_t>(pos - j)] = d[j];
        pos = static_cast<std::uint16_t>(pos - m);
    }
    position = pos;
}

// The longest run the program allows: the shortest delay plus one, at most RUN_MAX.
std::int32_t run_length(const std::int32_t* prog, std::int32_t len) {
    std::int32_t run = RUN_MAX;
    for (std::int32_t k = 0; k < len;) {
        if (prog[k] >= 0) {
            if (prog[k] + 1 < run) run = prog[k] + 1;
            k += 2;
        } else {
            k += 4;
        }
    }
    return run;
}

}  // namespace

void QZ_Effect_Deline::process() noexcept {
    QZ_Buffer* bi = in.get();
    // Without an input or any group there is nothing to run.
    if (!bi || groups.count == 0) return;
    const std::int32_t len = compile();
    if (len == 0) return;
    const std::int32_t n = bi->frames();
    const std::int32_t* x = samples(this, bi);
    if (!x || n <= 0) return;
    const std::int32_t run = run_length(program.get(), len);
    QZ_with_mode(mode(), [&](auto m) {
        if (run >= RUN_MIN)
            run_groups<decltype(m)::value>(x, n, line.get(), position, program.get(), len, out_end_.get(),
                                           out_len_.get(), run);
        else
            run_program<decltype(m)::value>(x, n, line.get(), position, program.get(), len, out_end_.get(),
                                            out_len_.get());
    });
}

// ---------------------------------------------------------------- options

QZ_value QZ_Effect_Deline::m_i(QZ_Object* obj, QZ_value v) {
    return static_cast<QZ_Effect_Deline*>(obj)->in.option(v);
}

// No value: a new group (refused when the program would outgrow its capacity).
// An object: one of this effect's groups becomes current.
QZ_value QZ_Effect_Deline::m_g(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Deline*>(obj);
    if (v.present()) {
        auto* g = QZ_object_as<Group>(v.as_word());
        if (g && g->owner == e) e->current = g;
    } else if (e->program_length + 4 <= PROGRAM_CAPACITY && e->groups.count < MAX_GROUPS) {
        auto* g = new Group(e);
        e->groups.insert(&g->link);
        e->current = g;
        e->program_length += 4;
    }
    return QZ_value::object(QZ_handle_of(e->current));
}

QZ_value QZ_Effect_Deline::m_go(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Deline*>(obj);
    if (!e->current) return QZ_value::object(0);
    return e->current->out.option(v);
}

QZ_value QZ_Effect_Deline::m_ga(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Deline*>(obj);
    if (!e->current) return QZ_value::integer(0);
    if (v.present()) e->current->gain = QZ_trunc_to_int(number_of(v) * 8388607.0);
    return QZ_value::integer(e->current->gain.load());
}

QZ_value QZ_Effect_Deline::m_gf(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Deline*>(obj);
    if (!e->current) return QZ_value::integer(0);
    if (v.present()) e->current->feedback = QZ_trunc_to_int(number_of(v) * 8388607.0);
    return QZ_value::integer(e->current->feedback.load());
}

// Removes and destroys every delay of the current group; its current delay is cleared.
QZ_value QZ_Effect_Deline::m_gc(QZ_Object* obj, QZ_value) {
    auto* e = static_cast<QZ_Effect_Deline*>(obj);
    if (e->current) e->clear_group(e->current);
    return QZ_EMPTY;
}

QZ_value QZ_Effect_Deline::m_d(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Deline*>(obj);
    Group* g = e->current;
    if (!g) return QZ_value::object(0);
    if (v.present()) {
        auto* d = QZ_object_as<Delay>(v.as_word());
        if (d && d->group == g && d->link.list == &g->delays) g->current = d;
    } else if (e->program_length + 2 <= PROGRAM_CAPACITY) {
        auto* d = new Delay(g);
        g->delays.insert(&d->link);
        g->current = d;
        e->program_length += 2;
    }
    return QZ_value::object(QZ_handle_of(g->current));
}

// An integer is a number of samples (0..65534), a float seconds (not negative);
// anything else is refused.
QZ_value QZ_Effect_Deline::m_dt(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Deline*>(obj);
    Delay* d = e->current ? e->current->current : nullptr;
    if (!d) return QZ_value::real(0.0f);
    if (v.present()) {
        if (v.type == QZ_T_FLOAT) {
            const float t = v.as_float();
            if (std::isfinite(t) && t >= 0.0f) {
                d->time = t;
                d->in_samples = false;
            }
        } else if (const std::int32_t t = v.as_int(); t >= 0 && t <= MAX_DELAY) {
            d->time = static_cast<float>(t);
            d->in_samples = true;
        }
    }
    return QZ_value::real(d->time.load());
}

QZ_value QZ_Effect_Deline::m_da(QZ_Object* obj, QZ_value v) {
    auto* e = static_cast<QZ_Effect_Deline*>(obj);
    Delay* d = e->current ? e->current->current : nullptr;
    if (!d) return QZ_value::integer(0);
    if (v.present()) d->amplitude = QZ_trunc_to_int(number_of(v) * 2147483647.0);
    return QZ_value::integer(d->amplitude.load());
}

QZ_value QZ_Effect_Deline::m_delete(QZ_Object* obj, QZ_value v) { return QZ_Effect::m_delete(obj, v); }

namespace {
QZ_Object* make_deline() { return new QZ_Effect_Deline; }
const QZ_Option deline_options[] = {
    {"i", &QZ_Effect_Deline::m_i},           {"g", &QZ_Effect_Deline::m_g},   {"go", &QZ_Effect_Deline::m_go},
    {"ga", &QZ_Effect_Deline::m_ga},         {"gf", &QZ_Effect_Deline::m_gf}, {"gc", &QZ_Effect_Deline::m_gc},
    {"d", &QZ_Effect_Deline::m_d},           {"dt", &QZ_Effect_Deline::m_dt}, {"da", &QZ_Effect_Deline::m_da},
    {"delete", &QZ_Effect_Deline::m_delete},
};
}  // namespace

extern const QZ_Class QZ_Effect_Deline_class = {"QZ_Effect_Deline", &make_deline, deline_options,
                                                std::size(deline_options), &QZ_Effect_class};
