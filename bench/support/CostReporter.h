#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <unistd.h>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Prints the usual table, then each measured case as a cost in units of a reference run in the
// same process: cost = case time / reference time (CPU time), so 4.0 means the case costs four
// references. The mirror of RatioReporter, for cases that are read as "costs N of those".
class CostReporter : public benchmark::ConsoleReporter {
public:
    struct Line {
        std::string name; // the benchmark's function name, without its arguments (/min_time:...)
        std::string reference;
        std::string unit; // what one reference is, for the printed line
    };

    explicit CostReporter(std::vector<Line> lines)
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular)
        , lines_(std::move(lines))
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times_[run.run_name.function_name] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }

    void printCosts(const char* what) const
    {
        std::printf("\n%s\n", what);
        for (const Line& line : lines_) {
            const auto a = times_.find(line.name), b = times_.find(line.reference);
            if (a == times_.end() || b == times_.end() || b->second <= 0)
                continue;
            std::printf("  %-40s costs %8.2f %s  (reference %s)\n", line.name.c_str(), a->second / b->second,
                line.unit.c_str(), line.reference.c_str());
        }
    }

private:
    std::vector<Line> lines_;
    std::map<std::string, double> times_;
};
