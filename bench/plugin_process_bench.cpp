// processReplacing of the built zelo.so, loaded as a host loads it, against the
// bare fixed-point recursion over the same frames, in one run, at 48 kHz for
// host blocks of 64, 512 and 4096 frames.
//   process_N / recursion_N  (targets: <= 1.3 at 64 frames, <= 1.0 at 512)
// The module is found next to this program's build tree (../plugin/zelo.so) or
// at the path in ZELO_SO.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/ratio.h"
#include "plugin/vst24.h"

namespace {

constexpr std::uint32_t kK = 71320751u;  // 129 Hz at 48000 Hz: the plug-in's initial cutoff

VstIntPtr VSTCALLBACK host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == 1 /* audioMasterVersion */ ? kVstVersion : 0;
}

std::string module_path() {
    if (const char* p = std::getenv("ZELO_SO")) return p;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "zelo.so";
    self[n] = '\0';
    std::string dir(self);
    dir.erase(dir.rfind('/'));
    return dir + "/../plugin/zelo.so";
}

AEffect* load_effect(std::string& error) {
    static void* handle = nullptr;
    if (!handle) handle = dlopen(module_path().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        error = "cannot load " + module_path() + " (build target zelo, or set ZELO_SO)";
        return nullptr;
    }
    auto entry = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(dlsym(handle, "VSTPluginMain"));
    AEffect* e = entry ? entry(host) : nullptr;
    if (!e) error = "no effect from the entry";
    return e;
}

std::vector<float> signal(int n) {
    std::vector<float> x(static_cast<std::size_t>(n));
    std::uint32_t s = 2463534242u;
    for (auto& v : x) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        v = static_cast<float>(static_cast<std::int32_t>(s) >> 2) * (1.0f / 1073741824.0f);
    }
    return x;
}

// The recursion alone: what the filter must do per sample whatever wraps it.
__attribute__((noinline)) void bare(const std::int32_t* x, std::int32_t* o, int n, std::uint32_t k,
                                    std::uint32_t& state) {
    std::uint32_t y = state;
    for (int i = 0; i < n; ++i) {
        const std::uint32_t u = static_cast<std::uint32_t>(x[i]) - y + 0x80000000u;
        y = y + static_cast<std::uint32_t>((static_cast<std::uint64_t>(u) * k) >> 32) - (k >> 1);
        o[i] = static_cast<std::int32_t>(y);
    }
    state = y;
}

void per_frame(benchmark::State& st, int frames) { st.SetItemsProcessed(st.iterations() * frames); }

void recursion(benchmark::State& st, int n) {
    std::vector<std::int32_t> x(static_cast<std::size_t>(n)), o(x.size());
    const auto f = signal(n);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<std::int32_t>(f[i] * 1073741824.0f);
    std::uint32_t k = kK, y = 0;
    benchmark::DoNotOptimize(k);
    for (auto _ : st) {
        bare(x.data(), o.data(), n, k, y);
        benchmark::DoNotOptimize(o.data());
        benchmark::ClobberMemory();
    }
    per_frame(st, n);
}

void process(benchmark::State& st, int n) {
    std::string error;
    AEffect* e = load_effect(error);
    if (!e) {
        st.SkipWithError(error.c_str());
        return;
    }
    e->dispatcher(e, effOpen, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    e->dispatcher(e, effSetBlockSize, 0, n, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    auto in = signal(n);
    std::vector<float> l(in.size()), r(in.size());
    float* ins[1] = {in.data()};
    float* outs[2] = {l.data(), r.data()};
    for (auto _ : st) {
        e->processReplacing(e, ins, outs, n);
        benchmark::ClobberMemory();
    }
    per_frame(st, n);
    e->dispatcher(e, effMainsChanged, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}

// On a shared machine the load changes between one benchmark and the next;
// short rounds of each, taken in turn, see the same load. The median of the
// rounds' ratios is printed.
void interleaved(int n, int rounds) {
    std::string error;
    AEffect* e = load_effect(error);
    if (!e) return;
    e->dispatcher(e, effOpen, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    e->dispatcher(e, effSetBlockSize, 0, n, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    auto in = signal(n);
    std::vector<float> l(in.size()), r(in.size());
    float* ins[1] = {in.data()};
    float* outs[2] = {l.data(), r.data()};
    std::vector<std::int32_t> x(static_cast<std::size_t>(n)), o(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<std::int32_t>(in[i] * 1073741824.0f);
    std::uint32_t k = kK, y = 0;
    benchmark::DoNotOptimize(k);
    const int calls = std::max(1, 32768 / n);
    std::vector<double> ratios;
    using clock = std::chrono::steady_clock;
    for (int round = 0; round < rounds; ++round) {
        const auto t0 = clock::now();
        for (int c = 0; c < calls; ++c) {
            bare(x.data(), o.data(), n, k, y);
            benchmark::DoNotOptimize(o.data());
            benchmark::ClobberMemory();
        }
        const auto t1 = clock::now();
        for (int c = 0; c < calls; ++c) {
            e->processReplacing(e, ins, outs, n);
            benchmark::ClobberMemory();
        }
        const auto t2 = clock::now();
        ratios.push_back(std::chrono::duration<double>(t2 - t1).count() / std::chrono::duration<double>(t1 - t0).count());
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("  process_%-5d / recursion_%-5d = %.3f  (median of %d interleaved rounds; quartiles %.3f .. %.3f)\n", n,
                n, ratios[ratios.size() / 2], rounds, ratios[ratios.size() / 4], ratios[ratios.size() * 3 / 4]);
    e->dispatcher(e, effMainsChanged, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}

}  // namespace

int main(int argc, char** argv) {
    // The plug-in's trace lines would swamp the table.
    setenv("ZELO_VST_TRACE", "0", 1);
    for (int n : {64, 512, 4096}) {
        char name[32];
        std::snprintf(name, sizeof name, "recursion_%d", n);
        benchmark::RegisterBenchmark(name, recursion, n)->Repetitions(7);
        std::snprintf(name, sizeof name, "process_%d", n);
        benchmark::RegisterBenchmark(name, process, n)->Repetitions(7);
    }
    benchmark::Initialize(&argc, argv);
    QZ_Ratio_Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios({{"process_64", "recursion_64"},
                           {"process_512", "recursion_512"},
                           {"process_4096", "recursion_4096"}},
                          {1.3, 1.0, 1.0});
    std::printf("\nratios of interleaved rounds (the same load for both):\n");
    for (int n : {64, 512, 4096}) interleaved(n, 201);
    benchmark::Shutdown();
    return 0;
}
