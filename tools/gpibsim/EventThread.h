#pragma once
// The simulator's own thread, from which it raises its events as a real driver does from its
// interrupt handling: actions scheduled for a moment run there, in order of their moments.
//
// Threads: Schedule and Stop are called by the host's thread (and Stop by the unload destructor);
// the actions run on the event thread.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace gpibsim {

class EventThread {
public:
    using Clock = std::chrono::steady_clock;
    using Action = std::function<void()>;

    EventThread() = default;
    ~EventThread() { Stop(); }
    EventThread(const EventThread&) = delete;
    EventThread& operator=(const EventThread&) = delete;

    // Runs action on the event thread after delay; starts the thread when it is not running.
    void Schedule(std::chrono::milliseconds delay, Action action);
    // Drops the actions that have not run, waits for one that runs, and ends the thread. After
    // Stop returns no action runs until the next Schedule.
    void Stop();

private:
    void Run();

    std::mutex mutex_; //!< Protects due_ and stopping_.
    std::condition_variable wake_;
    std::multimap<Clock::time_point, Action> due_;
    bool stopping_ = false;
    std::thread thread_; //!< Started and joined by the host's thread only.
};

} // namespace gpibsim
