// Pitch shifters per sample against their unavoidable core, the two sin^2
// window weights per sample in extended precision, in the same run:
//   shift_effect  / window_weights - Shift: two heads, normalisation, correction
//   nshift_effect / window_weights - Nshift: two heads only
// The extended-precision sines dominate: about 160 ns each here.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "bench/ratio.h"
#include "core/command.h"
#include "dsp/buffer.h"
#include "dsp/shift.h"
#include "dsp/soundpipe.h"

namespace {
constexpr int kBlock = 512;

void per_sample(benchmark::State& st) {
    st.counters["ns/sample"] = benchmark::Counter(static_cast<double>(st.iterations()) * kBlock,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void window_weights(benchmark::State& st) {
    const std::int64_t p = 8388608;
    std::int64_t phi = 0;
    std::int64_t s = -4096;
    benchmark::DoNotOptimize(s);
    std::vector<double> out(kBlock);
    for (auto _ : st) {
        for (int i = 0; i < kBlock; ++i) {
            phi += s;
            if (phi < 0) phi += p;
            out[i] = QZ_Shifter_Base::weight(phi, p) + QZ_Shifter_Base::weight(phi + p, p);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_sample(st);
}

template <class T>
void shifter(benchmark::State& st, const char* cls) {
    QZ_handle in = 0, out = 0, fx = 0;
    spcpp("QZ_Buffer -l %i", &in, kBlock);
    spcpp("QZ_Buffer -l %i", &out, kBlock);
    std::string cmd = std::string(cls) + " -i %o -o %o -s %i";
    spcpp(cmd.c_str(), &fx, in, out, -4096);
    spcpp("QZ_Effect %o -clock %i", fx, 48000);
    std::int32_t* x = QZ_object_as<QZ_Buffer>(in)->main_block();
    for (int i = 0; i < kBlock; ++i) x[i] = static_cast<std::int32_t>(1e8 * std::sin(i * 0.05));
    auto* e = QZ_object_as<T>(fx);
    for (auto _ : st) {
        e->process();
        benchmark::ClobberMemory();
    }
    per_sample(st);
    for (QZ_handle h : {fx, in, out}) spcpp("%o -delete", h);
}

void shift_effect(benchmark::State& st) { shifter<QZ_Effect_Shift>(st, "QZ_Effect_Shift"); }
void nshift_effect(benchmark::State& st) { shifter<QZ_Effect_Nshift>(st, "QZ_Effect_Nshift"); }
}  // namespace

BENCHMARK(window_weights)->Repetitions(5);
BENCHMARK(shift_effect)->Repetitions(5);
BENCHMARK(nshift_effect)->Repetitions(5);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    QZ_Ratio_Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios({{"shift_effect", "window_weights"}, {"nshift_effect", "window_weights"}},
                          {1.3, 1.2});
    benchmark::Shutdown();
    return 0;
}
