// A build without Avahi's client library (Windows among them) has no mDNS search: the finder then
// offers none.
#include "finder/MdnsSearch.h"

std::unique_ptr<InstrumentSearch> MakeMdnsSearch() {
    return nullptr;
}
