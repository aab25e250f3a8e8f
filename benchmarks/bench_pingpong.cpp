// Ping-pong round trips per second: the console window (offscreen) against the simulated amplifier
// over loopback, every line logged, against two raw socket clients doing the same exchange with
// the same simulator in the same run (the baselines): one that blocks in read, and one that
// busy-polls its socket, which is the practical limit on this machine (it never pays a wake-up).
// The console runs with the raw trace going to a file, to /dev/null and switched off, since the
// trace must cost little when standard output is a file. It also runs with the session log file
// on (trace off), against the same console with it off: the file must cost little too. And it
// runs with received lines framed at CR LF and at either of CR and LF (the simulator ends its lines
// with CR LF, so every framing sees the same lines), against the LF framing of the trace-off rounds.
// And the console and the blocking client run again while two threads at nice 5 keep every CPU
// busy (a compile in the background): the console must keep its pace there as a plain client
// does; one more loaded round reads the scheduler's figures per thread (time waiting for a CPU
// per round trip), which show where a round trip's time goes.
#include "AmpsimProcess.h"
#include "BenchSupport.h"
#include "app/Fconsole.h"
#include "connection/Fopencom.h"
#include "connection/Fselipaddr.h"
#include "connection/LineEnds.h"
#include "connection/TraceIo.h"
#include "log/LogView.h"
#include "platform/QtPlatform.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {
constexpr int MeasureMs = 1000;
constexpr int Rounds = 10;
constexpr int LoadNice = 5;

// One raw client's round trips per second; busyPoll: the socket is read with non-blocking calls
// in a loop instead of blocking reads.
double RawRoundTrips(int port, bool busyPoll) {
    int fd = ConnectLoopback(port);
    if (fd < 0) return 0;
    const int flags = busyPoll ? MSG_DONTWAIT : 0;
    QElapsedTimer timer;
    timer.start();
    long trips = 0;
    char buffer[256];
    bool failed = false;
    while (!failed && timer.elapsed() < MeasureMs) {
        if (::write(fd, "ECHO ping\n", 10) != 10) break;
        std::string reply;
        while (reply.empty() || reply.back() != '\n') {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, flags);
            if (n < 0 && busyPoll && errno == EAGAIN) {
                // Give the CPU up between tries, or on a machine with more threads than cores the
                // poller starves the very simulator it waits for.
                std::this_thread::yield();
                continue;
            }
            if (n <= 0) {
                failed = true;
                break;
            }
            reply.append(buffer, static_cast<size_t>(n));
        }
        ++trips;
    }
    ::close(fd);
    return trips * 1000.0 / static_cast<double>(timer.elapsed());
}

// The console, connected to the simulator, with its input line ready.
std::unique_ptr<TFormConsole> OpenConsole(int port) {
    auto console = OpenConsoleOn(port);
    console->findChild<QLineEdit*>("EditRawIn")->setText("ECHO ping");
    return console;
}

double ConsoleRoundTrips(TFormConsole& console) {
    size_t before = console.Log()->Lines().Count();
    QElapsedTimer timer;
    timer.start();
    console.findChild<QCheckBox*>("CheckBoxPingPong")->click();
    while (timer.elapsed() < MeasureMs)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    console.findChild<QCheckBox*>("CheckBoxPingPong")->click();
    double seconds = static_cast<double>(timer.elapsed()) / 1000.0;
    // Let the last reply in flight arrive, so the next round starts quiet.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 50)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    // Each round trip logs a Tx and an Rx line.
    return static_cast<double>(console.Log()->Lines().Count() - before) / 2.0 / seconds;
}
} // namespace

