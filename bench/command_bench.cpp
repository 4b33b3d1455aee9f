// Cost of the command interpreter on an existing object ("%o -f %f" shape)
// against calling the same option handler directly.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "core/command.h"
#include "dsp/buffer.h"
#include "dsp/filters.h"

namespace {

std::map<std::string, double> g_ns;  // per-iteration times for the ratio lines

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

// Collects per-iteration real times so the ratios can be printed after the table.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration) g_ns[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Collector rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    auto ratio = [](const char* a, const char* b) {
        if (g_ns.count(a) && g_ns.count(b))
            std::printf("%-28s %7.1f ns vs direct %7.1f ns: interpreter adds %6.1f ns, ratio %.2f\n", a,
                        g_ns[a], g_ns[b], g_ns[a] - g_ns[b], g_ns[a] / g_ns[b]);
    };
    ratio("BM_Command_Lopass_f", "BM_Direct_Lopass_f");
    ratio("BM_Command_Buffer_limit", "BM_Direct_Buffer_limit");
    benchmark::Shutdown();
    return 0;
}
