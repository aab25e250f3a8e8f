#include "console/ConsoleLinkFactory.h"

#include "connection/HislipClient.h"
#include "connection/Vxi11Client.h"
#include "console/GpibLink.h"
#include "console/MessageLink.h"
#include "console/TioLink.h"

std::unique_ptr<ConsoleLink> MakeConsoleLink(const ConnectionTarget& target, LinkEvents events,
                                             Handover& handover) {
    if (target.Kind && target.Kind->Group == ConGroup::Gpib)
        return std::make_unique<GpibLink>(target.Params, std::move(events), handover);
    if (target.Kind && target.Kind->Group == ConGroup::Instrument) {
        std::unique_ptr<MessageSession> session;
        if (target.Kind->Name == "hislip") {
            session = std::make_unique<HislipClient>();
        } else {
            session = std::make_unique<Vxi11Client>();
        }
        const InstrumentParams params = ParseInstrumentParams(target.Params);
        SessionTarget where;
        where.host = params.Host;
        where.device = params.Device;
        where.port = params.Port;
        return std::make_unique<MessageLink>(std::move(session), where, std::move(events), handover);
    }
    return std::make_unique<TioLink>(target, std::move(events), handover);
}

std::unique_ptr<ConsoleLink> MakeConsoleLink(const std::string& connection, LinkEvents events,
                                             Handover& handover) {
    return MakeConsoleLink(ParseConnection(connection), std::move(events), handover);
}
