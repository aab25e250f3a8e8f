// Bytes per second through the reader thread's byte processing (framing of received lines), for
// each way of ending a received line against today's LF framing in the same run. The traffic of
// each mode ends its lines as that mode expects, so every mode frames the same number of lines.
#include "RatioReporter.h"
#include "connection/LineEnds.h"
#include "connection/LineFramer.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {
constexpr size_t LineLength = 48;

std::string MakeTraffic(RxLineEnd end, size_t bytes) {
    const std::string ending = end == RxLineEnd::Lf ? "\n" : end == RxLineEnd::Cr ? "\r" : "\r\n";
    std::string line(LineLength - ending.size(), 'A');
    for (size_t i = 0; i < line.size(); ++i)
        line[i] = static_cast<char>('0' + i % 40);
    line += ending;
    std::string traffic;
    while (traffic.size() < bytes)
        traffic += line;
    return traffic;
}

void Frame(benchmark::State& state, RxLineEnd end) {
    const std::string traffic = MakeTraffic(end, 1 << 20);
    LineFramer framer;
    framer.StartCharEnabled = false;
    framer.EndChar = EndCharFor(end);
    framer.Ends = FramerEndsFor(end);
    size_t lines = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(traffic.data());
    for (auto _ : state) {
        // The reader hands the framer chunks of at most 255 bytes.
        for (size_t at = 0; at < traffic.size(); at += 255) {
            size_t n = std::min<size_t>(255, traffic.size() - at);
            framer.Process(bytes + at, n, [&](const std::string& line) {
                benchmark::DoNotOptimize(line.data());
                ++lines;
            });
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * traffic.size()));
    state.SetItemsProcessed(static_cast<int64_t>(lines));
}

void BM_FramingLf(benchmark::State& state) {
    Frame(state, RxLineEnd::Lf);
}
void BM_FramingCr(benchmark::State& state) {
    Frame(state, RxLineEnd::Cr);
}
void BM_FramingCrLf(benchmark::State& state) {
    Frame(state, RxLineEnd::CrLf);
}
void BM_FramingCrOrLf(benchmark::State& state) {
    Frame(state, RxLineEnd::Any);
}
BENCHMARK(BM_FramingLf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FramingCr)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FramingCrLf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FramingCrOrLf)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv) {
    return RunWithRatios(argc, argv,
                         {{"BM_FramingCr", "BM_FramingLf"},
                          {"BM_FramingCrLf", "BM_FramingLf"},
                          {"BM_FramingCrOrLf", "BM_FramingLf"}});
}