int main(int argc, char** argv) {
    QtBenchEnvironment environment(argc, argv);
    AmpsimProcess amp({"--tcp", "127.0.0.1:0"});
    if (!amp.Ready()) {
        std::fprintf(stderr, "ampsim did not start: %s\n", amp.Error().c_str());
        return 1;
    }
    auto console = OpenConsole(amp.TcpPort());
    if (!console->Session().Connected()) {
        std::fprintf(stderr, "the console did not connect\n");
        return 1;
    }
    // Where the trace goes in each console round; the file is truncated before each round.
    QTemporaryDir traceDir;
    const QByteArray tracePath = traceDir.filePath("trace.txt").toLocal8Bit();
    std::FILE* devNull = std::fopen("/dev/null", "w");
    auto consoleWithTrace = [&](std::FILE* stream) {
        SetTraceStream(stream);
        double rate = ConsoleRoundTrips(*console);
        SetTraceStream(nullptr);
        return rate;
    };
    // Alternating rounds, medians: on a shared machine single runs vary widely. Each round starts
    // with a different one of the eight, so none always follows the same neighbour.
    const std::string sessionPath = traceDir.filePath("session.txt").toStdString();
    console->ChooseLogFile = [&](std::string& path) {
        path = sessionPath;
        return true;
    };
    QAction* logToFile = console->findChild<QAction*>("miLogToFile");
    auto consoleWithLogFile = [&] {
        logToFile->trigger();
        double rate = ConsoleRoundTrips(*console);
        logToFile->trigger();
        return rate;
    };
    // The console reopened through its dialog with these line ends for TCP.
    auto reopenWith = [&](RxLineEnd end) {
        FormOpenCom->LineEndsByKind["tcp"] = LineEnds{TxLineEnd::Lf, end};
        QTimer::singleShot(50, [] { FormOpenCom->findChild<QPushButton*>("ButtonOk")->click(); });
        console->OpenConnection();
    };
    auto consoleFramedBy = [&](RxLineEnd end) {
        reopenWith(end);
        double rate = ConsoleRoundTrips(*console);
        reopenWith(RxLineEnd::Lf);
        return rate;
    };
    std::vector<double> blocking, busy, toFile, toNull, off, logFile, crLf, crOrLf, loadedConsole,
        loadedBlocking;
    const std::vector<std::function<void()>> measures{
        [&] { blocking.push_back(RawRoundTrips(amp.TcpPort(), false)); },
        [&] { busy.push_back(RawRoundTrips(amp.TcpPort(), true)); },
        [&] {
            std::FILE* file = std::fopen(tracePath.constData(), "w");
            toFile.push_back(consoleWithTrace(file));
            if (file) std::fclose(file);
        },
        [&] { toNull.push_back(consoleWithTrace(devNull)); },
        [&] { off.push_back(consoleWithTrace(nullptr)); },
        [&] { logFile.push_back(consoleWithLogFile()); },
        [&] { crLf.push_back(consoleFramedBy(RxLineEnd::CrLf)); },
        [&] { crOrLf.push_back(consoleFramedBy(RxLineEnd::Any)); },
        [&] {
            CpuLoad load(LoadNice);
            loadedConsole.push_back(consoleWithTrace(nullptr));
        },
        [&] {
            CpuLoad load(LoadNice);
            loadedBlocking.push_back(RawRoundTrips(amp.TcpPort(), false));
        },
    };
    for (int round = 0; round < Rounds; ++round) {
        for (size_t i = 0; i < measures.size(); ++i)
            measures[(i + static_cast<size_t>(round)) % measures.size()]();
    }
    if (devNull) std::fclose(devNull);
    // Where a loaded round trip waits: each thread's time in a run queue, per round trip.
    std::vector<ThreadSched> sched;
    double schedTrips = 0;
    {
        CpuLoad load(LoadNice);
        const std::vector<ThreadSched> before = ReadThreadSched();
        const size_t lines = console->Log()->Lines().Count();
        consoleWithTrace(nullptr);
        sched = SchedSince(before, ReadThreadSched());
        schedTrips = static_cast<double>(console->Log()->Lines().Count() - lines) / 2.0;
    }
    const double blockingRate = Median(blocking), busyRate = Median(busy);
    const double fileRate = Median(toFile), nullRate = Median(toNull), offRate = Median(off);
    std::printf("raw client, blocking reads: median %.0f round trips/s over %d rounds\n", blockingRate,
                Rounds);
    std::printf("raw client, busy-polling:   median %.0f round trips/s\n", busyRate);
    std::printf("console ping-pong, every line logged, trace to a file:  median %.0f round trips/s\n",
                fileRate);
    std::printf("console ping-pong, every line logged, trace /dev/null:  median %.0f round trips/s\n",
                nullRate);
    std::printf("console ping-pong, every line logged, trace off:        median %.0f round trips/s\n",
                offRate);
    const double logFileRate = Median(logFile);
    std::printf("console ping-pong, every line logged, session log file on: median %.0f round trips/s\n",
                logFileRate);
    std::printf("ratio session log file on / off = %.2f (goal: 0.95 or more)\n", logFileRate / offRate);
    std::printf("ratio CR LF framing / LF framing = %.2f, CR or LF framing / LF framing = %.2f (goal: 0.95 "
                "or more)\n",
                Median(crLf) / offRate, Median(crOrLf) / offRate);
    std::printf("ratio console (trace to a file) / raw blocking client = %.2f\n", fileRate / blockingRate);
    std::printf("ratio console (trace to a file) / raw busy-polling client = %.2f\n", fileRate / busyRate);
    std::printf("ratio trace to a file / trace off = %.2f (goal: 0.90 or more)\n", fileRate / offRate);
    std::printf("ratio trace to a file / trace to /dev/null = %.2f\n", fileRate / nullRate);
    const double loadedConsoleRate = Median(loadedConsole), loadedBlockingRate = Median(loadedBlocking);
    std::printf("under load (every CPU kept busy at nice %d): console ping-pong median %.0f, raw blocking "
                "client %.0f round trips/s\n",
                LoadNice, loadedConsoleRate, loadedBlockingRate);
    std::printf("ratio console loaded / quiet (trace off) = %.3f (goal: 0.5 or more)\n",
                loadedConsoleRate / offRate);
    std::printf("ratio raw blocking client loaded / quiet = %.3f\n", loadedBlockingRate / blockingRate);
    std::printf("one loaded console round, %.0f round trips; threads by time waiting for a CPU:\n",
                schedTrips);
    std::erase_if(sched, [](const ThreadSched& t) { return t.name == CpuLoad::ThreadName; });
    for (size_t i = 0; i < sched.size() && i < 4; ++i) {
        const ThreadSched& t = sched[i];
        const double trips = std::max(1.0, schedTrips);
        std::printf("  %s%-16s waited %.1f ms (%.1f us per round trip), ran %.1f ms in %llu slices\n",
                    t.tid == ::getpid() ? "[UI thread] " : "", t.name.c_str(), t.waitNs / 1e6,
                    t.waitNs / 1e3 / trips, t.runNs / 1e6, static_cast<unsigned long long>(t.slices));
    }
    console->close();
    FormOpenCom = nullptr;
    FormSelIpAddr = nullptr;
    FormConsole = nullptr;
    console.reset();
    return 0;
}
