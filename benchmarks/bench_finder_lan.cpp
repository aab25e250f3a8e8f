// The finder while 500 VXI-11 instruments answer its broadcast, inside a private network namespace
// with a second host (netns-run --two-hosts; where none can be made it says so and measures
// nothing). One ampsim on the second host plays the 500: it answers the UDP GETPORT from each of
// 10.77.1.1 to 10.77.2.244 (addresses this program gives that host) and serves VXI-11 on all of
// them, so every row is asked *IDN? over a connection of its own, at most four at once.
// Figures, while the rows arrive and get their names (the window shown, offscreen):
//  - the event loop's latency: how late a 5 ms timer fires;
//  - a keystroke: from posting a key press to the address box until the loop has handled it;
//  - a repaint of the list;
// each as its 99th percentile and maximum, against the 50 ms a user notices.
#include "AmpsimProcess.h"
#include "BenchSupport.h"
#include "SecondHost.h"
#include "finder/Fampfinder.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
constexpr int Hosts = 500;
constexpr int ProbeMs = 5;
constexpr int GiveUpMs = 30000;
// Each round opens the finder afresh: its VXI-11 rows go and all 500 are found and named again.
constexpr int Rounds = 10;
constexpr char InsideMark[] = "CORVANE_BENCH_IN_NETNS";

// 10.77.1.1 and on: /16 addresses on the second host's end of the pair, reached from here by a
// route of the same width.
std::string HostAddress(int n) {
    const int index = n + 256; // 10.77.1.1 is the 257th address of 10.77.0.0/16
    return "10.77." + std::to_string(index / 256) + "." + std::to_string(index % 256);
}

bool GiveTheSecondHostItsAddresses() {
    if (std::system("ip route add 10.77.0.0/16 dev nr0") != 0) return false;
    OnSecondHost there;
    if (!there.Entered()) return false;
    FILE* ip = ::popen("ip -batch -", "w");
    if (!ip) return false;
    for (int n = 1; n <= Hosts; ++n)
        std::fprintf(ip, "addr add %s/16 dev nr1\n", HostAddress(n).c_str());
    return ::pclose(ip) == 0;
}

struct Percentiles {
    double p99 = 0, max = 0;
};
Percentiles Of(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    return {values[std::min(values.size() - 1, values.size() * 99 / 100)], values.back()};
}

// Probes the loop every ProbeMs while the rows arrive.
struct Probes {
    std::vector<double> lateMs, keyMs, repaintMs;

    void Run(TFormAmpFinder& finder, const std::function<bool()>& done) {
        auto* edit = finder.findChild<QLineEdit*>("EditAddress");
        auto* list = finder.findChild<QTreeWidget*>("ListView1");
        QElapsedTimer clock;
        clock.start();
        qint64 expected = ProbeMs;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(ProbeMs);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed() / 1000000;
            lateMs.push_back(static_cast<double>(std::max<qint64>(0, now - expected)));
            expected = now + ProbeMs;
            const qint64 posted = clock.nsecsElapsed();
            QApplication::postEvent(edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
            QApplication::postEvent(edit, new QKeyEvent(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, "x"));
            QMetaObject::invokeMethod(
                &finder,
                [&, posted] { keyMs.push_back(static_cast<double>(clock.nsecsElapsed() - posted) / 1e6); },
                Qt::QueuedConnection);
            if (edit->text().size() > 20) edit->clear();
            const qint64 before = clock.nsecsElapsed();
            list->viewport()->repaint();
            repaintMs.push_back(static_cast<double>(clock.nsecsElapsed() - before) / 1e6);
        });
        probe.start();
        while (!done() && clock.elapsed() < GiveUpMs)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        probe.stop();
    }
};

size_t NamedRows(TFormAmpFinder& finder) {
    auto* list = finder.findChild<QTreeWidget*>("ListView1");
    size_t named = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        named += !list->topLevelItem(i)->text(2).isEmpty() && list->topLevelItem(i)->text(3) == "VXI-11";
    return named;
}

void Report(const char* what, const std::vector<double>& values) {
    const Percentiles p = Of(values);
    std::printf("%s: 99th percentile %.2f ms, max %.2f ms (%zu samples)\n", what, p.p99, p.max,
                values.size());
}
} // namespace

int main(int argc, char** argv) {
    if (int outside = RunInsideNetns(argv, InsideMark, true); outside >= 0) return outside;
    if (!GiveTheSecondHostItsAddresses()) {
        std::fprintf(stderr, "cannot give the second host its %d addresses\n", Hosts);
        return 1;
    }
    std::unique_ptr<AmpsimProcess> ampsim;
    {
        OnSecondHost there;
        ampsim = std::make_unique<AmpsimProcess>(std::vector<std::string>{
            "--vxi11", "0.0.0.0:111", "--portmapper-udp", HostAddress(1), "--amps", std::to_string(Hosts)});
    }
    if (!ampsim->Ready()) {
        std::fprintf(stderr, "ampsim did not start: %s\n", ampsim->Error().c_str());
        return 1;
    }
    QtBenchEnvironment environment(argc, argv);
    TFormAmpFinder finder;
    finder.ChooseLocalAddress = [](std::string&) { return false; };
    finder.findChild<QCheckBox*>("CheckVxi11")->setChecked(true);
    Probes probes;
    std::vector<double> listedMs, namedMs;
    for (int round = 0; round < Rounds; ++round) {
        QElapsedTimer elapsed;
        elapsed.start();
        double allListed = -1;
        finder.show();
        // What the activation does; offscreen, a window shown again is not activated again.
        finder.StartListener("10.77.0.1");
        probes.Run(finder, [&] {
            if (allListed < 0 && finder.InstrumentRowCount() >= Hosts)
                allListed = static_cast<double>(elapsed.elapsed());
            return NamedRows(finder) >= Hosts;
        });
        listedMs.push_back(allListed);
        namedMs.push_back(static_cast<double>(elapsed.elapsed()));
        if (NamedRows(finder) < Hosts)
            std::printf("round %d: only %zu of %d rows named\n", round, NamedRows(finder), Hosts);
        finder.hide();
    }
    std::printf(
        "%d VXI-11 hosts, %d openings of the finder: all listed after median %.0f ms, all named after "
        "median %.0f ms (max %.0f ms)\n",
        Hosts, Rounds, Median(listedMs), Median(namedMs), *std::max_element(namedMs.begin(), namedMs.end()));
    Report("event loop latency (a 5 ms timer's lateness)", probes.lateMs);
    Report("keystroke into the address box, posted to handled", probes.keyMs);
    Report("repaint of the list", probes.repaintMs);
    finder.hide();
    return 0;
}
