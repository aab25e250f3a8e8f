// The plot's costs, each against its baseline or budget in the same run:
// - ping-pong of "FWD?" with the simulated amplifier, with two series that match every reply and
//   the plot window open and following, against the same console without series or plot
//   (goal: 0.90 or more);
// - the memory of 1 000 000 points per series, measured at the allocator (goal: under 24 bytes
//   per point);
// - a repaint of the plot showing all of 2 x 1 000 000 points: reduction, the chart's lines and
//   painting the window (goal: under 16 ms, one frame);
// - the cost per received line of taking numbers with 2 and with 8 series, RE2 (ReplySeries)
//   against std::regex, the matcher the series used before (kept here only as that baseline).
#include "AmpsimProcess.h"
#include "BenchSupport.h"
#include "RatioReporter.h"
#include "app/Fconsole.h"
#include "connection/Fopencom.h"
#include "connection/Fselipaddr.h"
#include "log/LogView.h"
#include "plot/Fplot.h"
#include "plot/PlotTime.h"
#include "plot/ReplySeries.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <vector>

namespace {
constexpr int MeasureMs = 1000;
constexpr int Rounds = 8;
constexpr size_t SoakPoints = 1000000;

// The console, connected to the simulator, with its input line ready.
std::unique_ptr<TFormConsole> OpenConsole(int port) {
    auto console = OpenConsoleOn(port);
    console->findChild<QLineEdit*>("EditRawIn")->setText("FWD?");
    return console;
}

double RoundTrips(TFormConsole& console) {
    const size_t before = console.Log()->Lines().Count();
    QElapsedTimer timer;
    timer.start();
    console.findChild<QCheckBox*>("CheckBoxPingPong")->click();
    while (timer.elapsed() < MeasureMs)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    console.findChild<QCheckBox*>("CheckBoxPingPong")->click();
    const double seconds = static_cast<double>(timer.elapsed()) / 1000.0;
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 50)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return static_cast<double>(console.Log()->Lines().Count() - before) / 2.0 / seconds;
}

int PingPong() {
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
    ReplySeries& series = console->Session().Series();
    auto* plot = new TFormPlot(series, console.get());
    const std::vector<SeriesDefinition> two{{"FWD", "^FWD ([-+0-9.eE]+)"}, {"dBm", "([-+0-9.]+) dBm$"}};
    std::string reason;
    std::vector<double> off, on, hidden;
    size_t matched = 0;
    const std::vector<std::function<void()>> measures{
        [&] {
            series.SetDefinitions({}, reason);
            plot->hide();
            off.push_back(RoundTrips(*console));
        },
        [&] {
            series.SetDefinitions(two, reason);
            plot->hide();
            hidden.push_back(RoundTrips(*console));
        },
        [&] {
            series.SetDefinitions(two, reason);
            plot->ShowPlot();
            on.push_back(RoundTrips(*console));
            matched += series.Points(0).Size() + series.Points(1).Size();
        },
    };
    for (int round = 0; round < Rounds; ++round)
        for (size_t i = 0; i < measures.size(); ++i)
            measures[(i + static_cast<size_t>(round)) % measures.size()]();
    std::printf(
        "console ping-pong FWD?, no series, no plot:            median %.0f round trips/s over %d rounds\n",
        Median(off), Rounds);
    std::printf("console ping-pong FWD?, two series match every reply, plot open: median %.0f round trips/s "
                "(%zu points taken)\n",
                Median(on), matched);
    std::printf(
        "console ping-pong FWD?, two series match every reply, plot closed: median %.0f round trips/s\n",
        Median(hidden));
    std::printf("ratio series without the plot / off = %.2f\n", Median(hidden) / Median(off));
    std::printf("ratio plot on / off = %.2f (goal: 0.90 or more)\n", Median(on) / Median(off));
    console->close();
    FormOpenCom = nullptr;
    FormSelIpAddr = nullptr;
    FormConsole = nullptr;
    return 0;
}

