// The search worker: the newest request wins and every delivered result is that request's own.
#include "projects/FolderSearchWorker.h"
#include "ShareTree.h"
#include "projects/ProjectSearch.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace {
struct Deliveries {
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::pair<uint64_t, std::vector<std::string>>> results;

    void Add(uint64_t request, std::vector<std::string> folders) {
        std::lock_guard<std::mutex> guard(lock);
        results.emplace_back(request, std::move(folders));
        arrived.notify_all();
    }
    // Waits until the result of request has arrived.
    void WaitFor(uint64_t request) {
        std::unique_lock<std::mutex> guard(lock);
        arrived.wait(guard, [&] { return !results.empty() && results.back().first == request; });
    }
};

TEST(FolderSearchWorker, TheNewestRequestWinsAndEachResultIsItsOwn) {
    ShareTree share;
    share.Folders({"Produktion/2013/139501 A", "Produktion/2014/140417 DRUX", "Firmware/Work/1395 fw",
                   "Firmware/Work/14 tool"});
    const std::vector<std::string> texts = {"1",   "13",   "139",   "1395",   "14",
                                            "14*", "14*d", "14*dr", "14*dru", "14*drux"};
    Deliveries deliveries;
    uint64_t last = 0;
    {
        FolderSearchWorker worker([&](uint64_t request, std::vector<std::string> folders) {
            deliveries.Add(request, std::move(folders));
        });
        for (const auto& text : texts)
            last = worker.Request(share.Root(), text);
        EXPECT_EQ(last, texts.size());
        EXPECT_EQ(worker.Newest(), last);
        deliveries.WaitFor(last);
    }
    uint64_t previous = 0;
    for (const auto& [request, folders] : deliveries.results) {
        EXPECT_GT(request, previous) << "results arrive in the order asked, none twice";
        previous = request;
        EXPECT_EQ(folders, SearchProjectFolders(share.Root(), texts[request - 1])) << texts[request - 1];
    }
    EXPECT_EQ(deliveries.results.back().second,
              (std::vector<std::string>{share.Root() + "Produktion/2014/140417 DRUX/"}));
}

TEST(FolderSearchWorker, StopsCleanlyWithARequestPending) {
    ShareTree share;
    share.Folders({"Firmware/Work/a"});
    FolderSearchWorker worker([](uint64_t, std::vector<std::string>) {});
    for (int i = 0; i < 100; ++i)
        worker.Request(share.Root(), "");
}
} // namespace
