#include "Server.h"

#include <algorithm>
#include <cstdio>

namespace ampsim {
namespace {

// While no client holds the pty's slave open, the master reports POLLHUP on every poll; it is
// left out of the poll set and looked at this often instead, so the loop does not spin.
constexpr std::chrono::milliseconds kPtyRecheck{50};
// Out of descriptors: the listener stays readable, so accepting pauses instead of spinning.
constexpr std::chrono::milliseconds kAcceptPause{100};

} // namespace

Server::Server(const Options& options)
    : options_(options),
      model_(AmpModel::Options{options.serial, options.busyEvery},
             AmpModel::ConvFaults{options.convSilentPoint, options.convMalformedPoint,
                                  options.convDoublePoint, options.convLatePoint, options.convLateMs}),
      peerSettings_{std::chrono::milliseconds(options.delayMs), options.closeAfter, options.eol,
                    options.prompt} {}

Server::~Server() {
    clients_.clear();
    pty_.reset();
    for (IoHandle listener : listeners_)
        CloseIo(listener);
}

bool Server::Open(std::string& error) {
    if (!stops_.Open(options_.exitOnStdinEof, error)) return false;
    for (const TcpEndpoint& endpoint : options_.tcp)
        if (!OpenTcp(endpoint, error)) return false;
    if (options_.pty && !OpenPty(error)) return false;
    return options_.discovery.empty() || OpenDiscovery(error);
}

bool Server::OpenDiscovery(std::string& error) {
    discovery_ = std::make_unique<DiscoveryResponder>(
        DiscoveryOptions{options_.discovery, options_.amps, options_.firstAmp, options_.broadcastReply});
    if (!discovery_->Open(error)) return false;
    announcements_.push_back(discovery_->Announcement());
    return true;
}

bool Server::OpenTcp(const TcpEndpoint& endpoint, std::string& error) {
    std::string announcement;
    IoHandle listener = ListenTcp(endpoint, announcement, error);
    if (listener == kNoHandle) return false;
    listeners_.push_back(listener);
    announcements_.push_back(announcement);
    return true;
}

bool Server::OpenPty(std::string& error) {
    std::string path;
    IoHandle master = ampsim::OpenPty(path, error);
    if (master == kNoHandle) return false;
    pty_ = std::make_unique<Peer>(master, Peer::Kind::Pty, model_, peerSettings_);
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
    std::size_t firstListener = set.Size();
    if (now >= acceptPausedUntil_)
        for (IoHandle listener : listeners_)
            set.Add(listener, kPollIn);

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
    CheckPtyReopened(now);
    for (std::size_t i = firstListener; i < set.Size(); ++i)
        if (set.Events(i) & kPollIn) AcceptClients(set.Handle(i), now);
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

void Server::AcceptClients(IoHandle listener, Clock::time_point now) {
    for (;;) {
        AcceptResult accepted = AcceptClient(listener);
        if (accepted.status == AcceptStatus::Accepted) {
            clients_.push_back(
                std::make_unique<Peer>(accepted.handle, Peer::Kind::Socket, model_, peerSettings_));
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
    std::erase_if(clients_, [](const std::unique_ptr<Peer>& client) { return client->Finished(); });
    if (!pty_ || ptyHungUp_) return;
    pty_->Advance(now);
    // The pty cannot be closed without losing its path; a finished conversation starts afresh.
    if (pty_->Finished()) pty_->Restart();
}

} // namespace ampsim
