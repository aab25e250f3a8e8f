// The amplifier finder with 500 simulated amplifiers answering every hello, inside a private network
// namespace (the program runs itself through netns-run; where none can be made it reports that and
// measures nothing). Figures, each against a baseline measured in the same run:
//  - a hello round on the network: the finder (receive thread, hand-over, rows) against a bare UDP
//    receiver that only counts the 500 replies;
//  - what a round costs the UI thread: 500 replies through OnDiscoveryDatagram plus the removal of
//    silent rows, against parsing the same 500 replies alone;
//  - finding a row: the cost of a reply to a listed row with 5000 rows against 50 (about 1: not
//    linear in the number of rows);
//  - the rows kept while the amplifiers answer, with the real 500 ms hello timer.
#include "AmpsimProcess.h"
#include "BenchSupport.h"
#include "finder/Discovery.h"
#include "finder/Fampfinder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {
constexpr int Amps = 500;
constexpr int Rounds = 15;
constexpr int RoundTimeoutMs = 3000;
constexpr char InsideMark[] = "CORVANE_BENCH_IN_NETNS";

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double ThreadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The baseline: a bare UDP socket on the finder's address that broadcasts the hello and counts the
// replies. Returns the milliseconds until all came (or the time-out); received := how many came.
double BareRound(int fd, int& received) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(DiscoveryPort);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    auto start = Clock::now();
    ::sendto(fd, DiscoveryHello, DiscoveryHelloLength, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    received = 0;
    char buffer[1600];
    while (received < Amps && MsSince(start) < RoundTimeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0)
            ++received;
    }
    return MsSince(start);
}

