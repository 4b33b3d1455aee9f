// Ratio reporting keyed by the full benchmark name (arguments included, the
// "/repeats:N" suffix dropped), for benchmarks that run one function at
// several sizes: "fft_integer/9" / "fft_reference/9". Fastest repetition of
// each, measured in the same run; also the time per unit of work of a run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

class QZ_Named_Ratio_Reporter : public benchmark::ConsoleReporter {
public:
    QZ_Named_Ratio_Reporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            std::string name = r.benchmark_name();
            if (auto p = name.find("/repeats:"); p != std::string::npos) name.erase(p);
            Best& b = best_.try_emplace(name).first->second;
            const double t = r.GetAdjustedCPUTime();
            if (t < b.time) b.time = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // "subject / baseline = ratio (target <= x: met|MISSED)"; false if a pair is missing.
    bool print_ratios(const std::vector<std::pair<std::string, std::string>>& pairs,
                      const std::vector<double>& targets) const {
        bool ok = true;
        std::printf("\nratios (fastest repetition of each, same run):\n");
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            auto a = best_.find(pairs[i].first), b = best_.find(pairs[i].second);
            if (a == best_.end() || b == best_.end()) {
                std::printf("  %s / %s: not run\n", pairs[i].first.c_str(), pairs[i].second.c_str());
                ok = false;
                continue;
            }
            const double ratio = a->second.time / b->second.time;
            std::printf("  %-22s / %-22s = %.3f  (target <= %.2f: %s)\n", pairs[i].first.c_str(),
                        pairs[i].second.c_str(), ratio, targets[i], ratio <= targets[i] ? "met" : "MISSED");
        }
        return ok;
    }

    // Time of the fastest repetition per unit of work (ns, when the run's time
    // unit is the default) against an absolute target.
    void print_per_unit(const std::string& name, double units, const char* unit, double target) const {
        auto a = best_.find(name);
        if (a == best_.end()) {
            std::printf("  %s: not run\n", name.c_str());
            return;
        }
        const double v = a->second.time / units;
        std::printf("  %-22s %.3f ns/%s  (target <= %.2f: %s)\n", name.c_str(), v, unit, target,
                    v <= target ? "met" : "MISSED");
    }

private:
    struct Best {
        double time = std::numeric_limits<double>::max();
    };
    std::map<std::string, Best> best_;
};
