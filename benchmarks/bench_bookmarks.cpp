// The command-button field with a production-sized bookmark file: 2 000 buttons on 20 tabs.
// - BM_FieldBuild_2000: one BuildButtons (which first frees the previous build) plus the event
//   turn that lays out and paints the shown tab, against BM_PlainButtons_2000, the same tabs and
//   buttons made with bare Qt calls in the same run.
// - BM_FieldReload_100: resident memory after 100 reloads of the file against after the first
//   ones; a reload must free the buttons it replaces.
// - BM_ShippedFileLoad: loading the sample Bookmarks.txt that ./run gives the simulator, as the
//   console does at start.
// - BM_Startup_10000Tabs against BM_Startup_1000Tabs: loading a file of that many tabs (three
//   buttons each) into a shown field, as at start; the same rate per tab means start-up grows
//   linearly with the tabs. Goal: 10 000 tabs in under 2 s.
#include "BenchSupport.h"
#include "RatioReporter.h"
#include "text/Fbuttonfield.h"

#include <QApplication>
#include <QPushButton>
#include <QTabWidget>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {
constexpr int Tabs = 20;
constexpr int ButtonsPerTab = 100;
constexpr int ButtonsPerColumn = 10;

// A file as an operator's grows: columns of commands, some with parameter prompts.
std::vector<std::string> ProductionFile() {
    std::vector<std::string> lines;
    for (int t = 0; t < Tabs; ++t) {
        lines.push_back("[Board " + std::to_string(t) + "]");
        if (t == Tabs / 2) lines.push_back("##buttonwidth=160");
        for (int b = 0; b < ButtonsPerTab; ++b) {
            if (b > 0 && b % ButtonsPerColumn == 0) lines.push_back("");
            lines.push_back(b % 3 ? "SVC QB " + std::to_string(t) + " SVC CONV DN <?table:00> " +
                                        std::to_string(b) + "?"
                                  : "STATUS? " + std::to_string(b));
        }
    }
    return lines;
}

std::unique_ptr<TFrameButtonField> ShownField() {
    auto field = std::make_unique<TFrameButtonField>();
    field->resize(1000, 400);
    field->show();
    QCoreApplication::processEvents();
    return field;
}

void BM_FieldBuild_2000(benchmark::State& state) {
    std::vector<std::string> lines = ProductionFile();
    auto field = ShownField();
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        field->BuildButtons(lines);
        QCoreApplication::processEvents();
        state.SetIterationTime(Seconds(std::chrono::steady_clock::now() - start));
    }
    state.SetItemsProcessed(state.iterations() * Tabs * ButtonsPerTab);
}

// The least Qt needs for the same tabs and buttons: no parsing, no names, hints or handlers.
void BM_PlainButtons_2000(benchmark::State& state) {
    QTabWidget tabs;
    tabs.resize(1000, 400);
    tabs.show();
    QCoreApplication::processEvents();
    std::vector<QWidget*> pages;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        tabs.clear();
        for (QWidget* page : pages)
            delete page;
        pages.clear();
        for (int t = 0; t < Tabs; ++t) {
            auto* page = new QWidget;
            for (int b = 0; b < ButtonsPerTab; ++b) {
                auto* button = new QPushButton(QStringLiteral("STATUS?"), page);
                button->setGeometry(b / ButtonsPerColumn * 126 + 3, b % ButtonsPerColumn * 34 + 3, 120, 28);
            }
            pages.push_back(page);
        }
        for (int t = 0; t < Tabs; ++t)
            tabs.addTab(pages[static_cast<size_t>(t)], QString::number(t));
        QCoreApplication::processEvents();
        state.SetIterationTime(Seconds(std::chrono::steady_clock::now() - start));
    }
    state.SetItemsProcessed(state.iterations() * Tabs * ButtonsPerTab);
    for (QWidget* page : pages)
        delete page;
}

void BM_FieldReload_100(benchmark::State& state) {
    std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                       "/bench_bookmarks_" + std::to_string(::getpid()) + ".txt";
    int code = 0;
    if (!WriteBookmarkFile(path, ProductionFile(), code)) {
        state.SkipWithError("cannot write the bookmark file");
        return;
    }
    auto field = ShownField();
    field->LoadFile(path);
    for (int i = 0; i < 5; ++i) { // let the allocator and Qt's caches settle
        field->ReloadFile();
        QCoreApplication::processEvents();
    }
    double before = ResidentBytes();
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 100; ++i) {
            field->ReloadFile();
            QCoreApplication::processEvents();
        }
        state.SetIterationTime(Seconds(std::chrono::steady_clock::now() - start));
    }
    double after = ResidentBytes();
    state.SetItemsProcessed(state.iterations() * 100);
    state.counters["rss_before_MiB"] = before / (1 << 20);
    state.counters["rss_growth_KiB"] = (after - before) / 1024;
    std::remove(path.c_str());
}

void StartupTabs(benchmark::State& state, int tabs) {
    std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                       "/bench_bookmarks_tabs_" + std::to_string(::getpid()) + ".txt";
    std::vector<std::string> lines;
    for (int t = 0; t < tabs; ++t) {
        lines.push_back("[Tab " + std::to_string(t) + "]");
        lines.insert(lines.end(), {"STATUS?", "SVC CONV DN <?table:00> 00?", "*IDN?"});
    }
    int code = 0;
    if (!WriteBookmarkFile(path, lines, code)) {
        state.SkipWithError("cannot write the bookmark file");
        return;
    }
    for (auto _ : state) {
        auto field = ShownField();
        auto start = std::chrono::steady_clock::now();
        field->LoadFile(path);
        QCoreApplication::processEvents();
        state.SetIterationTime(Seconds(std::chrono::steady_clock::now() - start));
    }
    state.SetItemsProcessed(state.iterations() * tabs);
    std::remove(path.c_str());
}

void BM_Startup_1000Tabs(benchmark::State& state) {
    StartupTabs(state, 1000);
}

void BM_Startup_10000Tabs(benchmark::State& state) {
    StartupTabs(state, 10000);
}

void BM_ShippedFileLoad(benchmark::State& state) {
    // The sample the simulator's bookmark profile loads.
    std::string path = CORVANE_SOURCE_DIR "/src/text/Bookmarks.txt";
    auto field = ShownField();
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        field->LoadFile(path);
        QCoreApplication::processEvents();
        state.SetIterationTime(Seconds(std::chrono::steady_clock::now() - start));
    }
    state.SetItemsProcessed(state.iterations());
}
} // namespace

int main(int argc, char** argv) {
    QtBenchEnvironment environment(argc, argv);
    benchmark::RegisterBenchmark("BM_FieldBuild_2000", BM_FieldBuild_2000)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark("BM_PlainButtons_2000", BM_PlainButtons_2000)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark("BM_FieldReload_100", BM_FieldReload_100)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark("BM_ShippedFileLoad", BM_ShippedFileLoad)
        ->Unit(benchmark::kMicrosecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark("BM_Startup_1000Tabs", BM_Startup_1000Tabs)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark("BM_Startup_10000Tabs", BM_Startup_10000Tabs)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    return RunWithRatios(
        argc, argv,
        {{"BM_FieldBuild_2000", "BM_PlainButtons_2000"}, {"BM_Startup_10000Tabs", "BM_Startup_1000Tabs"}});
}