// 1 000 000 points per series, a reply every 100 ms with a drifting value: a 28-hour soak.
void Soak(ReplySeries& series) {
    std::string reason;
    series.SetDefinitions({{"FWD", "^FWD ([-+0-9.eE]+)"}, {"REFL", "REFL ([-+0-9.eE]+)"}}, reason);
    // The stores' chunks are large enough to be mapped on their own: count those too.
    const auto allocated = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };
    const size_t before = allocated();
    char line[64];
    const int64_t start = LocalNowMs() - static_cast<int64_t>(SoakPoints) * 100;
    for (size_t i = 0; i < SoakPoints; ++i) {
        const int64_t time = start + static_cast<int64_t>(i) * 100;
        const double x = static_cast<double>(i);
        std::snprintf(line, sizeof line, "FWD %.2f REFL %.2f",
                      45 + std::sin(x / 5000) + std::fmod(x * 0.37, 0.1), 12 + std::cos(x / 7000));
        // Points go straight into the series' stores' format through Take's own path.
        series.Take(line, FormatStampTime(time), time + 5);
    }
    const double bytes = static_cast<double>(allocated() - before);
    const double perPoint = bytes / static_cast<double>(2 * SoakPoints);
    std::printf("memory of 2 x %zu points: %.1f bytes per point at the allocator, %.1f by the stores "
                "(goal: under 24)\n",
                SoakPoints, perPoint,
                static_cast<double>(series.Points(0).MemoryBytes() + series.Points(1).MemoryBytes()) /
                    static_cast<double>(2 * SoakPoints));
    std::printf("ratio memory budget / bytes per point = %.2f (goal: 1.00 or more)\n", 24.0 / perPoint);
}

void Repaint() {
    ReplySeries series;
    Soak(series);
    TFormPlot plot(series);
    plot.resize(1600, 900);
    plot.ShowPlot();
    QApplication::processEvents();
    plot.ShowAll();
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer timer;
        timer.start();
        plot.ShowAll(); // reduce both series to the columns and hand the chart its lines
        plot.repaint(); // and paint them now
        ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    const double median = Median(ms);
    std::vector<double> reduceMs;
    const SeriesStore& fwd = series.Points(0);
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer timer;
        timer.start();
        for (size_t s = 0; s < series.Count(); ++s)
            ReduceToColumns(series.Points(s), fwd.At(0).timeMs, fwd.At(fwd.Size() - 1).timeMs + 1, 1500);
        reduceMs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("of which the reduction of both series to 1500 columns: median %.2f ms\n", Median(reduceMs));
    std::printf(
        "repaint of the whole soak, 2 x %zu points, 1600 x 900 window: median %.2f ms (goal: under 16)\n",
        SoakPoints, median);
    std::printf("ratio frame budget 16 ms / repaint = %.2f (goal: 1.00 or more)\n", 16.0 / median);
}

// The series of the ping-pong above, then six more of an amplifier's readings.
const std::vector<SeriesDefinition> EightSeries{
    {"FWD", "^FWD ([-+0-9.eE]+)"},  {"dBm", "([-+0-9.]+) dBm$"},   {"REFL", "^REFL ([-+0-9.eE]+)"},
    {"TEMP", "^TEMP ([-+0-9.]+)"},  {"VSWR", "^VSWR ([0-9.]+)"},   {"GAIN", "^GAIN ([-+0-9.]+) dB$"},
    {"CURR", "^CURR ([0-9.]+) A$"}, {"VOLT", "^VOLT ([0-9.]+) V$"}};

// Replies as an amplifier sends them, most of them readings some series takes, some not.
const std::vector<std::string>& Replies() {
    static const std::vector<std::string> lines = [] {
        const char* const formats[] = {"FWD %.2f",          "OUT %.1f dBm", "REFL %.2f",
                                       "TEMP %.1f",         "VSWR %.2f",    "GAIN %.1f dB",
                                       "CURR %.1f A",       "VOLT %.1f V",  "STATUS OK MODE=CW BAND=2 ALC=ON",
                                       "ERR 0,\"No error\""};
        std::vector<std::string> made;
        char line[64];
        for (int i = 0; i < 1000; ++i) {
            std::snprintf(line, sizeof line, formats[i % 10], 40 + std::sin(i / 50.0) * 5);
            made.emplace_back(line);
        }
        return made;
    }();
    return lines;
}

