#pragma once
// The one place that knows every kind of console link: a connection target gives the link that
// carries it. Kept apart from ConsoleLink.h, so the base class knows none of its subclasses.
#include "connection/ConnectionKinds.h"
#include "console/ConsoleLink.h"

#include <memory>
#include <string>

// A link for target (not opened yet). "gpib" gives a GPIB link, every other kind a TIO link
// (whose Open fails for a kind TIO does not know).
std::unique_ptr<ConsoleLink> MakeConsoleLink(const ConnectionTarget& target, LinkEvents events,
                                             Handover& handover = Handover::Main());
std::unique_ptr<ConsoleLink> MakeConsoleLink(const std::string& connection, LinkEvents events,
                                             Handover& handover = Handover::Main());
