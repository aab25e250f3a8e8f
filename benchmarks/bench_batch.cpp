// The batch runner against the simulated amplifier (no reply delay): a 10 000-line script run by
// the batch window through the console, every line logged, against a plain blocking socket client
// sending the same lines one reply at a time in the same run (the baseline). The same script run by
// the headless runner (the corvane program with --batch, as a child process, its log on standard
// output into a file) is compared with the window.
//
// Lines per second come from both over loopback. The time from a reply's arrival to the next
// command leaving is taken by a small relay between client and amplifier: it stamps each reply it
// hands to the client and the next command it gets back. Both clients are measured through such a
// relay as well, so the difference of the two is what the runner adds per line.
//
// The headless runner against what a test engineer would write instead, a Python loop over
// pyvisa-py (the distribution's python3-pyvisa-py, installed by scripts/bootstrap): 5 000 STATUS?
// each, straight to the amplifier, the steady rate from each one's own time stamps (the runner's
// log from its first Tx to its last, the loop's clock from its first query to its last), so
// neither's start counts. Both again while the benchmark keeps every CPU busy with threads of its
// own at a lower priority, as a compile would on a shared test station. Each round runs the two one
// right after the other, the order alternating, and the ratio printed is the median of the rounds'
// ratios, so that what else the machine does falls on both alike. Goal: the runner at least twice
// the loop's rate on a quiet machine, and at least as fast as it under that load.
#include "AmpsimProcess.h"
#include "BenchSupport.h"
#include "RatioReporter.h"
#include "StatusLoops.h"
#include "app/Fconsole.h"
#include "app/Wiring.h"
#include "batch/Fbatchsend.h"
#include "connection/Fopencom.h"
#include "connection/Fselipaddr.h"
#include "connection/TraceIo.h"
#include "log/LogView.h"
#include "platform/QtPlatform.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {
// The load's priority: what a compile in the background runs at.
constexpr int LoadNice = 10;
using Clock = std::chrono::steady_clock;
constexpr int ScriptLines = 10000;

std::string ScriptLine(int i) {
    return "ECHO line " + std::to_string(i);
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Forwards one client's bytes to the amplifier and back, and measures for each reply how long
// the client takes to send its next command.
class Relay {
public:
    explicit Relay(int upstreamPort) : upstreamPort_(upstreamPort) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listen_, 1);
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        if (::pipe(wake_) != 0) wake_[0] = wake_[1] = -1;
        thread_ = std::thread([this] { Run(); });
    }
    ~Relay() {
        (void)!::write(wake_[1], "x", 1);
        thread_.join();
        for (int fd : {listen_, wake_[0], wake_[1]})
            ::close(fd);
    }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    int Port() const { return port_; }
    // Seconds from the first command to the last reply handed over, since the last call.
    double TakeSpan() {
        std::lock_guard guard(lock_);
        double span = firstCommand_ && lastReply_
                          ? std::chrono::duration<double>(*lastReply_ - *firstCommand_).count()
                          : 0;
        firstCommand_.reset();
        lastReply_.reset();
        return span;
    }
    // Microseconds from each reply handed over to the next command, since the last call.
    std::vector<double> TakeTurnarounds() {
        std::lock_guard guard(lock_);
        return std::exchange(turnarounds_, {});
    }

private:
    void Run() {
        pollfd first[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(first, 2, -1) <= 0 || !(first[0].revents & POLLIN)) return;
        int client = ::accept(listen_, nullptr, nullptr);
        int upstream = ConnectLoopback(upstreamPort_);
        SetNoDelay(client);
        Pump(client, upstream);
        ::close(client);
        ::close(upstream);
    }

    void Pump(int client, int upstream) {
        char buffer[64 * 1024];
        bool replied = false;
        Clock::time_point replyTime;
        for (;;) {
            pollfd fds[3] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(fds, 3, -1) <= 0 || fds[2].revents) return;
            if (fds[0].revents) {
                ssize_t n = ::read(client, buffer, sizeof buffer);
                Clock::time_point arrived = Clock::now();
                if (n <= 0 || !WriteAll(upstream, buffer, static_cast<size_t>(n))) return;
                {
                    std::lock_guard guard(lock_);
                    if (!firstCommand_) firstCommand_ = arrived;
                }
                if (replied) {
                    std::lock_guard guard(lock_);
                    turnarounds_.push_back(
                        std::chrono::duration<double, std::micro>(arrived - replyTime).count());
                    replied = false;
                }
            }
            if (fds[1].revents) {
                ssize_t n = ::read(upstream, buffer, sizeof buffer);
                if (n <= 0 || !WriteAll(client, buffer, static_cast<size_t>(n))) return;
                replied = true;
                replyTime = Clock::now();
                std::lock_guard guard(lock_);
                lastReply_ = replyTime;
            }
        }
    }

    int upstreamPort_;
    int listen_ = -1;
    int port_ = 0;
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::mutex lock_;
    std::vector<double> turnarounds_;                           // guarded by lock_
    std::optional<Clock::time_point> firstCommand_, lastReply_; // guarded by lock_
};

