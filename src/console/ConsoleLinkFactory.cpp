#include "console/ConsoleLinkFactory.h"

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
