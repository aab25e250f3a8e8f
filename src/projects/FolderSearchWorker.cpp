#include "projects/FolderSearchWorker.h"

FolderSearchWorker::FolderSearchWorker(Delivery deliver, Search search)
    : deliver_(std::move(deliver)), search_(std::move(search)), thread_([this] { Run(); }) {}

FolderSearchWorker::~FolderSearchWorker() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

uint64_t FolderSearchWorker::Request(const std::string& shareRoot, const std::string& searchText) {
    uint64_t request;
    {
        std::lock_guard<std::mutex> guard(lock_);
        request = ++newest_;
        root_ = shareRoot;
        text_ = searchText;
    }
    wake_.notify_one();
    return request;
}

uint64_t FolderSearchWorker::Newest() const {
    std::lock_guard<std::mutex> guard(lock_);
    return newest_;
}

bool FolderSearchWorker::Superseded(uint64_t request) const {
    std::lock_guard<std::mutex> guard(lock_);
    return stopping_ || newest_ != request;
}

void FolderSearchWorker::Run() {
    for (;;) {
        uint64_t request;
        std::string root, text;
        {
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait(guard, [this] { return stopping_ || newest_ != taken_; });
            if (stopping_) return;
            request = taken_ = newest_;
            root = root_;
            text = text_;
        }
        auto cancelled = [this, request] { return Superseded(request); };
        std::vector<std::string> folders = search_(root, text, cancelled);
        if (!cancelled()) deliver_(request, std::move(folders));
    }
}
