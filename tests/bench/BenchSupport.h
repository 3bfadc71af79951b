// A reporter that prints the usual table and then the ratio of each benchmark's time to the
// baseline's, measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

namespace vexil::bench {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    explicit RatioReporter(std::string baseline)
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular),
          baseline_(std::move(baseline)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median") {
                times_[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto base = times_.find(baseline_);
        if (base == times_.end() || base->second <= 0) {
            return;
        }
        for (const auto& [name, time] : times_) {
            if (name != baseline_) {
                std::printf("ratio %s / %s = %.2f\n", name.c_str(), baseline_.c_str(),
                            time / base->second);
            }
        }
    }

  private:
    std::string baseline_;
    std::map<std::string, double> times_;
};

inline int RunWithRatio(int argc, char** argv, const std::string& baseline) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(baseline);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace vexil::bench