AmpsimProcess& Amp() {
    static AmpsimProcess amp({"--tcp", "127.0.0.1:0"});
    return amp;
}

// Seconds per line of the last measured run of each benchmark, for the summary.
std::map<std::string, double> secondsPerLine;

void ReportTurnarounds(benchmark::State& state, Relay& relay) {
    std::vector<double> values = relay.TakeTurnarounds();
    if (values.empty()) return;
    std::sort(values.begin(), values.end());
    state.counters["reply_to_cmd_p50_us"] = values[values.size() / 2];
    state.counters["reply_to_cmd_p99_us"] = values[values.size() * 99 / 100];
    state.counters["reply_to_cmd_mean_us"] =
        std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

// The baseline: one line, wait for its reply line, the next line.
void RunPlainScript(int fd) {
    char buffer[4096];
    for (int i = 0; i < ScriptLines; ++i) {
        std::string line = ScriptLine(i) + "\n";
        if (!WriteAll(fd, line.data(), line.size())) return;
        std::string reply;
        while (reply.empty() || reply.back() != '\n') {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) return;
            reply.append(buffer, static_cast<size_t>(n));
        }
    }
}

void PlainSocketScript(benchmark::State& state, const char* name, Relay* relay) {
    int fd = ConnectLoopback(relay ? relay->Port() : Amp().TcpPort());
    if (fd < 0) {
        state.SkipWithError("cannot connect");
        return;
    }
    Clock::time_point start = Clock::now();
    for (auto _ : state)
        RunPlainScript(fd);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    secondsPerLine[name] = seconds / static_cast<double>(state.iterations() * ScriptLines);
    state.SetItemsProcessed(state.iterations() * ScriptLines);
    if (relay) ReportTurnarounds(state, *relay);
}

void BM_PlainSocketScript(benchmark::State& state) {
    PlainSocketScript(state, "BM_PlainSocketScript", nullptr);
}

void BM_PlainSocketScriptRelayed(benchmark::State& state) {
    Relay relay(Amp().TcpPort());
    PlainSocketScript(state, "BM_PlainSocketScriptRelayed", &relay);
}

// The program's windows, the console connected through the relay by its own dialog.
struct Windows {
    std::unique_ptr<TFormConsole> console;
    std::unique_ptr<Relay> relay;
};
Windows* windows = nullptr;

bool OpenWindows(Windows& w) {
    w.relay = std::make_unique<Relay>(Amp().TcpPort());
    w.console = OpenConsoleOn(w.relay->Port(), [](TFormConsole& console) {
        FormBatchSend = new TFormBatchSend(&console);
        WireBatchToConsole(console, *FormBatchSend);
    });
    if (!w.console->Session().Connected()) return false;
    QStringList script;
    for (int i = 0; i < ScriptLines; ++i)
        script.append(ToQt(ScriptLine(i)));
    FormBatchSend->findChild<QPlainTextEdit*>("Memo1")->setPlainText(script.join('\n'));
    w.console->findChild<QPushButton*>("ButtonSendBatch")->click();
    return FormBatchSend->isVisible();
}

