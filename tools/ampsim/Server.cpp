#include "Server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "SysError.h"

namespace ampsim {
namespace {

// While no client holds the pty's slave open, the master reports POLLHUP on every poll; it is
// left out of the poll set and looked at this often instead, so the loop does not spin.
constexpr std::chrono::milliseconds kPtyRecheck{50};
// Out of descriptors: the listener stays readable, so accepting pauses instead of spinning.
constexpr std::chrono::milliseconds kAcceptPause{100};

void SetNoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

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
    for (int fd : listeners_)
        ::close(fd);
    if (signalFd_ >= 0) ::close(signalFd_);
}

bool Server::Open(std::string& error) {
    if (!OpenSignals(error)) return false;
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

// Termination signals arrive through a descriptor so the poll loop sees them like any other event.
// A parent may have left them ignored, which would also hide them from the descriptor.
bool Server::OpenSignals(std::string& error) {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0 ||
        (signalFd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC)) < 0) {
        error = SysError("signalfd", errno);
        return false;
    }
    return true;
}

bool Server::OpenTcp(const TcpEndpoint& endpoint, std::string& error) {
    std::string name = endpoint.host + ":" + std::to_string(endpoint.port);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (int rc = ::getaddrinfo(endpoint.host.c_str(), nullptr, &hints, &found); rc != 0) {
        error = "tcp " + name + ": " + ::gai_strerror(rc);
        return false;
    }
    sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    ::freeaddrinfo(found);
    address.sin_port = htons(endpoint.port);

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = SysError("socket", errno);
        return false;
    }
    listeners_.push_back(fd);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, SOMAXCONN) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = SysError("tcp " + name, errno);
        return false;
    }
    char host[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
    announcements_.push_back("tcp " + std::string(host) + ":" + std::to_string(ntohs(address.sin_port)));
    return true;
}

bool Server::OpenPty(std::string& error) {
    int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = SysError("posix_openpt", errno);
        return false;
    }
    pty_ = std::make_unique<Peer>(fd, Peer::Kind::Pty, model_, peerSettings_);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    char path[128];
    termios raw{};
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, path, sizeof path) != 0 ||
        ::tcgetattr(fd, &raw) != 0) {
        error = SysError("pty", errno);
        return false;
    }
    // Raw on the line discipline, so no byte is echoed, translated or held back for a whole line.
    ::cfmakeraw(&raw);
    if (::tcsetattr(fd, TCSANOW, &raw) != 0) {
        error = SysError("pty raw mode", errno);
        return false;
    }
    announcements_.push_back("pty " + std::string(path));
    return true;
}

void Server::Run() {
    while (!stop_)
        Turn();
}

void Server::Turn() {
    Clock::time_point now = Clock::now();
    std::vector<pollfd> fds;
    fds.push_back({signalFd_, POLLIN, 0});
    if (options_.exitOnStdinEof) fds.push_back({STDIN_FILENO, POLLIN, 0});
    std::size_t firstClient = fds.size();
    for (const auto& client : clients_)
        fds.push_back({client->Fd(), client->PollEvents(), 0});
    std::size_t ptyIndex = fds.size();
    if (pty_ && !ptyHungUp_) fds.push_back({pty_->Fd(), pty_->PollEvents(), 0});
    std::size_t discoveryIndex = fds.size();
    if (discovery_) fds.push_back({discovery_->Fd(), POLLIN, 0});
    std::size_t firstListener = fds.size();
    if (now >= acceptPausedUntil_)
        for (int fd : listeners_)
            fds.push_back({fd, POLLIN, 0});

    if (::poll(fds.data(), fds.size(), PollTimeoutMs(now)) < 0) {
        if (errno == EINTR) return;
        std::fprintf(stderr, "ampsim: %s\n", SysError("poll", errno).c_str());
        stop_ = true;
        return;
    }
    now = Clock::now();
    if (fds[0].revents) HandleSignal();
    if (options_.exitOnStdinEof && fds[1].revents) HandleStdin();
    for (std::size_t i = 0; i < clients_.size(); ++i)
        if (fds[firstClient + i].revents & (POLLIN | POLLHUP | POLLERR)) clients_[i]->ReadInput(now);
    if (ptyIndex < discoveryIndex) HandlePty(fds[ptyIndex].revents, now);
    if (discovery_ && fds[discoveryIndex].revents) discovery_->Handle();
    CheckPtyReopened(now);
    for (std::size_t i = firstListener; i < fds.size(); ++i)
        if (fds[i].revents & POLLIN) AcceptClients(fds[i].fd, now);
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

void Server::HandleSignal() {
    signalfd_siginfo info;
    while (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        stop_ = true;
}

// Whatever arrives on standard input is ignored; its end (or an error) means the parent is gone.
void Server::HandleStdin() {
    char buffer[4096];
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) stop_ = true;
}

void Server::AcceptClients(int listenFd, Clock::time_point now) {
    for (;;) {
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            SetNoDelay(fd);
            clients_.push_back(std::make_unique<Peer>(fd, Peer::Kind::Socket, model_, peerSettings_));
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            std::fprintf(stderr, "ampsim: %s\n", SysError("accept", errno).c_str());
            acceptPausedUntil_ = now + kAcceptPause;
        }
        return;
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
void Server::HandlePty(short revents, Clock::time_point now) {
    if (revents & POLLHUP) {
        pty_->HangUp();
        ptyHungUp_ = true;
        ptyCheckAt_ = now + kPtyRecheck;
    } else if (revents & (POLLIN | POLLERR)) {
        pty_->ReadInput(now);
    }
}

void Server::CheckPtyReopened(Clock::time_point now) {
    if (!ptyHungUp_ || now < ptyCheckAt_) return;
    pollfd probe{pty_->Fd(), POLLIN, 0};
    if (::poll(&probe, 1, 0) >= 0 && (probe.revents & POLLHUP)) {
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