// ReplySeries::Take as it was on std::regex (ECMAScript), for the baseline only.
class StdRegexSeries {
public:
    explicit StdRegexSeries(const std::vector<SeriesDefinition>& definitions)
        : stores_(definitions.size()), row_(definitions.size()) {
        for (const SeriesDefinition& d : definitions)
            regexes_.emplace_back(d.pattern, std::regex::ECMAScript);
    }
    bool Take(const std::string& line, const std::string& stamp, int64_t nowMs) {
        bool any = false;
        for (size_t i = 0; i < regexes_.size(); ++i) {
            double value = 0;
            row_[i].reset();
            if (!std::regex_search(line, match_, regexes_[i]) || !ParseSeriesNumber(match_.str(1), value))
                continue;
            row_[i] = value;
            any = true;
        }
        if (!any) return false;
        const int64_t time = StampTime(stamp, nowMs).value_or(nowMs);
        for (size_t i = 0; i < regexes_.size(); ++i)
            if (row_[i]) stores_[i].Append({time, *row_[i]});
        return true;
    }
    void ClearPoints() {
        for (SeriesStore& store : stores_)
            store.Clear();
    }

private:
    std::vector<std::regex> regexes_;
    std::smatch match_;
    std::vector<SeriesStore> stores_;
    std::vector<std::optional<double>> row_;
};

size_t LinesTaken(auto& series) {
    size_t taken = 0;
    for (const std::string& line : Replies())
        taken += series.Take(line, "12:00:00.000", LocalNowMs()) ? 1 : 0;
    series.ClearPoints();
    return taken;
}

// Items are received lines; "per_line" is the time each line costs.
void TakeLines(benchmark::State& state, auto& series) {
    const std::vector<std::string>& lines = Replies();
    const int64_t now = LocalNowMs();
    size_t taken = 0;
    for (auto _ : state) {
        for (const std::string& line : lines)
            taken += series.Take(line, "12:00:00.000", now) ? 1 : 0;
        series.ClearPoints(); // the same few points each round, not a growing store
    }
    benchmark::DoNotOptimize(taken);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * lines.size()));
    state.counters["per_line"] =
        benchmark::Counter(static_cast<double>(lines.size()),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void RegisterMatching(size_t count) {
    const std::vector<SeriesDefinition> definitions(EightSeries.begin(),
                                                    EightSeries.begin() + static_cast<ptrdiff_t>(count));
    const std::string suffix = std::string("_") + std::to_string(count) + "Series";
    benchmark::RegisterBenchmark(("BM_TakeRe2" + suffix).c_str(), [definitions](benchmark::State& state) {
        ReplySeries series;
        std::string reason;
        if (!series.SetDefinitions(definitions, reason)) return state.SkipWithError(reason.c_str());
        StdRegexSeries baseline(definitions);
        if (LinesTaken(series) != LinesTaken(baseline)) return state.SkipWithError("the matchers disagree");
        TakeLines(state, series);
    });
    benchmark::RegisterBenchmark(("BM_TakeStdRegex" + suffix).c_str(),
                                 [definitions](benchmark::State& state) {
                                     StdRegexSeries series(definitions);
                                     TakeLines(state, series);
                                 });
}
} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1;      // with any argument (a benchmark filter, say) no ping-pong
    InitializeBenchmarks(argc, argv); // before the windows and the simulator start
    QtBenchEnvironment environment(argc, argv);
    RegisterMatching(2);
    RegisterMatching(8);
    if (int result = RunWithRatios(argc, argv,
                                   {{"BM_TakeRe2_2Series", "BM_TakeStdRegex_2Series"},
                                    {"BM_TakeRe2_8Series", "BM_TakeStdRegex_8Series"}});
        result != 0)
        return result;
    Repaint();
    if (quick) return 0;
    return PingPong();
}
