// Ratio reporting for benchmarks that carry their own baseline: the console
// table as usual, then, for each (subject, baseline) pair, the ratio of their
// fastest repetitions measured in this same run.
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
            double& best = best_.try_emplace(r.run_name.function_name, std::numeric_limits<double>::max())
                               .first->second;
            const double t = r.GetAdjustedCPUTime();
            if (t < best) best = t;
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

private:
    std::map<std::string, double> best_;
};