int BareSocket() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1, room = 1 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    // Another port than the finder's: the amplifiers answer to the hello's sender, so each gets its own.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = 0;
    ::inet_pton(AF_INET, "10.77.0.1", &local.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One hello round through the finder: wall time until 500 replies were handled, and the UI thread's
// processor time meanwhile (hand-overs, rows, and the lingering that keeps the UI thread awake).
double FinderRound(TFormAmpFinder& finder, int& received, double& uiCpuMs) {
    size_t before = finder.DatagramsSeen();
    double cpuBefore = ThreadCpuMs();
    auto start = Clock::now();
    finder.TimerHelloTimer();
    while (finder.DatagramsSeen() < before + Amps && MsSince(start) < RoundTimeoutMs)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    double ms = MsSince(start);
    uiCpuMs = ThreadCpuMs() - cpuBefore;
    received = static_cast<int>(finder.DatagramsSeen() - before);
    return ms;
}

std::vector<std::string> Replies(int count) {
    std::vector<std::string> replies;
    for (int i = 1; i <= count; ++i) {
        char line[128];
        std::snprintf(line, sizeof line, "0050C2%06X 1 10.%d.%d.%d 255.255.255.0 1.0.%d AmpSim-%04d", i,
                      i / 65536 % 256, i / 256 % 256, i % 256, i, i);
        replies.push_back(line);
    }
    return replies;
}

// Milliseconds for the first `count` replies on the UI thread, without the network: the rows exist
// already, as in every round after the first.
double Replied(TFormAmpFinder& finder, const std::vector<std::string>& replies, size_t count) {
    auto start = Clock::now();
    for (size_t i = 0; i < count; ++i)
        finder.OnDiscoveryDatagram(replies[i]);
    return MsSince(start);
}

// A whole round: every reply, then the removal of silent rows that the hello tick does.
double UiRound(TFormAmpFinder& finder, const std::vector<std::string>& replies) {
    auto start = Clock::now();
    Replied(finder, replies, replies.size());
    finder.RemoveStaleEntries(MaxSilenceMs);
    return MsSince(start);
}

double ParseRound(const std::vector<std::string>& replies, size_t count) {
    auto start = Clock::now();
    size_t accepted = 0;
    for (size_t i = 0; i < count; ++i)
        accepted += ParseDiscoveryReply(replies[i]).has_value();
    if (accepted != count) std::printf("parse failed\n");
    return MsSince(start);
}

// Per-reply microseconds with `listed` rows in the list, only `count` of them answering.
double PerReplyMicros(int listed, size_t count, int repeat) {
    TFormAmpFinder finder;
    std::vector<std::string> replies = Replies(listed);
    Replied(finder, replies, replies.size());
    std::vector<double> ms;
    for (int i = 0; i < repeat; ++i)
        ms.push_back(Replied(finder, replies, count));
    return Median(ms) * 1000.0 / static_cast<double>(count);
}

void NetworkRounds(TFormAmpFinder& finder) {
    int bare = BareSocket();
    if (bare < 0) return (void)std::printf("cannot bind the baseline socket\n");
    std::vector<double> bareMs, finderMs, finderCpu;
    int bareLost = 0, finderLost = 0;
    for (int round = 0; round < Rounds; ++round) {
        int received = 0;
        bareMs.push_back(BareRound(bare, received));
        bareLost += Amps - received;
        double cpu = 0;
        finderMs.push_back(FinderRound(finder, received, cpu));
        finderCpu.push_back(cpu);
        finderLost += Amps - received;
    }
    ::close(bare);
    double base = Median(bareMs), ours = Median(finderMs);
    std::printf(
        "hello round, %d replies: bare UDP receiver median %.2f ms (%.1f us/reply, %d lost in %d rounds)\n",
        Amps, base, base * 1000 / Amps, bareLost, Rounds);
    std::printf(
        "hello round, %d replies: finder median %.2f ms (%.1f us/reply, %d lost), UI thread CPU median "
        "%.2f ms\n",
        Amps, ours, ours * 1000 / Amps, finderLost, Median(finderCpu));
    std::printf("UI thread CPU of the costliest round (the first lists the rows): %.2f ms\n",
                *std::max_element(finderCpu.begin(), finderCpu.end()));
    std::printf("ratio finder / bare receiver (time per round) = %.2f\n", ours / base);
}

void UiCost() {
    TFormAmpFinder finder;
    std::vector<std::string> replies = Replies(Amps);
    double first = UiRound(finder, replies);
    std::printf("UI thread, the first round: %d new rows listed in %.3f ms\n", Amps, first);
    std::vector<double> ui, parse;
    for (int i = 0; i < 50; ++i) {
        parse.push_back(ParseRound(replies, replies.size()));
        ui.push_back(UiRound(finder, replies));
    }
    double base = Median(parse), ours = Median(ui);
    std::printf(
        "UI thread, one round of %d replies with %d rows: rows %.3f ms (%.2f us/reply); parsing alone "
        "%.3f ms\n",
        Amps, Amps, ours, ours * 1000 / Amps, base);
    std::printf("ratio round on the UI thread / parsing alone = %.2f\n", ours / base);
    {
        // Every amplifier falls silent at once: the list, shown, loses all its rows in one tick.
        TFormAmpFinder shown;
        uint32_t tick = 1000;
        shown.Now = [&tick] { return tick; };
        shown.show();
        UiRound(shown, replies);
        QApplication::processEvents();
        tick += MaxSilenceMs + 1;
        auto start = Clock::now();
        shown.RemoveStaleEntries(MaxSilenceMs);
        std::printf("UI thread, %d silent rows removed from the shown list in %.3f ms (%zu left)\n", Amps,
                    MsSince(start), shown.RowCount());
        shown.hide();
    }
    double small = PerReplyMicros(50, 50, 200);
    double large = PerReplyMicros(5000, 50, 200);
    std::printf("a reply to a listed row: %.2f us with 5000 rows, %.2f us with 50 rows; ratio = %.2f\n",
                large, small, large / small);
}

// With the real hello timer: how many rows stay listed while every amplifier answers.
void RowsKept(TFormAmpFinder& finder) {
    finder.findChild<QTimer*>("TimerHello")->start();
    size_t least = finder.RowCount(), most = finder.RowCount();
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < 6000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        least = std::min(least, finder.RowCount());
        most = std::max(most, finder.RowCount());
    }
    std::printf("rows with the 500 ms hello timer for 6 s: least %zu, most %zu of %d amplifiers\n", least,
                most, Amps);
}
} // namespace

int main(int argc, char** argv) {
    if (int outside = RunInsideNetns(argv, InsideMark, false); outside >= 0) return outside;
    QtBenchEnvironment environment(argc, argv);
    AmpsimProcess ampsim({"--discovery", "10.77.0.2", "--amps", std::to_string(Amps)});
    if (!ampsim.Ready()) {
        std::fprintf(stderr, "ampsim did not start: %s\n", ampsim.Error().c_str());
        return 1;
    }
    UiCost();
    // Wakes the waits below now and then, so a lost reply ends a round at its time-out.
    QTimer heartbeat;
    heartbeat.start(20);
    TFormAmpFinder finder;
    finder.ChooseLocalAddress = [](std::string& address) {
        address = "10.77.0.1";
        return true;
    };
    finder.findChild<QTimer*>("TimerHello")->stop(); // the rounds below send their own hellos
    finder.show();
    finder.activateWindow();
    QElapsedTimer wait;
    wait.start();
    while (finder.LocalAddress().empty() && wait.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    NetworkRounds(finder);
    std::printf("rows listed after the rounds: %zu of %d\n", finder.RowCount(), Amps);
    RowsKept(finder);
    finder.hide();
    return 0;
}
