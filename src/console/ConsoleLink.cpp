#include "console/ConsoleLink.h"

#include "connection/ConnectionString.h"
#include "console/GpibLink.h"
#include "console/TioLink.h"

std::unique_ptr<ConsoleLink> MakeConsoleLink(const std::string& connection, LinkEvents events,
                                             Handover& handover) {
    ConnectionParts parts = SplitConnectionString(connection);
    if (parts.Kind == "gpib") return std::make_unique<GpibLink>(parts.Params, std::move(events), handover);
    return std::make_unique<TioLink>(connection, std::move(events), handover);
}
