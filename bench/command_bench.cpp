// Cost of the command interpreter on an existing object ("%o -f %f" shape)
// against calling the same option handler directly.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/ratio.h"
#include "core/command.h"
#include "dsp/buffer.h"
#include "dsp/filters.h"

namespace {

struct Objects {
    QZ_handle lop = 0, buf = 0;
    Objects() {
        spcpp("QZ_Effect_Lopass -clock 44100", &lop);
        spcpp("QZ_Buffer", &buf);
    }
    ~Objects() {
        spcpp("%o -delete", lop);
        spcpp("%o -delete", buf);
    }
};

void BM_Direct_Lopass_f(benchmark::State& st) {
    Objects o;
    QZ_Object* obj = QZ_object_from_handle(o.lop);
    float f = 1000.0f;
    for (auto _ : st) {
        benchmark::DoNotOptimize(QZ_Effect_Lopass::m_f(obj, QZ_value::real(f)));
        f = f == 1000.0f ? 1001.0f : 1000.0f;
    }
}
void BM_Command_Lopass_f(benchmark::State& st) {
    Objects o;
    double f = 1000.0;
    for (auto _ : st) {
        benchmark::DoNotOptimize(spcpp("%o -f %f", o.lop, f));
        f = f == 1000.0 ? 1001.0 : 1000.0;
    }
}
void BM_Direct_Buffer_limit(benchmark::State& st) {
    Objects o;
    QZ_Object* obj = QZ_object_from_handle(o.buf);
    for (auto _ : st) benchmark::DoNotOptimize(QZ_Buffer::m_limit(obj, QZ_value::real(1000.0f)));
}
void BM_Command_Buffer_limit(benchmark::State& st) {
    Objects o;
    for (auto _ : st) benchmark::DoNotOptimize(spcpp("%o -limit %f", o.buf, 1000.0));
}

BENCHMARK(BM_Direct_Lopass_f);
BENCHMARK(BM_Command_Lopass_f);
BENCHMARK(BM_Direct_Buffer_limit);
BENCHMARK(BM_Command_Buffer_limit);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    QZ_Ratio_Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // The interpreter's whole cost per command, and its multiple of the handler alone.
    std::printf("\nper command:\n");
    reporter.print_per_unit("BM_Command_Lopass_f", 1, "command", 300.0);
    reporter.print_per_unit("BM_Command_Buffer_limit", 1, "command", 300.0);
    reporter.print_ratios({{"BM_Command_Lopass_f", "BM_Direct_Lopass_f"},
                           {"BM_Command_Buffer_limit", "BM_Direct_Buffer_limit"}},
                          {5.0, 25.0});
    benchmark::Shutdown();
    return 0;
}
