#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Prints the usual table, then each measured case as a speed ratio against its reference run in
// the same process: ratio = reference time / case time, so above 1 is faster than the reference.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Each pair: (case name, reference name), as Google Benchmark names the runs.
    explicit RatioReporter(std::vector<std::pair<std::string, std::string>> pairs)
        : pairs_(std::move(pairs))
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios(const char* what) const
    {
        std::printf("\n%s\n", what);
        for (const auto& [name, reference] : pairs_) {
            const auto a = times_.find(name), b = times_.find(reference);
            if (a == times_.end() || b == times_.end() || a->second <= 0)
                continue;
            std::printf("  %-44s %6.2fx  (reference %s)\n", name.c_str(), b->second / a->second, reference.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
    std::map<std::string, double> times_;
};
