// The run's signals on Windows: a console control handler tells each event as the POSIX signal
// that means the same (HeadlessSignals.h).
#include "batch/HeadlessSignals.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>

namespace {
// The console calls its handler on a thread it starts for the event, with no context: the watch
// is found here. Never destroyed, as a handler may still run while the process exits.
struct ConsoleEvents {
    std::mutex lock;
    std::condition_variable gone;     //!< The watch went away: the run has ended.
    HeadlessSignals* watch = nullptr; // guarded by lock
};

ConsoleEvents& Events() {
    static auto* events = new ConsoleEvents;
    return *events;
}

int SignalFor(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        return 2; // SIGINT
    case CTRL_CLOSE_EVENT:
        return 1; // SIGHUP
    case CTRL_BREAK_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        return 15; // SIGTERM
    default:
        return 0;
    }
}
} // namespace

struct HeadlessSignals::Watch {
    // An event that is no signal, or one after the watch has gone, goes on to the next handler
    // (the system's own ends the process).
    static BOOL WINAPI OnEvent(DWORD event) {
        const int signal = SignalFor(event);
        ConsoleEvents& events = Events();
        std::unique_lock guard(events.lock);
        if (signal == 0 || !events.watch) return FALSE;
        events.watch->Tell(signal);
        // The system ends the process once this returns from any other event.
        if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
            events.gone.wait(guard, [&events] { return events.watch == nullptr; });
        return TRUE;
    }
};

HeadlessSignals::HeadlessSignals(Handover& handover) : handover_(handover) {
    {
        std::lock_guard guard(Events().lock);
        Events().watch = this;
    }
    SetConsoleCtrlHandler(Watch::OnEvent, TRUE);
}

HeadlessSignals::~HeadlessSignals() {
    SetConsoleCtrlHandler(Watch::OnEvent, FALSE);
    {
        std::lock_guard guard(Events().lock);
        Events().watch = nullptr;
    }
    Events().gone.notify_all();
}
