#pragma once
// A console reporter that also prints the rate of each benchmark against a baseline benchmark
// of the same run, since only ratios measured together mean anything on a shared machine.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // pairs: (benchmark function name, baseline function name); rates are items_per_second.
    explicit RatioReporter(std::vector<std::pair<std::string, std::string>> pairs)
        : pairs_(std::move(pairs)) {}
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
    std::map<std::string, double> rates_;
};

// Reads the benchmark library's options from the command line. Call it first in main, before any
// window, thread or process starts: "--help" prints and exits there, which with those running
// never returns. Calling it again does nothing.
void InitializeBenchmarks(int& argc, char** argv);

// Runs the registered benchmarks with a RatioReporter; the main of a comparing benchmark program.
// Initializes the benchmark library first unless InitializeBenchmarks did.
int RunWithRatios(int argc, char** argv, std::vector<std::pair<std::string, std::string>> pairs);
