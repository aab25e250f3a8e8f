// Round trips per second of TIO::Query against the simulated amplifier over loopback TCP, against
// a plain blocking socket client doing the same exchange in the same run (the baseline). And the
// LAN instruments' protocols against the same simulator: our VXI-11 client against pyvisa-py's
// VXI-11 loop (an implementation written elsewhere, as a test engineer's script uses it), and our
// HiSLIP client against the plain socket.
#include "AmpsimProcess.h"
#include "BenchSupport.h"
#include "RatioReporter.h"
#include "connection/Connection.h"
#include "connection/HislipClient.h"
#include "connection/TraceIo.h"
#include "connection/Vxi11Client.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {
AmpsimProcess& Amp() {
    static AmpsimProcess amp({"--tcp", "127.0.0.1:0", "--vxi11", "127.0.0.1:0", "--hislip", "127.0.0.1:0"});
    return amp;
}

constexpr int PyVisaQueries = 2000;

// pyvisa-py's VXI-11 client asks the portmapper on 111 unless its module's port is set.
constexpr char PyVisaLoop[] = R"py(
import sys, time, pyvisa
import pyvisa_py.protocols.rpc as rpc
rpc.PMAP_PORT = int(sys.argv[1])
rm = pyvisa.ResourceManager("@py")
inst = rm.open_resource("TCPIP::127.0.0.1::inst0::INSTR")
inst.read_termination = "\n"
inst.write_termination = "\n"
inst.query("STATUS?")
start = time.perf_counter()
for _ in range(int(sys.argv[2])):
    inst.query("STATUS?")
print("%.6f" % (time.perf_counter() - start))
inst.close()
)py";

// One session's STATUS? queries, each a whole message written and its reply read.
void SessionQueries(benchmark::State& state, MessageSession& session, SessionTarget target) {
    if (!session.Open(target)) {
        state.SkipWithError(("cannot open: " + session.Failure()).c_str());
        return;
    }
    std::string reply;
    for (auto _ : state) {
        if (!session.Write("STATUS?\n", 2000) || !session.Read(reply, 2000)) {
            state.SkipWithError(("query failed: " + session.Failure()).c_str());
            break;
        }
    }
    session.Close();
    state.SetItemsProcessed(state.iterations());
}

void BM_Vxi11Query(benchmark::State& state) {
    Vxi11Client client;
    SessionQueries(state, client, {"127.0.0.1", Amp().PortOf("vxi11"), "inst0"});
}

void BM_HislipQuery(benchmark::State& state) {
    HislipClient client;
    SessionQueries(state, client, {"127.0.0.1", Amp().PortOf("hislip"), "hislip0"});
}

// Each iteration is a whole pyvisa-py loop of PyVisaQueries, timed by the script itself (the
// interpreter's start and the open are not counted).
void BM_PyVisaVxi11Query(benchmark::State& state) {
    char path[] = "/tmp/corvane-pyvisa-XXXXXX.py";
    const int fd = ::mkstemps(path, 3);
    if (fd < 0 || ::write(fd, PyVisaLoop, sizeof PyVisaLoop - 1) < 0) {
        state.SkipWithError("cannot write the pyvisa-py script");
        return;
    }
    ::close(fd);
    const std::string command = std::string("/usr/bin/python3 ") + path + " " +
                                std::to_string(Amp().PortOf("vxi11")) + " " + std::to_string(PyVisaQueries);
    for (auto _ : state) {
        std::FILE* loop = ::popen(command.c_str(), "r");
        double seconds = 0;
        if (!loop || std::fscanf(loop, "%lf", &seconds) != 1 || seconds <= 0) {
            if (loop) ::pclose(loop);
            state.SkipWithError("the pyvisa-py loop failed: is python3-pyvisa-py installed?");
            break;
        }
        ::pclose(loop);
        state.SetIterationTime(seconds);
    }
    std::remove(path);
    state.SetItemsProcessed(state.iterations() * PyVisaQueries);
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
BENCHMARK(BM_Vxi11Query)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_HislipQuery)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PyVisaVxi11Query)->Iterations(3)->UseManualTime();
} // namespace

int main(int argc, char** argv) {
    InitializeBenchmarks(argc, argv); // before the simulator and the windows start
    if (!Amp().Ready()) {
        std::fprintf(stderr, "ampsim did not start: %s\n", Amp().Error().c_str());
        return 1;
    }
    // Goals: VXI-11 at least 2x pyvisa-py's; HiSLIP at least 0.8x the raw socket.
    return RunWithRatios(argc, argv,
                         {{"BM_TioQuery", "BM_PlainSocketQuery"},
                          {"BM_Vxi11Query", "BM_PyVisaVxi11Query"},
                          {"BM_HislipQuery", "BM_PlainSocketQuery"}});
}
