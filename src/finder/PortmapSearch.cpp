#include "finder/PortmapSearch.h"

#include "connection/FdIo.h"
#include "connection/LocalAddresses.h"
#include "connection/Sockets.h"
#include "finder/PortmapDatagram.h"
#include "platform/Tick.h"

#include <algorithm>
#include <chrono>

namespace {
constexpr uint16_t PortmapperPort = 111;
// A reply is a few dozen bytes; a longer datagram is no reply and is read cut.
constexpr size_t MaxDatagram = 2048;
// Hundreds of instruments answer one broadcast at once; the system's default room (about 200 KB,
// some 700 bytes per datagram counted) would drop all but the first few hundred answers.
constexpr int ReceiveRoom = 1 << 20;

// A transaction id of its own for each search, so that a late answer to an earlier one is not
// taken for an answer to this one.
uint32_t NewXid() {
    static std::atomic<uint32_t> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<uint32_t>(now) ^ (++counter << 24);
}
} // namespace

PortmapSearch::PortmapSearch(std::vector<std::string> hosts, int searchMs)
    : hosts_(std::move(hosts)), searchMs_(searchMs) {}

PortmapSearch::~PortmapSearch() {
    Stop();
}

FoundInstrument PortmapSearch::Vxi11Row(const std::string& address) {
    return {"", address, BroadcastHow, "TCPIP::" + address + "::inst0::INSTR", "vxi11:" + address};
}

FoundInstrument PortmapSearch::ManualRow(const std::string& host) {
    return {"", host, ManualHow, "", std::string(ManualKeyPrefix) + host};
}

bool PortmapSearch::Start(const std::string& localAddress, InstrumentSink& sink) {
    Stop();
    sink_ = &sink;
    const char* what = hosts_.empty() ? "VXI-11 search" : "typed addresses";
    uint32_t local = 0;
    if (!ParseDottedIpv4(localAddress, local)) {
        sink.Note(std::string(what) + ": no local address chosen");
        return false;
    }
    SocketStartup();
    const int socket = UdpOpen(0, localAddress);
    if (socket == NoSocket) {
        SocketCleanup();
        sink.Note(std::string(what) + ": no UDP socket on " + localAddress);
        return false;
    }
    SetReceiveBuffer(socket, ReceiveRoom);
    std::vector<Target> targets;
    // A name is looked up on the search's thread: it may wait on the resolver.
    for (const std::string& host : hosts_) {
        sink.Found(ManualRow(host));
        targets.push_back({host, 0});
    }
    xid_ = NewXid();
    answered_.clear();
    stop_.Reset();
    const uint32_t broadcast = hosts_.empty() ? DirectedBroadcastOf(local) : 0;
    thread_ = std::thread([this, socket, targets, broadcast] { Run(socket, targets, broadcast); });
    return true;
}

void PortmapSearch::Stop() {
    stop_.Signal();
    if (thread_.joinable()) thread_.join();
    asker_.Stop();
}

void PortmapSearch::WaitDone() {
    if (thread_.joinable()) thread_.join();
    asker_.WaitIdle();
}

void PortmapSearch::Run(int socket, std::vector<Target> targets, uint32_t broadcast) {
    for (Target& target : targets)
        if (!LookupHost(target.host, target.address))
            sink_->Note("typed addresses: " + target.host + " is unknown");
    const unsigned start = GetTickCount();
    unsigned sent = start - RepeatMs;
    while (!stop_.IsSignalled() && RemainingMs(searchMs_, start) > 0) {
        if (GetTickCount() - sent >= static_cast<unsigned>(RepeatMs)) {
            SendCalls(socket, targets, broadcast);
            sent = GetTickCount();
        }
        WaitItem items[2] = {{socket, nullptr}, {-1, &stop_}};
        const int wait = std::min(RemainingMs(searchMs_, start), RemainingMs(RepeatMs, sent));
        if (WaitAny(items, 2, std::max(wait, 1)) > 0 && items[0].ready) ReadReplies(socket, targets);
    }
    CloseSocket(socket);
    SocketCleanup();
    if (!stop_.IsSignalled()) AskRawSocketOfSilent(targets);
}

void PortmapSearch::SendCalls(int socket, const std::vector<Target>& targets, uint32_t broadcast) const {
    const std::string call = GetPortDatagram(xid_);
    if (targets.empty()) SocketSendTo(socket, call.data(), call.size(), {broadcast, PortmapperPort});
    for (const Target& target : targets)
        if (target.address != 0)
            SocketSendTo(socket, call.data(), call.size(), {target.address, PortmapperPort});
}

void PortmapSearch::ReadReplies(int socket, const std::vector<Target>& targets) {
    char buffer[MaxDatagram];
    Ipv4Endpoint from;
    long size = 0;
    while ((size = SocketReceiveFrom(socket, buffer, sizeof buffer, from)) >= 0) {
        if (!ReadGetPortReply({buffer, static_cast<size_t>(size)}, xid_)) continue;
        if (targets.empty()) {
            Answered(Ipv4Text(from.address));
            continue;
        }
        for (const Target& target : targets)
            if (target.address == from.address) Answered(target.host);
    }
}

void PortmapSearch::Answered(const std::string& host) {
    if (!answered_.insert(host).second) return;
    const FoundInstrument row = hosts_.empty() ? Vxi11Row(host) : ManualRow(host);
    FoundInstrument found = row;
    found.visa = Vxi11Row(host).visa;
    sink_->Found(found);
    asker_.Submit({host, IdnAsker::Way::Vxi11, [this, found](const std::string& name) {
                       FoundInstrument named = found;
                       named.name = name;
                       sink_->Found(named);
                   }});
}

void PortmapSearch::AskRawSocketOfSilent(const std::vector<Target>& targets) {
    for (const Target& target : targets) {
        if (answered_.count(target.host) || target.address == 0) continue;
        asker_.Submit(
            {target.host, IdnAsker::Way::RawSocket, [this, host = target.host](const std::string& name) {
                 FoundInstrument found = ManualRow(host);
                 found.name = name;
                 found.visa = "TCPIP::" + host + "::" + std::to_string(IdnAsker::RawScpiPort) + "::SOCKET";
                 sink_->Found(found);
             }});
    }
}
