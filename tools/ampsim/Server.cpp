#include "Server.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "AmpModel.h"
#include "HislipChannel.h"
#include "MeterModel.h"
#include "Portmapper.h"
#include "RpcConnection.h"
#include "Vxi11Core.h"

namespace ampsim {
namespace {

// While no client holds the pty's slave open, the master reports POLLHUP on every poll; it is
// left out of the poll set and looked at this often instead, so the loop does not spin.
constexpr std::chrono::milliseconds kPtyRecheck{50};
// Out of descriptors: the listener stays readable, so accepting pauses instead of spinning.
constexpr std::chrono::milliseconds kAcceptPause{100};

std::unique_ptr<Instrument> MakeInstrument(const Options& options) {
    if (options.meter)
        return std::make_unique<MeterModel>(MeterModel::Options{options.serial, options.busyEvery});
    return std::make_unique<AmpModel>(
        AmpModel::Options{options.serial, options.busyEvery},
        AmpModel::ConvFaults{options.convSilentPoint, options.convMalformedPoint, options.convDoublePoint,
                             options.convLatePoint, options.convLateMs});
}

} // namespace

Server::Server(const Options& options)
    : options_(options),
      model_(MakeInstrument(options)), peerSettings_{std::chrono::milliseconds(options.delayMs),
                                                     options.closeAfter, options.eol, options.prompt},
      hislipSessions_(*model_, std::chrono::milliseconds(options.delayMs)) {}

Server::~Server() {
    clients_.clear();
    pty_.reset();
    for (const Listener& listener : listeners_)
        CloseIo(listener.handle);
}

bool Server::Open(std::string& error) {
    if (!stops_.Open(options_.exitOnStdinEof, error)) return false;
    for (const TcpEndpoint& endpoint : options_.tcp)
        if (!Listen(endpoint, Protocol::Lines, "tcp", error)) return false;
    if (options_.pty && !OpenPty(error)) return false;
    if (options_.vxi11 && !OpenVxi11(*options_.vxi11, error)) return false;
    if (options_.hislip && !Listen(*options_.hislip, Protocol::Hislip, "hislip", error)) return false;
    if (!options_.portmapperUdp.empty() && !OpenUdpPortmapper(error)) return false;
    return options_.discovery.empty() || OpenDiscovery(error);
}

bool Server::OpenUdpPortmapper(std::string& error) {
    udpPortmapper_ = std::make_unique<UdpPortmapper>(
        UdpPortmapperOptions{options_.portmapperUdp, options_.amps, corePort_, options_.garbledGetport});
    if (!udpPortmapper_->Open(error)) return false;
    announcements_.push_back(udpPortmapper_->Announcement());
    return true;
}

bool Server::OpenDiscovery(std::string& error) {
    discovery_ = std::make_unique<DiscoveryResponder>(
        DiscoveryOptions{options_.discovery, options_.amps, options_.firstAmp, options_.broadcastReply});
    if (!discovery_->Open(error)) return false;
    announcements_.push_back(discovery_->Announcement());
    return true;
}

std::uint16_t Server::Listen(const TcpEndpoint& endpoint, Protocol protocol, const std::string& name,
                             std::string& error) {
    std::string announcement;
    IoHandle listener = ListenTcp(endpoint, announcement, error);
    if (listener == kNoHandle) return 0;
    listeners_.push_back({listener, protocol});
    // ListenTcp announces "tcp HOST:PORT" with the port it bound.
    const std::size_t colon = announcement.rfind(':');
    announcements_.push_back(name + announcement.substr(announcement.find(' ')));
    return static_cast<std::uint16_t>(std::atoi(announcement.c_str() + colon + 1));
}

// The core channel first, on a port the system picks on the same host, so that the portmapper
// can name it.
bool Server::OpenVxi11(const TcpEndpoint& endpoint, std::string& error) {
    corePort_ = Listen(TcpEndpoint{endpoint.host, 0}, Protocol::Vxi11Core, "vxi11-core", error);
    if (corePort_ == 0) return false;
    if (Listen(endpoint, Protocol::Portmapper, "vxi11", error) == 0) return false;
    // The portmapper is the endpoint a client is given; it leads.
    std::swap(announcements_[announcements_.size() - 2], announcements_.back());
    return true;
}

std::unique_ptr<Conversation> Server::MakeConversation(IoHandle client, Protocol protocol) {
    const std::chrono::milliseconds delay(options_.delayMs);
    switch (protocol) {
    case Protocol::Portmapper:
        return std::make_unique<RpcConnection>(client, std::make_unique<Portmapper>(corePort_));
    case Protocol::Vxi11Core:
        return std::make_unique<RpcConnection>(client, std::make_unique<Vxi11Core>(*model_, delay));
    case Protocol::Hislip:
        return std::make_unique<HislipChannel>(client, hislipSessions_);
    case Protocol::Lines:
        break;
    }
    return std::make_unique<Peer>(client, Peer::Kind::Socket, *model_, peerSettings_);
}

bool Server::OpenPty(std::string& error) {
    std::string path;
    IoHandle master = ampsim::OpenPty(path, error);
    if (master == kNoHandle) return false;
    pty_ = std::make_unique<Peer>(master, Peer::Kind::Pty, *model_, peerSettings_);
    announcements_.push_back("pty " + path);
    return true;
}

void Server::Run() {
    while (!stop_)
        Turn();
}

void Server::Turn() {
    Clock::time_point now = Clock::now();
    PollSet set;
    stops_.AddTo(set);
    std::size_t firstClient = set.Size();
    for (const auto& client : clients_)
        set.Add(client->Handle(), client->PollEvents());
    std::size_t ptyIndex = set.Size();
    if (pty_ && !ptyHungUp_) set.Add(pty_->Handle(), pty_->PollEvents());
    std::size_t discoveryIndex = set.Size();
    if (discovery_) set.Add(discovery_->Socket(), kPollIn);
    const std::size_t portmapperIndex = set.Size();
    if (udpPortmapper_) set.Add(udpPortmapper_->Socket(), kPollIn);
    std::size_t firstListener = set.Size();
    if (now >= acceptPausedUntil_)
        for (const Listener& listener : listeners_)
            set.Add(listener.handle, kPollIn);

    std::string error;
    PollOutcome outcome = set.Wait(PollTimeoutMs(now), error);
    if (outcome == PollOutcome::Interrupted) return;
    if (outcome == PollOutcome::Failed) {
        std::fprintf(stderr, "ampsim: %s\n", error.c_str());
        stop_ = true;
        return;
    }
    now = Clock::now();
    if (stops_.Stopped(set)) stop_ = true;
    for (std::size_t i = 0; i < clients_.size(); ++i)
        if (set.Events(firstClient + i) & (kPollIn | kPollHangUp | kPollError)) clients_[i]->ReadInput(now);
    if (ptyIndex < discoveryIndex) HandlePty(set.Events(ptyIndex), now);
    if (discovery_ && set.Events(discoveryIndex)) discovery_->Handle();
    if (udpPortmapper_ && set.Events(portmapperIndex)) udpPortmapper_->Handle();
    CheckPtyReopened(now);
    for (std::size_t i = firstListener; i < set.Size(); ++i)
        if (set.Events(i) & kPollIn) AcceptClients(listeners_[i - firstListener], now);
    AdvancePeers(now);
}

int Server::PollTimeoutMs(Clock::time_point now) const {
    std::optional<Clock::time_point> wake;
    auto consider = [&wake](std::optional<Clock::time_point> at) {
        if (at && (!wake || *at < *wake)) wake = at;
    };
    for (const auto& client : clients_)
        consider(client->NextDue());
    if (pty_ && !ptyHungUp_) consider(pty_->NextDue());
    if (ptyHungUp_) consider(ptyCheckAt_);
    if (now < acceptPausedUntil_) consider(acceptPausedUntil_);
    if (!wake) return -1;
    if (*wake <= now) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count());
}

