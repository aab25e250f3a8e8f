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
