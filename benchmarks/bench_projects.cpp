// The project navigator on a share of 20 000 project folders on the local disk: the time from the
// last keystroke to the list of a typical search text, and the longest the UI thread is kept busy
// while ten characters are typed quickly. The baseline in the same run is a plain directory listing
// (opendir/readdir, no matching) of the same folders the search lists.
#include "RatioReporter.h"
#include "projects/Fgotoprojdlg.h"
#include "projects/ProjectSearch.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int ProjectFolders = 20'000;
const std::string TypicalText = "1395";
const std::string TypedQuickly = "139512 DRU"; // ten characters, each a new search

// 25 production years of 640 folders (16 000), 2 400 in the firmware work folder, 1 600 in the
// archives: "<yy><nnnn> <customer>" as on the real share.
class Share {
public:
    Share() {
        std::string pattern = (fs::temp_directory_path() / "corvane-bench-share-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data()) ? pattern + "/" : "";
        for (int i = 0; i < ProjectFolders; ++i) {
            int year = 2000 + i % 25;
            char name[64];
            std::snprintf(name, sizeof name, "%02d%04d %s", year % 100, i / 25 * 15 % 10000,
                          i % 3 ? "DRUX" : "Orion");
            std::string folder = i < 16'000   ? "Produktion/" + std::to_string(year)
                                 : i < 18'400 ? std::string("Firmware/Work")
                                              : "Firmware/Archiv" + std::to_string(year);
            fs::create_directories(root_ + folder + "/" + name);
        }
    }
    ~Share() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    const std::string& Root() const { return root_; }

private:
    std::string root_;
};
Share* share = nullptr;

// The entries the five listings of TypicalText read: the items of every benchmark here.
int64_t EntriesListed() {
    int64_t entries = 0;
    for (const auto& listing : ProjectFolderListings(share->Root(), TypicalText)) {
        std::error_code error;
        for (auto it = fs::directory_iterator(listing.base, error); !error && it != fs::directory_iterator();
             ++it)
            ++entries;
    }
    return entries;
}

void BM_PlainListing(benchmark::State& state) {
    const auto listings = ProjectFolderListings(share->Root(), TypicalText);
    for (auto _ : state) {
        for (const auto& listing : listings) {
            if (DIR* dir = ::opendir(listing.base.c_str())) {
                while (const dirent* entry = ::readdir(dir))
                    benchmark::DoNotOptimize(entry->d_name[0]);
                ::closedir(dir);
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * EntriesListed());
}

void BM_SearchProjectFolders(benchmark::State& state) {
    size_t found = 0;
    for (auto _ : state)
        found = SearchProjectFolders(share->Root(), TypicalText).size();
    state.SetItemsProcessed(state.iterations() * EntriesListed());
    state.counters["folders_found"] = static_cast<double>(found);
}

// Runs the UI thread's loop until the list is settled; the longest single turn goes to maxTurn.
void PumpUntilSettled(TFormGotoProj& form, Clock::duration& maxTurn) {
    while (!form.SearchSettled()) {
        auto start = Clock::now();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        maxTurn = std::max(maxTurn, Clock::now() - start);
    }
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Last keystroke to list: the search text goes in, the worker lists, the list is filled.
void BM_NavigatorKeystrokeToList(benchmark::State& state) {
    TFormGotoProj form;
    form.SetShareRoot(share->Root());
    form.show();
    Clock::duration maxTurn{};
    double worstMs = 0;
    for (auto _ : state) {
        form.SetSearchText("");
        PumpUntilSettled(form, maxTurn);
        auto start = Clock::now();
        form.SetSearchText(TypicalText);
        PumpUntilSettled(form, maxTurn);
        auto elapsed = Clock::now() - start;
        worstMs = std::max(worstMs, Ms(elapsed));
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }
    state.SetItemsProcessed(state.iterations() * EntriesListed());
    state.counters["worst_ms"] = worstMs;
    state.counters["entries"] = static_cast<double>(form.Entries().size());
}

// Ten characters typed one after another without waiting for any list: each keystroke and each
// turn of the loop in between is timed; the longest is what the operator could feel.
void BM_NavigatorTypingTenCharacters(benchmark::State& state) {
    TFormGotoProj form;
    form.SetShareRoot(share->Root());
    form.show();
    Clock::duration maxTurn{};
    for (auto _ : state) {
        form.SetSearchText("");
        PumpUntilSettled(form, maxTurn);
        maxTurn = {};
        auto start = Clock::now();
        for (size_t n = 1; n <= TypedQuickly.size(); ++n) {
            auto keystroke = Clock::now();
            form.SetSearchText(TypedQuickly.substr(0, n));
            maxTurn = std::max(maxTurn, Clock::now() - keystroke);
            auto turn = Clock::now();
            QCoreApplication::processEvents();
            maxTurn = std::max(maxTurn, Clock::now() - turn);
        }
        PumpUntilSettled(form, maxTurn);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
    state.counters["max_ui_turn_ms"] = Ms(maxTurn);
    if (Ms(maxTurn) > 16) state.counters["over_one_frame"] = 1;
}
} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    Share tree;
    share = &tree;
    std::printf("share: %d project folders below %s; typical search text \"%s\"\n", ProjectFolders,
                tree.Root().c_str(), TypicalText.c_str());
    benchmark::RegisterBenchmark("BM_PlainListing", BM_PlainListing)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_SearchProjectFolders", BM_SearchProjectFolders)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_NavigatorKeystrokeToList", BM_NavigatorKeystrokeToList)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark("BM_NavigatorTypingTenCharacters", BM_NavigatorTypingTenCharacters)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(20);
    return RunWithRatios(
        argc, argv,
        {{"BM_SearchProjectFolders", "BM_PlainListing"}, {"BM_NavigatorKeystrokeToList", "BM_PlainListing"}});
}
