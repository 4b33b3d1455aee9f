// Low-pass cost against a bare loop of the same recursion, measured in one run:
//   lopass_effect / bare_recursion  - the effect's process over 512 samples
//   plugin_chain  / bare_recursion  - one pass of copy, low-pass, copy at 512
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/ratio.h"
#include "core/command.h"
#include "dsp/buffer.h"
#include "dsp/filters.h"
#include "dsp/soundpipe.h"

namespace {
constexpr int kBlock = 512;
constexpr std::uint32_t kK = 535616699u;  // 1000 Hz at 44100 Hz

std::vector<std::int32_t> input() {
    std::vector<std::int32_t> x(kBlock);
    std::uint32_t s = 2463534242u;
    for (auto& v : x) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        v = static_cast<std::int32_t>(s) >> 2;  // within +-2^29
    }
    return x;
}

// The plain recursion, term by term in its natural order, nothing else.
__attribute__((noinline)) void bare_recursion(const std::int32_t* x, std::int32_t* o, int n, std::uint32_t k,
                                              std::int32_t& state) {
    std::uint32_t y = static_cast<std::uint32_t>(state);
    for (int i = 0; i < n; ++i) {
        const std::uint32_t u = static_cast<std::uint32_t>(x[i]) - y + 0x80000000u;
        const std::uint32_t h = static_cast<std::uint32_t>((static_cast<std::uint64_t>(u) * k) >> 32);
        y = y + h - (k >> 1);
        o[i] = static_cast<std::int32_t>(y);
    }
    state = static_cast<std::int32_t>(y);
}

void per_sample(benchmark::State& st) {
    st.SetItemsProcessed(st.iterations() * kBlock);
    st.counters["ns/sample"] = benchmark::Counter(static_cast<double>(st.iterations()) * kBlock,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void bare_recursion(benchmark::State& st) {
    const std::vector<std::int32_t> x = input();
    std::vector<std::int32_t> o(kBlock);
    std::int32_t y = 0;
    // The effect reads its coefficient at run time; so does the baseline.
    std::uint32_t k = kK;
    benchmark::DoNotOptimize(k);
    for (auto _ : st) {
        bare_recursion(x.data(), o.data(), kBlock, k, y);
        benchmark::DoNotOptimize(o.data());
        benchmark::ClobberMemory();
    }
    per_sample(st);
}

QZ_handle make(const char* command, QZ_handle a = 0, QZ_handle b = 0) {
    QZ_handle h = 0;
    spcpp(command, &h, a, b);
    return h;
}

void lopass_effect(benchmark::State& st) {
    QZ_handle pipe = make("QZ_Soundpipe");
    spcpp("%o -bl %i", pipe, kBlock);
    QZ_handle in = make("QZ_Buffer"), out = make("QZ_Buffer");
    QZ_handle lp = make("QZ_Effect_Lopass -i %o -o %o", in, out);
    spcpp("QZ_Effect %o -clock %i", lp, 44100);
    spcpp("%o -f %i", lp, 1000);
    const std::vector<std::int32_t> x = input();
    std::copy(x.begin(), x.end(), QZ_object_as<QZ_Buffer>(in)->main_block());
    auto* e = QZ_object_as<QZ_Effect_Lopass>(lp);
    if (e->coefficient() != kK) st.SkipWithError("unexpected coefficient");
    for (auto _ : st) {
        e->process();
        benchmark::ClobberMemory();
    }
    per_sample(st);
    for (QZ_handle h : {lp, in, out, pipe}) spcpp("%o -delete", h);
}

void plugin_chain(benchmark::State& st) {
    QZ_handle pipe = make("QZ_Soundpipe");
    spcpp("%o -bl %i", pipe, kBlock);
    QZ_handle bi = make("QZ_Buffer"), lb = make("QZ_Buffer");
    QZ_handle cin = make("QZ_Effect_Copy -i %o -o %o", bi, lb);
    QZ_handle lp = make("QZ_Effect_Lopass -i %o -o %o", bi, lb);
    QZ_handle bo = make("QZ_Buffer");
    QZ_handle cout = make("QZ_Effect_Copy -i %o -o %o", lb, bo);
    QZ_Soundpipe::set_current(nullptr);
    for (QZ_handle e : {cin, lp, cout}) spcpp("QZ_Effect %o -clock %i", e, 44100);
    spcpp("%o -f %i", lp, 1000);
    const std::vector<std::int32_t> x = input();
    std::copy(x.begin(), x.end(), QZ_object_as<QZ_Buffer>(bi)->main_block());
    auto* p = QZ_object_as<QZ_Soundpipe>(pipe);
    for (auto _ : st) {
        p->process();
        benchmark::ClobberMemory();
    }
    per_sample(st);
    for (QZ_handle h : {cin, cout, lp, lb, bo, bi, pipe}) spcpp("%o -delete", h);
}
}  // namespace

BENCHMARK(bare_recursion)->Repetitions(7)->ReportAggregatesOnly(false);
BENCHMARK(lopass_effect)->Repetitions(7);
BENCHMARK(plugin_chain)->Repetitions(7);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    QZ_Ratio_Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios({{"lopass_effect", "bare_recursion"}, {"plugin_chain", "bare_recursion"}},
                          {1.15, 1.3});
    benchmark::Shutdown();
    return 0;
}