// One run of the whole script: Start, Next for the first line, then every reply runs the next.
void RunBatchScript() {
    TFormConsole& console = *windows->console;
    const size_t expected = console.Log()->Lines().Count() + 1 + 2 * ScriptLines; // begin, Tx and Rx
    FormBatchSend->findChild<QPushButton*>("ButtonRewind")->click();
    FormBatchSend->findChild<QPushButton*>("ButtonNext")->click();
    // The run ends when the last line is sent; its reply is awaited so the next run starts quiet.
    while (FormBatchSend->Runner().Running() || console.Log()->Lines().Count() < expected)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

void BM_BatchRunnerScript(benchmark::State& state) {
    windows->relay->TakeTurnarounds();
    Clock::time_point start = Clock::now();
    for (auto _ : state)
        RunBatchScript();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    secondsPerLine["BM_BatchRunnerScript"] = seconds / static_cast<double>(state.iterations() * ScriptLines);
    state.SetItemsProcessed(state.iterations() * ScriptLines);
    ReportTurnarounds(state, *windows->relay);
}

// The headless runner: a child process per run, through a relay of its own. The time taken is the
// relay's span from the first command to the last reply, the measure in which the window's run is
// also taken (it begins with Next, so neither counts the first step's wait, the program's start or
// the connect); the whole process is given as a counter.
bool RunHeadlessScript(const std::string& script, const std::string& logPath, int port,
                       double& processSeconds) {
    std::string connection = "tcp:127.0.0.1:" + std::to_string(port);
    std::string program = CORVANE_BIN_DIR "/corvane";
    Clock::time_point start = Clock::now();
    const bool succeeded =
        WaitSucceeded(SpawnWithOutput({program, "--batch", script, "--connect", connection}, logPath));
    processSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    return succeeded;
}

void BM_HeadlessRunnerScript(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string script = FromQt(dir.filePath("script.txt"));
    const std::string log = FromQt(dir.filePath("log.txt"));
    {
        std::FILE* file = std::fopen(script.c_str(), "wb");
        for (int i = 0; i < ScriptLines; ++i)
            std::fprintf(file, "%s\r\n", ScriptLine(i).c_str());
        std::fclose(file);
    }
    double spans = 0;
    double processes = 0;
    for (auto _ : state) {
        Relay relay(Amp().TcpPort());
        double processSeconds = 0;
        if (!RunHeadlessScript(script, log, relay.Port(), processSeconds)) {
            state.SkipWithError("the headless run failed");
            return;
        }
        double span = relay.TakeSpan();
        state.SetIterationTime(span);
        spans += span;
        processes += processSeconds;
    }
    const double runs = static_cast<double>(state.iterations());
    secondsPerLine["BM_HeadlessRunnerScript"] = spans / (runs * ScriptLines);
    state.counters["process_s"] = processes / runs;
    state.SetItemsProcessed(state.iterations() * ScriptLines);
}

// ---- The headless runner against a Python VISA loop ---------------------------------------

constexpr int StatusQueries = 5000;
struct StatusFiles {
    QTemporaryDir dir;
    std::string script = FromQt(dir.filePath("status.txt"));
    std::string pyLoop = FromQt(dir.filePath("pyvisa_loop.py"));
    std::string out = FromQt(dir.filePath("out.txt"));
    StatusFiles() {
        std::ofstream(script, std::ios::binary) << [] {
            std::string text;
            for (int i = 0; i < StatusQueries; ++i)
                text += "STATUS?\r\n";
            return text;
        }();
        std::ofstream(pyLoop, std::ios::binary) << PyVisaStatusLoop;
    }
};

StatusFiles& Files() {
    static StatusFiles files;
    return files;
}

// One run of the runner: the rate from its log's stamps (intervals per second); 0 when it failed.
double RunnerRate(std::string& error) {
    StatusFiles& files = Files();
    const std::string connection = "tcp:127.0.0.1:" + std::to_string(Amp().TcpPort());
    if (!RunChild({CORVANE_BIN_DIR "/corvane", "--batch", files.script, "--connect", connection},
                  files.out)) {
        error = "the headless run failed";
        return 0;
    }
    int count = 0;
    const double span = TxSpan(ReadWhole(files.out), count);
    if (count != StatusQueries || span <= 0) {
        error = "the runner's log does not hold every Tx line";
        return 0;
    }
    return (count - 1) / span;
}

// One run of the Python loop, its rate by its own clock; 0 when it failed.
double PyVisaRate(std::string& error) {
    StatusFiles& files = Files();
    if (!RunChild({DistributionPython, files.pyLoop, std::to_string(Amp().TcpPort()),
                   std::to_string(StatusQueries)},
                  files.out)) {
        error = "the pyvisa-py loop failed: is python3-pyvisa-py installed (scripts/bootstrap)?";
        return 0;
    }
    const double span = std::atof(ReadWhole(files.out).c_str());
    if (span <= 0) error = "the pyvisa-py loop printed no time";
    return span <= 0 ? 0 : (StatusQueries - 1) / span;
}

// The reference of what the peer and the system allow: the same queries from a plain blocking
// socket loop in this process, which does nothing else (no log, no script). Its rate, by its own
// clock from its first query to its last; 0 when it failed.
double PlainSocketRate() {
    int fd = ConnectLoopback(Amp().TcpPort());
    if (fd < 0) return 0;
    char buffer[4096];
    Clock::time_point first, last;
    for (int i = 0; i < StatusQueries; ++i) {
        last = Clock::now();
        if (i == 0) first = last;
        if (!WriteAll(fd, "STATUS?\n", 8)) break;
        for (ssize_t n = 0; n <= 0 || buffer[n - 1] != '\n';) {
            n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fd);
                return 0;
            }
        }
    }
    ::close(fd);
    return (StatusQueries - 1) / std::chrono::duration<double>(last - first).count();
}

// The ratios of each case for the summary: the runner's and the plain loop's against the Python loop.
struct PyVisaRatio {
    double runner = 0;
    double plain = 0;
};
std::map<std::string, PyVisaRatio> pyVisaRatios;

