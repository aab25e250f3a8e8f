// The mDNS search through Avahi's client library: one service browser per type, then a resolver
// for each service found. Avahi talks to avahi-daemon over the D-Bus system bus and runs every
// callback on the thread of its threaded poll.
#include "finder/MdnsSearch.h"

#include "connection/LocalAddresses.h"
#include "connection/Sockets.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

namespace {
constexpr char NoDaemonNote[] = "mDNS: no Avahi daemon runs here, so mDNS services are not searched";
constexpr char DaemonGoneNote[] =
    "mDNS: the Avahi daemon has stopped, so mDNS services are no longer searched";

std::string AvahiNote(const std::string& what, int error) {
    return "mDNS: " + what + " (" + avahi_strerror(error) + "), so mDNS services are not searched";
}

// The interface to browse on: all of them for an empty address; false when no interface holds it.
bool InterfaceOf(const std::string& localAddress, AvahiIfIndex& interface) {
    interface = AVAHI_IF_UNSPEC;
    if (localAddress.empty()) return true;
    uint32_t address = 0;
    if (!ParseDottedIpv4(localAddress, address)) return false;
    interface = InterfaceIndexOf(address);
    return interface != 0;
}

std::vector<std::pair<std::string, std::string>> TxtPairs(AvahiStringList* txt) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (AvahiStringList* item = txt; item != nullptr; item = avahi_string_list_get_next(item)) {
        char* key = nullptr;
        char* value = nullptr;
        size_t size = 0;
        if (avahi_string_list_get_pair(item, &key, &value, &size) < 0) continue;
        pairs.emplace_back(key, value != nullptr ? std::string(value, size) : std::string());
        avahi_free(key);
        avahi_free(value);
    }
    return pairs;
}

class AvahiSearch final : public InstrumentSearch {
public:
    AvahiSearch() = default;
    ~AvahiSearch() override { Stop(); }
    AvahiSearch(const AvahiSearch&) = delete;
    AvahiSearch& operator=(const AvahiSearch&) = delete;

    bool Start(const std::string& localAddress, InstrumentSink& sink) override;
    void Stop() override;

private:
    bool Fail(InstrumentSink& sink, const std::string& note);
    bool BrowseAll(AvahiIfIndex interface);
    static void OnClientState(AvahiClient* client, AvahiClientState state, void* self);
    static void OnBrowse(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                         AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                         AvahiLookupResultFlags flags, void* self);
    static void OnResolve(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol protocol,
                          AvahiResolverEvent event, const char* name, const char* type, const char* domain,
                          const char* hostName, const AvahiAddress* address, uint16_t port,
                          AvahiStringList* txt, AvahiLookupResultFlags flags, void* self);

    // Written by the owner's thread only while Avahi's thread does not run, which its start and
    // its join order; Avahi's thread only reads them.
    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    InstrumentSink* sink_ = nullptr; // null until the search runs: no note for the client's start
    bool daemonGone_ = false;        // Avahi's thread's own while it runs
};

bool AvahiSearch::Start(const std::string& localAddress, InstrumentSink& sink) {
    Stop();
    AvahiIfIndex interface = AVAHI_IF_UNSPEC;
    if (!InterfaceOf(localAddress, interface))
        return Fail(sink, "mDNS: no interface of this computer has the address " + localAddress +
                              ", so mDNS services are not searched");
    poll_ = avahi_threaded_poll_new();
    if (poll_ == nullptr)
        return Fail(sink, AvahiNote("Avahi's event loop cannot be made", AVAHI_ERR_NO_MEMORY));
    // Without AVAHI_CLIENT_NO_FAIL the client fails at once where no daemon (or no bus) answers.
    client_ =
        avahi_client_new(avahi_threaded_poll_get(poll_), AvahiClientFlags(0), OnClientState, this, nullptr);
    if (client_ == nullptr) return Fail(sink, NoDaemonNote);
    if (!BrowseAll(interface))
        return Fail(sink, AvahiNote("Avahi refuses to browse", avahi_client_errno(client_)));
    sink_ = &sink;
    daemonGone_ = false;
    if (avahi_threaded_poll_start(poll_) < 0)
        return Fail(sink, AvahiNote("Avahi's thread does not start", AVAHI_ERR_FAILURE));
    return true;
}

bool AvahiSearch::Fail(InstrumentSink& sink, const std::string& note) {
    Stop();
    sink.Note(note);
    return false;
}

// The browsers belong to the client, which frees them with itself.
bool AvahiSearch::BrowseAll(AvahiIfIndex interface) {
    for (const char* type : MdnsServiceTypes) {
        if (avahi_service_browser_new(client_, interface, AVAHI_PROTO_INET, type, nullptr,
                                      AvahiLookupFlags(0), OnBrowse, this) == nullptr)
            return false;
    }
    return true;
}

void AvahiSearch::Stop() {
    // Returns once Avahi's thread has ended, so no callback follows (a poll never started is left).
    if (poll_ != nullptr) avahi_threaded_poll_stop(poll_);
    sink_ = nullptr;
    // Frees the browsers and the resolvers still waiting for an answer.
    if (client_ != nullptr) avahi_client_free(client_);
    if (poll_ != nullptr) avahi_threaded_poll_free(poll_);
    client_ = nullptr;
    poll_ = nullptr;
}

// The client fails when the daemon leaves the bus or the bus itself goes.
void AvahiSearch::OnClientState(AvahiClient*, AvahiClientState state, void* self) {
    auto* search = static_cast<AvahiSearch*>(self);
    if (state != AVAHI_CLIENT_FAILURE || search->sink_ == nullptr || search->daemonGone_) return;
    search->daemonGone_ = true;
    search->sink_->Note(DaemonGoneNote);
}

void AvahiSearch::OnBrowse(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                           AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                           AvahiLookupResultFlags, void* self) {
    if (event != AVAHI_BROWSER_NEW) return;
    // The resolver frees itself in OnResolve; one that has not answered when the search stops goes
    // with the client.
    avahi_service_resolver_new(avahi_service_browser_get_client(browser), interface, protocol, name, type,
                               domain, AVAHI_PROTO_INET, AvahiLookupFlags(0), OnResolve, self);
}

void AvahiSearch::OnResolve(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol,
                            AvahiResolverEvent event, const char* name, const char* type, const char*,
                            const char*, const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                            AvahiLookupResultFlags, void* self) {
    if (event == AVAHI_RESOLVER_FOUND && address != nullptr && address->proto == AVAHI_PROTO_INET) {
        char text[AVAHI_ADDRESS_STR_MAX] = {};
        avahi_address_snprint(text, sizeof text, address);
        const MdnsService service{type, name, text, port, TxtPairs(txt)};
        if (auto found = InstrumentOfService(service)) static_cast<AvahiSearch*>(self)->sink_->Found(*found);
    }
    avahi_service_resolver_free(resolver);
}
} // namespace

std::unique_ptr<InstrumentSearch> MakeMdnsSearch() {
    return std::make_unique<AvahiSearch>();
}
