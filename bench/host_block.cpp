// The standalone host's block callback with 1, 8 and 32 instances of the
// built-in effect at 48 kHz and 480 frames, against the same instances'
// processReplacing alone (what the host adds: conversions, mixing, the lock).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "bench/ratio.h"
#include "host/host_logic.h"
#include "rts/rts.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback);

namespace {

constexpr int kRate = 48000, kBlock = 480;

// A driver with two float inputs and two float outputs whose blocks the
// benchmark calls by hand.
class Bench_Driver : public QZ_Rts {
public:
    Bench_Driver() : QZ_Rts("bench") {}
    QZ_error init() override {
        modes.insert(&(new Mode(kRate, 32, kBlock, 2))->item);
        for (int j = 0; j < 2; ++j) {
            Chan* c = new Chan(j ? "In 2" : "In 1", QZ_RTS_FLOAT32, kBlock);
            c->data = in[j].data();
            inputs.insert(&c->item);
        }
        return QZ_OK;
    }
    QZ_error mode(Mode* m) override {
        for (int c = 0; c < 2; ++c) {
            Chan* ch = new Chan(c ? "Out 2" : "Out 1", QZ_RTS_FLOAT32, kBlock);
            ch->data = out[c].data();
            outputs.insert(&ch->item);
        }
        return QZ_Rts::mode(m);
    }
    std::vector<float> in[2] = {std::vector<float>(kBlock), std::vector<float>(kBlock)};
    std::vector<float> out[2] = {std::vector<float>(kBlock), std::vector<float>(kBlock)};
    QZ_Chain_Item all{this};
};

Bench_Driver* g_driver = nullptr;
QZ_error bench_init(QZ_Rts_callback) {
    g_driver = new Bench_Driver;
    QZ_Rts_instances.insert(&g_driver->all);
    return QZ_OK;
}
void bench_exit() {
    QZ_Rts_instances.remove(&g_driver->all);
    delete g_driver;
    g_driver = nullptr;
}

void fill(std::vector<float>& v, double f) {
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(0.3 * std::sin(6.283185307 * f * i / kRate));
}

void host_block(benchmark::State& st, int instances) {
    QZ_Host host(&VSTPluginMain);
    host.report_fn = [](int, const char*, const char*) {};
    host.start({{&bench_init, &bench_exit}});
    for (int k = 0; k < instances; ++k) host.command(QZ_Host::CMD_ADD);
    // Instances beyond the two inputs share them.
    for (int k = 2; k < instances; ++k) {
        host.command(QZ_Host::CMD_INSTANCE + k);
        host.command(QZ_Host::CMD_INPUT + k % 2);
    }
    fill(g_driver->in[0], 440);
    fill(g_driver->in[1], 1000);
    for (auto _ : st) {
        QZ_Host::block_callback();
        benchmark::ClobberMemory();
    }
    host.shutdown();
}

void effects_alone(benchmark::State& st, int instances) {
    std::vector<AEffect*> fx;
    for (int k = 0; k < instances; ++k) {
        AEffect* e = VSTPluginMain(&QZ_Host::host_callback);
        e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
        fx.push_back(e);
    }
    std::vector<float> in(kBlock), l(kBlock), r(kBlock);
    fill(in, 440);
    float* ins[1] = {in.data()};
    float* outs[2] = {l.data(), r.data()};
    for (auto _ : st) {
        for (AEffect* e : fx) e->processReplacing(e, ins, outs, kBlock);
        benchmark::ClobberMemory();
    }
    for (AEffect* e : fx) e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}

// The host's block and the instances alone in short rounds taken in turn, so
// that both see the same load of a shared machine; the median of the rounds'
// ratios.
void interleaved(int instances, int rounds) {
    QZ_Host host(&VSTPluginMain);
    host.report_fn = [](int, const char*, const char*) {};
    host.start({{&bench_init, &bench_exit}});
    for (int k = 0; k < instances; ++k) host.command(QZ_Host::CMD_ADD);
    for (int k = 2; k < instances; ++k) {
        host.command(QZ_Host::CMD_INSTANCE + k);
        host.command(QZ_Host::CMD_INPUT + k % 2);
    }
    fill(g_driver->in[0], 440);
    fill(g_driver->in[1], 1000);
    std::vector<AEffect*> fx;
    for (int k = 0; k < instances; ++k) {
        AEffect* e = VSTPluginMain(&QZ_Host::host_callback);
        e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
        fx.push_back(e);
    }
    std::vector<float> in(kBlock), l(kBlock), r(kBlock);
    fill(in, 440);
    float* ins[1] = {in.data()};
    float* outs[2] = {l.data(), r.data()};
    const int calls = std::max(1, 64 / instances);
    std::vector<double> ratios;
    using clock = std::chrono::steady_clock;
    for (int round = 0; round < rounds; ++round) {
        const auto t0 = clock::now();
        for (int c = 0; c < calls; ++c) {
            for (AEffect* e : fx) e->processReplacing(e, ins, outs, kBlock);
            benchmark::ClobberMemory();
        }
        const auto t1 = clock::now();
        for (int c = 0; c < calls; ++c) {
            QZ_Host::block_callback();
            benchmark::ClobberMemory();
        }
        const auto t2 = clock::now();
        ratios.push_back(std::chrono::duration<double>(t2 - t1).count() / std::chrono::duration<double>(t1 - t0).count());
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("  host_block/%-2d / effects_alone/%-2d = %.3f  (median of %d interleaved rounds; quartiles %.3f .. %.3f)\n",
                instances, instances, ratios[ratios.size() / 2], rounds, ratios[ratios.size() / 4],
                ratios[ratios.size() * 3 / 4]);
    for (AEffect* e : fx) e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    host.shutdown();
}

// What mixing inside the effects costs: their accumulating call against their
// processReplacing, in the same interleaved rounds (the floor of the host's
// ratio with many instances).
void accumulating(int instances, int rounds) {
    std::vector<AEffect*> fx;
    for (int k = 0; k < instances; ++k) {
        AEffect* e = VSTPluginMain(&QZ_Host::host_callback);
        e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
        fx.push_back(e);
    }
    std::vector<float> in(kBlock), l(kBlock), r(kBlock);
    fill(in, 440);
    float* ins[1] = {in.data()};
    float* outs[2] = {l.data(), r.data()};
    const int calls = std::max(1, 64 / instances);
    std::vector<double> ratios;
    using clock = std::chrono::steady_clock;
    for (int round = 0; round < rounds; ++round) {
        const auto t0 = clock::now();
        for (int c = 0; c < calls; ++c) {
            for (AEffect* e : fx) e->processReplacing(e, ins, outs, kBlock);
            benchmark::ClobberMemory();
        }
        const auto t1 = clock::now();
        for (int c = 0; c < calls; ++c) {
            for (AEffect* e : fx) e->process(e, ins, outs, kBlock);
            benchmark::ClobberMemory();
        }
        const auto t2 = clock::now();
        ratios.push_back(std::chrono::duration<double>(t2 - t1).count() / std::chrono::duration<double>(t1 - t0).count());
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("  process/%-2d / processReplacing/%-2d = %.3f  (median of %d interleaved rounds; quartiles %.3f .. %.3f)\n",
                instances, instances, ratios[ratios.size() / 2], rounds, ratios[ratios.size() / 4],
                ratios[ratios.size() * 3 / 4]);
    for (AEffect* e : fx) e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}

}  // namespace

int main(int argc, char** argv) {
    setenv("ZELO_VST_TRACE", "0", 1);
    for (int n : {1, 8, 32}) {
        char name[32];
        std::snprintf(name, sizeof name, "effects_alone/%d", n);
        benchmark::RegisterBenchmark(name, effects_alone, n)->Repetitions(5);
        std::snprintf(name, sizeof name, "host_block/%d", n);
        benchmark::RegisterBenchmark(name, host_block, n)->Repetitions(5);
    }
    benchmark::Initialize(&argc, argv);
    QZ_Ratio_Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios({{"host_block/1", "effects_alone/1"},
                           {"host_block/8", "effects_alone/8"},
                           {"host_block/32", "effects_alone/32"}},
                          {1.3, 1.05, 1.05});
    std::printf("\nratios of interleaved rounds (the same load for both):\n");
    for (int n : {1, 8, 32}) interleaved(n, 201);
    std::printf("\nthe effects' accumulating call against their processReplacing (interleaved rounds):\n");
    for (int n : {1, 32}) accumulating(n, 201);
    // A block of 480 frames at 48 kHz lasts 10 ms.
    std::printf("\nshare of the block's real time (10 ms); the figure is a fraction, not ns:\n");
    reporter.print_per_unit("host_block/32", 1e7, "block", 0.03);
    benchmark::Shutdown();
    return 0;
}
