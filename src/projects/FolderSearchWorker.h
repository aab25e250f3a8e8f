#pragma once
// Runs folder searches on a thread of its own, so that a slow share never stalls typing. The
// newest request wins: a request made while a search runs cancels that search, requests that queue
// up meanwhile are skipped, and only the result of the newest request is delivered.
#include "projects/ProjectSearch.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FolderSearchWorker {
public:
    // Called on the worker thread with the request number and its folders; it must hand the result
    // on (to the UI thread) without waiting for that thread.
    using Delivery = std::function<void(uint64_t request, std::vector<std::string> folders)>;

    // The search itself, called on the worker thread: SearchProjectFolders, or a stand-in (tests
    // slow it down).
    using Search = std::function<std::vector<std::string>(
        const std::string& shareRoot, const std::string& text, const SearchCancelled& cancelled)>;

    explicit FolderSearchWorker(Delivery deliver, Search search = SearchProjectFolders);
    // Stops the search in progress and joins the thread; nothing is delivered afterwards.
    ~FolderSearchWorker();
    FolderSearchWorker(const FolderSearchWorker&) = delete;
    FolderSearchWorker& operator=(const FolderSearchWorker&) = delete;

    // Any thread. Asks for a search and returns its number (increasing from 1).
    uint64_t Request(const std::string& shareRoot, const std::string& searchText);
    // Any thread. The number of the newest request.
    uint64_t Newest() const;

private:
    void Run();
    bool Superseded(uint64_t request) const;

    Delivery deliver_;
    Search search_;
    mutable std::mutex lock_; //!< Protects the fields below.
    std::condition_variable wake_;
    uint64_t newest_ = 0;     //!< Number of the newest request.
    uint64_t taken_ = 0;      //!< Number of the request the worker last took up.
    std::string root_, text_; //!< The newest request's share root and text.
    bool stopping_ = false;
    std::thread thread_; //!< Last: started when everything above exists.
};
