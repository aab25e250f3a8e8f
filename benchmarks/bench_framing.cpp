// Bytes per second through the reader thread's byte processing (framing of received lines).
#include "connection/LineFramer.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {
std::string MakeTraffic(size_t lineLength, size_t bytes) {
    std::string line(lineLength - 2, 'A');
    for (size_t i = 0; i < line.size(); ++i)
        line[i] = static_cast<char>('0' + i % 40);
    line += "\r\n";
    std::string traffic;
    while (traffic.size() < bytes)
        traffic += line;
    return traffic;
}

void BM_Framing(benchmark::State& state) {
    const std::string traffic = MakeTraffic(static_cast<size_t>(state.range(0)), 1 << 20);
    LineFramer framer;
    framer.EndChar = '\n';
    framer.StartCharEnabled = false;
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
    state.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Framing)->Arg(16)->Arg(48)->Arg(200)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
