#pragma once
// A thread that runs jobs handed to it by other threads, one at a time, and stays until the
// process ends: it is never joined and its object never destroyed, so it outlives the destructors
// that run at exit. The exported navigator runs Qt on it for programs that call from threads of
// their own (ProjectsExports.cpp says why). No Qt.
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>

class ResidentThread {
public:
    // The one thread, started by the first call.
    static ResidentThread& Instance();

    // Runs job on the thread and waits for its end; what job throws is thrown here. Any thread but
    // this one's (a job that ran another would wait for itself); callers take turns.
    void Run(const std::function<void()>& job);

private:
    ResidentThread();
    [[noreturn]] void Serve();

    std::mutex mutex_; //!< Protects job_, done_ and failure_.
    std::condition_variable changed_;
    const std::function<void()>* job_ = nullptr; //!< The job handed over; null while none is.
    bool done_ = false;                          //!< job_ has run.
    std::exception_ptr failure_;                 //!< What job_ threw.
};
