// Round trips per second of TIO::Query against the simulated amplifier over loopback TCP, against
// a plain blocking socket client doing the same exchange in the same run (the baseline).
#include "AmpsimProcess.h"
#include "BenchSupport.h"
#include "RatioReporter.h"
#include "connection/Connection.h"
#include "connection/TraceIo.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace {
AmpsimProcess& Amp() {
    static AmpsimProcess amp({"--tcp", "127.0.0.1:0"});
    return amp;
}

// The baseline: write the command, read until the reply's LF, nothing else.
void BM_PlainSocketQuery(benchmark::State& state) {
    int fd = ConnectLoopback(Amp().TcpPort());
    if (fd < 0) {
        state.SkipWithError("cannot connect to ampsim");
        return;
    }
    static const char command[] = "STATUS?\n";
    char buffer[256];
    for (auto _ : state) {
        if (::write(fd, command, sizeof command - 1) < 0) break;
        std::string reply;
        while (reply.empty() || reply.back() != '\n') {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            reply.append(buffer, static_cast<size_t>(n));
        }
        benchmark::DoNotOptimize(reply.data());
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations());
}

void BM_TioQuery(benchmark::State& state) {
    // The trace is formatted and written as in real use, to a sink that costs no terminal.
    std::FILE* devnull = std::fopen("/dev/null", "w");
    SetTraceStream(devnull);
    Handover ui;
    auto io = std::make_unique<TIO>(ui);
    io->EndChar = '\n';
    io->StartCharEnabled = false;
    size_t lines = 0;
    io->SetOnRxLine([&](const std::string&, TIO*) { ++lines; });
    if (!io->Open("tcp:127.0.0.1:" + std::to_string(Amp().TcpPort()))) {
        state.SkipWithError("cannot connect to ampsim");
        return;
    }
    std::string reply;
    for (auto _ : state) {
        if (!io->Query("STATUS?\n", reply, 1000)) {
            state.SkipWithError("query timed out");
            break;
        }
    }
    io.reset();
    SetTraceStream(nullptr);
    std::fclose(devnull);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_PlainSocketQuery)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_TioQuery)->MinTime(2.0)->UseRealTime();
} // namespace

int main(int argc, char** argv) {
    InitializeBenchmarks(argc, argv); // before the simulator and the windows start
    if (!Amp().Ready()) {
        std::fprintf(stderr, "ampsim did not start: %s\n", Amp().Error().c_str());
        return 1;
    }
    return RunWithRatios(argc, argv, {{"BM_TioQuery", "BM_PlainSocketQuery"}});
}
