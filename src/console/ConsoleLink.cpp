#include "console/ConsoleLink.h"

#include "console/GpibLink.h"
#include "console/TioLink.h"

std::unique_ptr<ConsoleLink> MakeConsoleLink(const ConnectionTarget& target, LinkEvents events,
                                             Handover& handover) {
    if (target.Kind && target.Kind->Group == ConGroup::Gpib)
        return std::make_unique<GpibLink>(target.Params, std::move(events), handover);
    return std::make_unique<TioLink>(target, std::move(events), handover);
}

std::unique_ptr<ConsoleLink> MakeConsoleLink(const std::string& connection, LinkEvents events,
                                             Handover& handover) {
    return MakeConsoleLink(ParseConnection(connection), std::move(events), handover);
}

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
