// Find in the console log at 10 000 000 lines: a whole pass over the packed store for a text that
// only the last line holds (with and without case), for an RE2 pattern, and the count of a text
// that half the lines hold. The baseline in the same run holds the same lines unpacked, one
// std::string each, and looks with std::string::find (or RE2 line by line). The goal is a whole
// pass in under a second.
#include "BenchSupport.h"
#include "RatioReporter.h"
#include "console/LogSearch.h"
#include "log/LogColours.h"

#include <benchmark/benchmark.h>
#include <re2/re2.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {
constexpr std::size_t LineCount = 10'000'000;
const std::string LastLine = "[23:59:59.999] Rx: ERROR 311 INTERLOCK OPEN";
const FindQuery Text{"INTERLOCK", false, true, FindLines::All};
const FindQuery TextAnyCase{"interlock", false, false, FindLines::All};
const FindQuery Pattern{"ERROR \\d+ INTERLOCK", true, true, FindLines::All};

// Ping-pong's lines: a command and its reply a few milliseconds apart, readings that move, so that
// packing them proves nothing a real log would not give.
struct Log {
    LogLines packed;
    std::vector<std::string> plain;
};

void Fill(Log& made) {
    made.plain.reserve(LineCount);
    SampleLogLines sample(0);
    for (std::size_t i = 0; i + 1 < LineCount; ++i) {
        made.plain.push_back(sample.Next());
        made.packed.Append(made.plain.back(), i % 2 == 0 ? LogColours::Tx : LogColours::Rx);
    }
    made.plain.push_back(LastLine);
    made.packed.Append(LastLine, LogColours::Rx);
}

// Made once, before the first clock starts, for every benchmark of the run.
Log& TheLog() {
    static Log log;
    static const bool filled = (Fill(log), true);
    (void)filled;
    return log;
}

struct Figures {
    double seconds = 0;
};
Figures textPacked, textAnyCasePacked, patternPacked, countPacked, textPlain, patternPlain;

void Record(benchmark::State& state, double seconds, Figures& figures) {
    state.SetIterationTime(seconds);
    state.SetItemsProcessed(static_cast<int64_t>(LineCount));
    figures.seconds = seconds;
}

void FindInStore(benchmark::State& state, const FindQuery& query, Figures& figures) {
    Log& log = TheLog();
    LogSearch search(log.packed);
    if (!search.SetQuery(query).empty()) state.SkipWithError("the query does not compile");
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        search.BeginFind(-1, true);
        LogSearch::Progress progress = LogSearch::Progress::Pending;
        while (progress == LogSearch::Progress::Pending)
            progress = search.StepFind(64);
        Record(state, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
               figures);
        if (progress != LogSearch::Progress::Found || search.FoundLine() != LineCount - 1)
            state.SkipWithError("the last line was not found");
    }
}

void BM_FindText_Packed(benchmark::State& state) {
    FindInStore(state, Text, textPacked);
}
void BM_FindTextAnyCase_Packed(benchmark::State& state) {
    FindInStore(state, TextAnyCase, textAnyCasePacked);
}
void BM_FindPattern_Packed(benchmark::State& state) {
    FindInStore(state, Pattern, patternPacked);
}

void BM_CountCommonText_Packed(benchmark::State& state) {
    Log& log = TheLog();
    LogSearch search(log.packed);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        search.SetQuery({"Rx:", false, true, FindLines::All});
        while (!search.StepCount(64)) {
        }
        const auto total = search.Total();
        Record(state, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
               countPacked);
        if (total != LineCount / 2) state.SkipWithError("the count is wrong");
    }
}

template <class Matches> void FindInVector(benchmark::State& state, Matches matches, Figures& figures) {
    const std::vector<std::string>& lines = TheLog().plain;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::size_t found = lines.size();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (matches(lines[i])) {
                found = i;
                break;
            }
        }
        Record(state, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
               figures);
        if (found != LineCount - 1) state.SkipWithError("the last line was not found");
    }
}

void BM_FindText_Vector(benchmark::State& state) {
    FindInVector(
        state, [](const std::string& line) { return line.find(Text.text) != std::string::npos; }, textPlain);
}

void BM_FindPattern_Vector(benchmark::State& state) {
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingLatin1);
    const RE2 pattern(Pattern.text, options);
    FindInVector(
        state, [&](const std::string& line) { return RE2::PartialMatch(line, pattern); }, patternPlain);
}

void PrintSummary() {
    std::printf("\nfind in the log, %zu lines, one whole pass (goal: < 1 s from the packed store):\n",
                LineCount);
    std::printf("  text, packed store:              %7.3f s\n", textPacked.seconds);
    std::printf("  text any case, packed store:     %7.3f s\n", textAnyCasePacked.seconds);
    std::printf("  text, std::string::find, vector: %7.3f s\n", textPlain.seconds);
    std::printf("  RE2 pattern, packed store:       %7.3f s\n", patternPacked.seconds);
    std::printf("  RE2 pattern, vector:             %7.3f s\n", patternPlain.seconds);
    std::printf("  count of a text on half the lines, packed store: %7.3f s\n", countPacked.seconds);
}
} // namespace

int main(int argc, char** argv) {
    InitializeBenchmarks(argc, argv);
    using Benchmark = void (*)(benchmark::State&);
    for (auto [name, function] :
         {std::pair<const char*, Benchmark>{"BM_FindText_Vector", BM_FindText_Vector},
          std::pair<const char*, Benchmark>{"BM_FindText_Packed", BM_FindText_Packed},
          std::pair<const char*, Benchmark>{"BM_FindTextAnyCase_Packed", BM_FindTextAnyCase_Packed},
          std::pair<const char*, Benchmark>{"BM_FindPattern_Vector", BM_FindPattern_Vector},
          std::pair<const char*, Benchmark>{"BM_FindPattern_Packed", BM_FindPattern_Packed},
          std::pair<const char*, Benchmark>{"BM_CountCommonText_Packed", BM_CountCommonText_Packed}})
        benchmark::RegisterBenchmark(name, function)
            ->Iterations(3)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    const int result = RunWithRatios(argc, argv,
                                     {{"BM_FindText_Packed", "BM_FindText_Vector"},
                                      {"BM_FindTextAnyCase_Packed", "BM_FindText_Vector"},
                                      {"BM_FindPattern_Packed", "BM_FindPattern_Vector"}});
    PrintSummary();
    return result;
}
