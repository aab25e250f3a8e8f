// Ping-pong round trips per second: the console window (offscreen) against the simulated amplifier
// over loopback, every line logged, against a plain blocking socket client doing the same exchange
// with the same simulator in the same run (the baseline).
#include "AmpsimProcess.h"
#include "BenchSupport.h"
#include "app/Fconsole.h"
#include "connection/Fopencom.h"
#include "connection/Fselipaddr.h"
#include "connection/TraceIo.h"
#include "log/LogView.h"
#include "platform/QtPlatform.h"

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
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {
constexpr int MeasureMs = 1000;
constexpr int Rounds = 7;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double PlainRoundTrips(int port) {
    int fd = ConnectLoopback(port);
    if (fd < 0) return 0;
    QElapsedTimer timer;
    timer.start();
    long trips = 0;
    char buffer[256];
    while (timer.elapsed() < MeasureMs) {
        if (::write(fd, "ECHO ping\n", 10) != 10) break;
        std::string reply;
        while (reply.empty() || reply.back() != '\n') {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            reply.append(buffer, static_cast<size_t>(n));
        }
        ++trips;
    }
    ::close(fd);
    return trips * 1000.0 / static_cast<double>(timer.elapsed());
}

// The console, connected to the simulator through its own dialog and settings.
std::unique_ptr<TFormConsole> OpenConsole(int port) {
    auto console = std::make_unique<TFormConsole>();
    FormConsole = console.get();
    FormSelIpAddr = new TFormSelIpAddr(console.get());
    FormOpenCom = new TFormOpenCom(console.get());
    FormOpenCom->ListPorts = [] { return std::vector<std::string>{}; };
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane")
        .setValue("Connection", QString("tcp:127.0.0.1:%1").arg(port));
    QTimer::singleShot(50, [] { FormOpenCom->findChild<QPushButton*>("ButtonOk")->click(); });
    console->show();
    console->FormActivate();
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
    if (!amp.ready()) {
        std::fprintf(stderr, "ampsim did not start: %s\n", amp.error().c_str());
        return 1;
    }
    auto console = OpenConsole(amp.tcpPort());
    if (!console->Connected()) {
        std::fprintf(stderr, "the console did not connect\n");
        return 1;
    }
    // Alternating rounds, medians: on a shared machine single runs vary widely.
    std::vector<double> plain, logged;
    for (int round = 0; round < Rounds; ++round) {
        plain.push_back(PlainRoundTrips(amp.tcpPort()));
        logged.push_back(ConsoleRoundTrips(*console));
    }
    double base = Median(plain);
    double ours = Median(logged);
    std::printf("plain socket client: median %.0f round trips/s over %d rounds\n", base, Rounds);
    std::printf("console ping-pong, every line logged: median %.0f round trips/s\n", ours);
    std::printf("ratio console / plain = %.2f\n", ours / base);
    console->close();
    FormOpenCom = nullptr;
    FormSelIpAddr = nullptr;
    FormConsole = nullptr;
    console.reset();
    return 0;
}
