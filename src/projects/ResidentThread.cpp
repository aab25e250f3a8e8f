#include "projects/ResidentThread.h"

#include <thread>
#include <utility>

ResidentThread& ResidentThread::Instance() {
    // Never deleted: the thread may still wait on the object while exit runs its destructors.
    static auto* const instance = new ResidentThread;
    return *instance;
}

ResidentThread::ResidentThread() {
    std::thread([this] { Serve(); }).detach();
}

void ResidentThread::Run(const std::function<void()>& job) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return job_ == nullptr; });
    job_ = &job;
    done_ = false;
    changed_.notify_all();
    changed_.wait(lock, [this] { return done_; });
    job_ = nullptr;
    const std::exception_ptr failure = std::exchange(failure_, nullptr);
    changed_.notify_all();
    if (failure) std::rethrow_exception(failure);
}

void ResidentThread::Serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return job_ != nullptr && !done_; });
        const std::function<void()>* job = job_;
        lock.unlock();
        std::exception_ptr failure;
        try {
            (*job)();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        failure_ = failure;
        done_ = true;
        changed_.notify_all();
    }
}
