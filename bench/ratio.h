// Ratio reporting for benchmarks that carry their own baseline: the console
// table as usual, then, for each (subject, baseline) pair, the ratio of their
// fastest repetitions measured in this same run. A run is found by its function
// name ("BM_lopass") or by its full name without the "/repeats:N" suffix
// ("fft_integer/9"), for functions run at several sizes.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

class QZ_Ratio_Reporter : public benchmark::ConsoleReporter {
public:
    // Plain table without colour codes: the output usually goes to a log.
    QZ_Ratio_Reporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            std::string full = r.benchmark_name();
            if (auto p = full.find("/repeats:"); p != std::string::npos) full.erase(p);
            const double t = r.GetAdjustedCPUTime();
            keep(full, t);
            if (r.run_name.function_name != full) keep(r.run_name.function_name, t);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Prints "subject / baseline = ratio (target)" lines; returns false when a
    // pair is missing.
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
            const double ratio = a->second / b->second;
            std::printf("  %-28s / %-28s = %.3f  (target <= %.2f: %s)\n", pairs[i].first.c_str(),
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
        const double v = a->second / units;
        std::printf("  %-22s %.3f ns/%s  (target <= %.2f: %s)\n", name.c_str(), v, unit, target,
                    v <= target ? "met" : "MISSED");
    }

private:
    void keep(const std::string& name, double t) {
        double& best = best_.try_emplace(name, std::numeric_limits<double>::max()).first->second;
        if (t < best) best = t;
    }
    std::map<std::string, double> best_;
};
