#include "RatioReporter.h"

#include <cstdio>

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
        auto rate = run.counters.find("items_per_second");
        if (rate != run.counters.end()) rates_[run.run_name.function_name] = rate->second.value;
    }
}

void RatioReporter::Finalize() {
    ConsoleReporter::Finalize();
    for (const auto& [name, baseline] : pairs_) {
        auto a = rates_.find(name);
        auto b = rates_.find(baseline);
        if (a == rates_.end() || b == rates_.end() || b->second <= 0) continue;
        std::printf("ratio %s / %s = %.2f (%.0f/s against %.0f/s)\n", name.c_str(), baseline.c_str(),
                    a->second / b->second, a->second, b->second);
    }
}

namespace {
bool initialized = false;
}

void InitializeBenchmarks(int& argc, char** argv) {
    if (initialized) return;
    initialized = true;
    benchmark::Initialize(&argc, argv);
}

int RunWithRatios(int argc, char** argv, std::vector<std::pair<std::string, std::string>> pairs) {
    InitializeBenchmarks(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(std::move(pairs));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
