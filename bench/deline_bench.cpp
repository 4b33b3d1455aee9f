// Delay line with one group of four taps, per sample, against a bare loop of
// the same four taps written out by hand, in the same run:
//   deline_effect / bare_taps - the compiled tap program (recompiled every
//                               block, as in a pass) run in stretches as long
//                               as the shortest delay, each group's taps held
//                               in registers
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bench/ratio.h"
#include "core/command.h"
#include "dsp/buffer.h"
#include "dsp/deline.h"
#include "dsp/soundpipe.h"

namespace {
constexpr int kBlock = 512;
constexpr std::int32_t kDelays[4] = {99, 441, 1000, 4410};
constexpr std::int32_t kAmp = 536870911;  // 0.25 in Q31
constexpr std::int32_t kGain = 8388607, kFeedback = 4194303;

std::vector<std::int32_t> input() {
    std::vector<std::int32_t> x(kBlock);
    std::uint32_t s = 2463534242u;
    for (auto& v : x) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        v = static_cast<std::int32_t>(s) >> 3;
    }
    return x;
}

void per_sample(benchmark::State& st) {
    st.counters["ns/sample"] = benchmark::Counter(static_cast<double>(st.iterations()) * kBlock,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The same arithmetic with the taps known at compile time.
__attribute__((noinline)) void bare_taps(const std::int32_t* x, std::int32_t* o, int n, std::int32_t* line,
                                         std::uint16_t& position) {
    std::uint16_t pos = position;
    for (int i = 0; i < n; ++i) {
        std::uint32_t acc = 0;
        for (std::int32_t w : kDelays)
            acc += static_cast<std::uint32_t>(
                (static_cast<std::int64_t>(line[static_cast<std::uint16_t>(pos + w + 1)]) * kAmp) >> 31);
        const std::int32_t a = static_cast<std::int32_t>(acc);
        o[i] = static_cast<std::int32_t>((static_cast<std::int64_t>(a) * kGain) >> 23);
        line[pos] = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(x[i]) +
            static_cast<std::uint32_t>((static_cast<std::int64_t>(a) * kFeedback) >> 23));
        pos = static_cast<std::uint16_t>(pos - 1);
    }
    position = pos;
}

void bare_taps(benchmark::State& st) {
    const std::vector<std::int32_t> x = input();
    std::vector<std::int32_t> o(kBlock), line(65536, 0);
    std::uint16_t pos = 0;
    for (auto _ : st) {
        bare_taps(x.data(), o.data(), kBlock, line.data(), pos);
        benchmark::DoNotOptimize(o.data());
        benchmark::ClobberMemory();
    }
    per_sample(st);
}

void deline_effect(benchmark::State& st) {
    QZ_handle pipe = 0, in = 0, out = 0, fx = 0;
    spcpp("QZ_Soundpipe -bl %i", &pipe, kBlock);
    spcpp("QZ_Buffer", &in);
    spcpp("QZ_Buffer", &out);
    spcpp("QZ_Effect_Deline -i %o", &fx, in);
    QZ_Soundpipe::set_current(nullptr);
    auto* e = QZ_object_as<QZ_Effect_Deline>(fx);
    QZ_Effect_Deline::m_g(e, QZ_EMPTY);
    spcpp("%o -go %o -ga %i -gf %f", fx, out, 1, 0.5);
    for (std::int32_t w : kDelays) {
        QZ_Effect_Deline::m_d(e, QZ_EMPTY);
        spcpp("%o -dt %i -da %f", fx, w, 0.25);
    }
    const std::vector<std::int32_t> x = input();
    std::copy(x.begin(), x.end(), QZ_object_as<QZ_Buffer>(in)->main_block());
    if (e->program_length != 12) st.SkipWithError("unexpected tap program");
    for (auto _ : st) {
        e->process();
        benchmark::ClobberMemory();
    }
    per_sample(st);
    for (QZ_handle h : {fx, in, out, pipe}) spcpp("%o -delete", h);
}
}  // namespace

BENCHMARK(bare_taps)->Repetitions(5);
BENCHMARK(deline_effect)->Repetitions(5);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    QZ_Ratio_Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // The per-group runs cost little beyond the hand-written taps.
    reporter.print_ratios({{"deline_effect", "bare_taps"}}, {1.5});
    reporter.print_per_unit("deline_effect", kBlock, "sample", 10.0);
    benchmark::Shutdown();
    return 0;
}