// Each iteration runs the three, one right after the other, the order turning, so that what else
// the machine does falls on all alike; a ratio is the median of the iterations' ratios. The
// iteration's time is the runner's steady span, so items_per_second is its rate.
void HeadlessVsPyVisa(benchmark::State& state, const char* name, bool loaded) {
    std::optional<CpuLoad> load;
    if (loaded) load.emplace(LoadNice);
    std::vector<double> runner, loop, plain, ratios, plainRatios;
    std::string error;
    for (auto _ : state) {
        double rates[3] = {0, 0, 0}; // runner, Python loop, plain loop
        for (size_t k = 0; k < 3; ++k) {
            const size_t which = (runner.size() + k) % 3;
            rates[which] = which == 0   ? RunnerRate(error)
                           : which == 1 ? PyVisaRate(error)
                                        : PlainSocketRate();
            if (which == 2 && rates[which] <= 0) error = "the plain socket loop failed";
            if (rates[which] <= 0) break;
        }
        if (rates[0] <= 0 || rates[1] <= 0 || rates[2] <= 0) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime((StatusQueries - 1) / rates[0]);
        runner.push_back(rates[0]);
        loop.push_back(rates[1]);
        plain.push_back(rates[2]);
        ratios.push_back(rates[0] / rates[1]);
        plainRatios.push_back(rates[2] / rates[1]);
    }
    state.SetItemsProcessed(state.iterations() * (StatusQueries - 1));
    state.counters["runner_per_s"] = Median(runner);
    state.counters["pyvisa_per_s"] = Median(loop);
    state.counters["plain_per_s"] = Median(plain);
    pyVisaRatios[name] = {Median(ratios), Median(plainRatios)};
    state.counters["ratio"] = pyVisaRatios[name].runner;
    if (load) state.counters["load_threads"] = load->Threads();
}

void BM_HeadlessVsPyVisa(benchmark::State& state) {
    HeadlessVsPyVisa(state, "quiet", false);
}
void BM_HeadlessVsPyVisaLoaded(benchmark::State& state) {
    HeadlessVsPyVisa(state, "loaded", true);
}

BENCHMARK(BM_PlainSocketScript)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSocketScriptRelayed)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BatchRunnerScript)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeadlessRunnerScript)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeadlessVsPyVisa)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeadlessVsPyVisaLoaded)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);

void PrintAddedPerLine() {
    auto ours = secondsPerLine.find("BM_BatchRunnerScript");
    auto base = secondsPerLine.find("BM_PlainSocketScriptRelayed");
    if (ours == secondsPerLine.end() || base == secondsPerLine.end()) return;
    std::printf("the runner adds %.1f us per line over the plain client (target: under 1000 us)\n",
                (ours->second - base->second) * 1e6);
    auto headless = secondsPerLine.find("BM_HeadlessRunnerScript");
    if (headless == secondsPerLine.end()) return;
    std::printf("per line: batch window %.1f us, headless runner %.1f us (target: headless no slower)\n",
                ours->second * 1e6, headless->second * 1e6);
}

void PrintPyVisaRatios() {
    auto quiet = pyVisaRatios.find("quiet");
    if (quiet != pyVisaRatios.end())
        std::printf(
            "ratio headless runner / pyvisa-py loop, %d STATUS?, no load of the benchmark's own: %.2f "
            "(goal: at least 2; a plain blocking socket loop: %.2f)\n",
            StatusQueries, quiet->second.runner, quiet->second.plain);
    auto loaded = pyVisaRatios.find("loaded");
    if (loaded != pyVisaRatios.end())
        std::printf(
            "ratio headless runner / pyvisa-py loop, %d STATUS?, every CPU kept busy at nice %d: %.2f "
            "(goal: at least 1; a plain blocking socket loop: %.2f)\n",
            StatusQueries, LoadNice, loaded->second.runner, loaded->second.plain);
}
} // namespace

int main(int argc, char** argv) {
    InitializeBenchmarks(argc, argv); // before the simulator and the windows start
    QtBenchEnvironment environment(argc, argv);
    if (!Amp().Ready()) {
        std::fprintf(stderr, "ampsim did not start: %s\n", Amp().Error().c_str());
        return 1;
    }
    Windows w;
    windows = &w;
    if (!OpenWindows(w)) {
        std::fprintf(stderr, "the console did not connect or the batch window did not show\n");
        return 1;
    }
    int result = RunWithRatios(argc, argv,
                               {{"BM_BatchRunnerScript", "BM_PlainSocketScriptRelayed"},
                                {"BM_HeadlessRunnerScript", "BM_BatchRunnerScript"},
                                {"BM_PlainSocketScriptRelayed", "BM_PlainSocketScript"}});
    PrintAddedPerLine();
    PrintPyVisaRatios();
    w.console->close();
    FormBatchSend = nullptr;
    FormOpenCom = nullptr;
    FormSelIpAddr = nullptr;
    FormConsole = nullptr;
    w.console.reset();
    w.relay.reset();
    windows = nullptr;
    return result;
}
