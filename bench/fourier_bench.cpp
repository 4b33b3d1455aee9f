// Fixed-point butterflies against the extended-precision evaluation they must
// match bit for bit, at N = 256, 512, 1024 and 4096, measured in one run.
//   fft_integer/N   - QZ_fourier_butterflies (exact 64-bit integers, ties to even)
//   fft_reference/N - the same stages in long double, rounded with lrintl
// Both restore the same input before every transform. The counter "ns/pt-stage"
// is the time per point and stage (N * log2 N).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/ratio.h"
#include "dsp/fourier_math.h"

namespace {

std::vector<std::int32_t> input(int s) {
    std::vector<std::int32_t> v(std::size_t{4} << s);
    std::mt19937 rng(static_cast<unsigned>(s));
    // a forward transform's input: real samples within +-2^30, bit-reversed order
    for (std::size_t i = 0; i < v.size(); i += 2) {
        v[i] = static_cast<std::int32_t>(rng()) >> 2;
        v[i + 1] = 0;
    }
    return v;
}

void per_point_stage(benchmark::State& st, int s) {
    const double points = static_cast<double>(2 << s) * (s + 1);
    st.counters["ns/pt-stage"] =
        benchmark::Counter(static_cast<double>(st.iterations()) * points,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

template <void (*F)(std::int32_t*, int, bool)>
void run(benchmark::State& st) {
    const int s = static_cast<int>(st.range(0));
    const std::vector<std::int32_t> x = input(s);
    std::vector<std::int32_t> a = x, b = x;
    // the two must agree before their times mean anything
    QZ_fourier_butterflies(a.data(), s, true);
    QZ_fourier_butterflies_reference(b.data(), s, true);
    if (a != b) {
        st.SkipWithError("integer and reference transforms differ");
        return;
    }
    std::vector<std::int32_t> work(x.size());
    for (auto _ : st) {
        std::memcpy(work.data(), x.data(), x.size() * sizeof(std::int32_t));
        F(work.data(), s, true);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    per_point_stage(st, s);
}

void fft_integer(benchmark::State& st) { run<QZ_fourier_butterflies>(st); }
void fft_reference(benchmark::State& st) { run<QZ_fourier_butterflies_reference>(st); }

}  // namespace

// N = 2^(s+1): s = 7, 8, 9, 11
BENCHMARK(fft_integer)->Arg(7)->Arg(8)->Arg(9)->Arg(11)->Repetitions(5);
BENCHMARK(fft_reference)->Arg(7)->Arg(9)->Arg(11)->Repetitions(5);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    QZ_Ratio_Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // The reference costs about 13 to 16 ns per point and stage here, so 0.15
    // is about 2 ns; the absolute figures at N = 512 and 1024 follow.
    reporter.print_ratios({{"fft_integer/7", "fft_reference/7"},
                           {"fft_integer/9", "fft_reference/9"},
                           {"fft_integer/11", "fft_reference/11"}},
                          {0.15, 0.15, 0.15});
    reporter.print_per_unit("fft_integer/8", 512.0 * 9, "point-stage", 0.8);
    reporter.print_per_unit("fft_integer/9", 1024.0 * 10, "point-stage", 0.8);
    benchmark::Shutdown();
    return 0;
}
