#include "console/ConsoleLink.h"

OpenResult ConsoleLink::Open(std::string* reason) {
    bool finished = false;
    OpenResult result = OpenResult::Failed;
    BeginOpen([&](OpenResult r, const std::string& why) {
        result = r;
        if (reason) *reason = why;
        handover_.Notify([&] { finished = true; });
    });
    handover_.WaitUntil([&] { return finished; });
    return result;
}

OpenResult ConsoleLink::OpenUnless(const std::function<bool()>& cancel, std::string& reason) {
    bool finished = false;
    OpenResult result = OpenResult::Failed;
    BeginOpen([&](OpenResult r, const std::string& why) {
        finished = true;
        result = r;
        reason = why;
    });
    bool cancelled = false;
    while (!finished) {
        // Once cancelled, the wait is for the open's end alone.
        handover_.WaitUntil([&] { return finished || (!cancelled && cancel()); },
                            Handover::Clock::now() + std::chrono::milliseconds(CancelPollMs));
        if (!finished && !cancelled && cancel()) {
            cancelled = true;
            Close(); // the open ends with "cancelled"
        }
    }
    return result;
}
