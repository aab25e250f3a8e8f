#pragma once
// Finds VXI-11 instruments by their portmappers: a GETPORT for DEVICE_CORE (PortmapDatagram.h)
// goes out by UDP every RepeatMs for SearchMs, either broadcast to the chosen interface's subnet
// (the LXI way of finding instruments) or to each of a few typed addresses. Each host that answers
// with a port becomes a row at once, by its address, and is then asked *IDN? (IdnAsker.h), whose
// answer names the row. A reply that is no well-formed answer to our call is dropped.
//
// Typed addresses keep one row each ("manual", key "manual:" + address), listed at Start whether
// they answer or not; one whose portmapper did not answer by the end of the search is tried as a
// raw SCPI socket (port 5025, *IDN?) instead.
//
// Threads: Start and Stop on the owner's thread; the search runs on a thread of its own and the
// IdnAsker's workers, which call the sink.
#include "connection/WakeEvent.h"
#include "finder/IdnAsker.h"
#include "finder/InstrumentSearch.h"

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class PortmapSearch final : public InstrumentSearch {
public:
    static constexpr int SearchMs = 3000;
    static constexpr int RepeatMs = 500;
    static constexpr char BroadcastHow[] = "VXI-11";
    static constexpr char ManualHow[] = "manual";
    static constexpr std::string_view ManualKeyPrefix = "manual:"; // + the address: a typed row's key

    // Without hosts: the broadcast search. With hosts: those addresses (names or dotted IPv4).
    explicit PortmapSearch(std::vector<std::string> hosts = {}, int searchMs = SearchMs);
    ~PortmapSearch() override;
    PortmapSearch(const PortmapSearch&) = delete;
    PortmapSearch& operator=(const PortmapSearch&) = delete;

    bool Start(const std::string& localAddress, InstrumentSink& sink) override;
    void Stop() override;
    // Waits until the search time is over and every *IDN? asked has ended (tests and benchmarks).
    void WaitDone();

    // The rows this search gives an address (tests compare with them).
    static FoundInstrument Vxi11Row(const std::string& address);
    static FoundInstrument ManualRow(const std::string& host);

private:
    struct Target {
        std::string host; //!< As given (typed) or as it answered (broadcast).
        uint32_t address = 0;
    };
    void Run(int socket, std::vector<Target> targets, uint32_t broadcast);
    void SendCalls(int socket, const std::vector<Target>& targets, uint32_t broadcast) const;
    void ReadReplies(int socket, const std::vector<Target>& targets);
    void Answered(const std::string& host);
    void AskRawSocketOfSilent(const std::vector<Target>& targets);

    const std::vector<std::string> hosts_;
    const int searchMs_;
    InstrumentSink* sink_ = nullptr;
    uint32_t xid_ = 0;
    std::set<std::string> answered_; //!< Hosts that gave a port; the search thread's own.
    WakeEvent stop_;
    std::thread thread_;
    IdnAsker asker_;
};
