// Sample conversion of one block against memcpy of the bytes the conversion
// writes (four per sample for all three), measured in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/ratio.h"
#include "rts/rts.h"

namespace {

constexpr int N = 480;  // 10 ms at 48 kHz

struct Pair {
    std::vector<unsigned char> src, dst;
    QZ_Rts::Chan s, d;
    Pair(QZ_Rts_format from, QZ_Rts_format to)
        : src(N * QZ_rts_format_stride(from)), dst(N * QZ_rts_format_stride(to)) {
        s.format = from;
        d.format = to;
        s.count = d.count = N;
        s.data = src.data();
        d.data = dst.data();
        // A sine at most of full scale, in the source's own coding.
        for (int k = 0; k < N; ++k) {
            const double x = 0.9 * std::sin(k * 0.05);
            unsigned char* p = src.data() + k * QZ_rts_format_stride(from);
            if (QZ_rts_format_is_float(from)) {
                const float f = static_cast<float>(x);
                std::memcpy(p, &f, 4);
            } else {
                const auto v = static_cast<std::int32_t>(x * 2147483647.0);
                const unsigned bytes = QZ_rts_format_stride(from);
                for (unsigned i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(v >> (32 - 8 * bytes + 8 * i));
            }
        }
    }
};

void run(benchmark::State& st, QZ_Rts_format from, QZ_Rts_format to) {
    Pair p(from, to);
    for (auto _ : st) {
        benchmark::DoNotOptimize(QZ_Rts::copyBuffer(&p.d, &p.s));
        benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(st.iterations() * N);
}

void int16_to_float(benchmark::State& st) { run(st, QZ_RTS_INT16, QZ_RTS_FLOAT32); }
void int24_to_float(benchmark::State& st) { run(st, QZ_RTS_INT24, QZ_RTS_FLOAT32); }
void float_to_int32(benchmark::State& st) { run(st, QZ_RTS_FLOAT32, QZ_RTS_INT32); }

void memcpy_block(benchmark::State& st) {
    std::vector<unsigned char> a(N * 4, 1), b(N * 4);
    for (auto _ : st) {
        benchmark::DoNotOptimize(a.data());
        std::memcpy(b.data(), a.data(), a.size());
        benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(st.iterations() * N);
}

// Short rounds of the conversion and of memcpy taken in turn, so that both see
// the same load of a shared machine; the median of the rounds' ratios.
void interleaved(const char* name, QZ_Rts_format from, QZ_Rts_format to, int rounds) {
    Pair p(from, to);
    std::vector<unsigned char> a(N * 4, 1), b(N * 4);
    constexpr int calls = 200;
    std::vector<double> ratios;
    using clock = std::chrono::steady_clock;
    for (int round = 0; round < rounds; ++round) {
        const auto t0 = clock::now();
        for (int c = 0; c < calls; ++c) {
            benchmark::DoNotOptimize(a.data());
            std::memcpy(b.data(), a.data(), a.size());
            benchmark::ClobberMemory();
        }
        const auto t1 = clock::now();
        for (int c = 0; c < calls; ++c) {
            benchmark::DoNotOptimize(QZ_Rts::copyBuffer(&p.d, &p.s));
            benchmark::ClobberMemory();
        }
        const auto t2 = clock::now();
        ratios.push_back(std::chrono::duration<double>(t2 - t1).count() / std::chrono::duration<double>(t1 - t0).count());
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("  %-14s / memcpy_block = %.3f  (median of %d interleaved rounds; quartiles %.3f .. %.3f)\n", name,
                ratios[ratios.size() / 2], rounds, ratios[ratios.size() / 4], ratios[ratios.size() * 3 / 4]);
}

}  // namespace

BENCHMARK(memcpy_block)->Repetitions(7);
BENCHMARK(int16_to_float)->Repetitions(7);
BENCHMARK(int24_to_float)->Repetitions(7);
BENCHMARK(float_to_int32)->Repetitions(7);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    QZ_Ratio_Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios({{"int16_to_float", "memcpy_block"},
                           {"int24_to_float", "memcpy_block"},
                           {"float_to_int32", "memcpy_block"}},
                          {3.0, 3.0, 2.5});
    std::printf("\nratios of interleaved rounds (the same load for both):\n");
    interleaved("int16_to_float", QZ_RTS_INT16, QZ_RTS_FLOAT32, 201);
    interleaved("int24_to_float", QZ_RTS_INT24, QZ_RTS_FLOAT32, 201);
    interleaved("float_to_int32", QZ_RTS_FLOAT32, QZ_RTS_INT32, 201);
    benchmark::Shutdown();
    return 0;
}