void Server::AcceptClients(const Listener& listener, Clock::time_point now) {
    for (;;) {
        AcceptResult accepted = AcceptClient(listener.handle);
        if (accepted.status == AcceptStatus::Accepted) {
            clients_.push_back(MakeConversation(accepted.handle, listener.protocol));
        } else if (accepted.status == AcceptStatus::Exhausted) {
            std::fprintf(stderr, "ampsim: %s\n", accepted.error.c_str());
            acceptPausedUntil_ = now + kAcceptPause;
            return;
        } else if (accepted.status == AcceptStatus::None) {
            return;
        }
    }
}

// The last slave descriptor closing ends that client's conversation: the replies not yet written
// and its commands not yet run are dropped, as a serial device's would be when its cable is pulled.
// None of those commands can be a later client's: POLLHUP means no slave was open when poll
// looked, so all that was read before came from clients already gone, and nothing is read in this
// turn. A reply line already partly written is finished (Peer::HangUp), or the next client's first
// reply would be glued to its front. What the terminal already buffers stays (like a UART's FIFO):
// flushing it here could also eat the first command of a client that reopened the slave in the
// meantime, or cut a line that client is reading. A close and a reopen both between two looks
// go unnoticed: the new client gets the rest of the old conversation before its own replies.
void Server::HandlePty(unsigned events, Clock::time_point now) {
    if (events & kPollHangUp) {
        pty_->HangUp();
        ptyHungUp_ = true;
        ptyCheckAt_ = now + kPtyRecheck;
    } else if (events & (kPollIn | kPollError)) {
        pty_->ReadInput(now);
    }
}

void Server::CheckPtyReopened(Clock::time_point now) {
    if (!ptyHungUp_ || now < ptyCheckAt_) return;
    PollSet probe;
    probe.Add(pty_->Handle(), kPollIn);
    std::string error;
    if (probe.Wait(0, error) == PollOutcome::Ready && (probe.Events(0) & kPollHangUp)) {
        ptyCheckAt_ = now + kPtyRecheck;
        return;
    }
    ptyHungUp_ = false;
}

void Server::AdvancePeers(Clock::time_point now) {
    for (auto& client : clients_)
        client->Advance(now);
    std::erase_if(clients_, [](const std::unique_ptr<Conversation>& client) { return client->Finished(); });
    if (!pty_ || ptyHungUp_) return;
    pty_->Advance(now);
    // The pty cannot be closed without losing its path; a finished conversation starts afresh.
    if (pty_->Finished()) pty_->Restart();
}

} // namespace ampsim
