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
#include "AmpsimProcess.h"
#include "BenchSupport.h"
#include "RatioReporter.h"
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
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {
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
    w.console = std::make_unique<TFormConsole>();
    FormConsole = w.console.get();
    FormSelIpAddr = new TFormSelIpAddr(w.console.get());
    FormOpenCom = new TFormOpenCom(w.console.get());
    FormOpenCom->ListPorts = [] { return std::vector<std::string>{}; };
    FormBatchSend = new TFormBatchSend(w.console.get());
    WireBatchToConsole(*w.console, *FormBatchSend);
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane")
        .setValue("Connection", QString("tcp:127.0.0.1:%1").arg(w.relay->Port()));
    QTimer::singleShot(50, [] { FormOpenCom->findChild<QPushButton*>("ButtonOk")->click(); });
    w.console->show();
    w.console->FormActivate();
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
    std::vector<std::string> args{program, "--batch", script, "--connect", connection};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Clock::time_point start = Clock::now();
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    ::waitpid(pid, &status, 0);
    processSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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

BENCHMARK(BM_PlainSocketScript)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSocketScriptRelayed)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BatchRunnerScript)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeadlessRunnerScript)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

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
