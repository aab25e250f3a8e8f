#pragma once
// ampsim's endpoints and its single-threaded poll loop: TCP listeners, their clients and the pty,
// all sharing one amplifier model.
#include <memory>
#include <string>
#include <vector>

#include "AmpModel.h"
#include "Discovery.h"
#include "Options.h"
#include "Peer.h"

namespace ampsim {

class Server {
public:
    explicit Server(const Options& options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens every endpoint and the signal descriptor. On success the lines announcing the endpoints
    // ("tcp HOST:PORT", "pty PATH") are in announcements(); on failure error says why.
    bool open(std::string& error);
    const std::vector<std::string>& announcements() const { return announcements_; }

    // Serves until SIGTERM or SIGINT, or end of standard input when asked to watch it.
    void run();

private:
    bool openSignals(std::string& error);
    bool openTcp(const TcpEndpoint& endpoint, std::string& error);
    bool openPty(std::string& error);
    bool openDiscovery(std::string& error);
    void turn();
    int pollTimeoutMs(Clock::time_point now) const;
    void handleSignal();
    void handleStdin();
    void acceptClients(int listenFd, Clock::time_point now);
    void handlePty(short revents, Clock::time_point now);
    void checkPtyReopened(Clock::time_point now);
    void advancePeers(Clock::time_point now);

    Options options_;
    AmpModel model_;
    PeerSettings peerSettings_;
    std::vector<std::string> announcements_;
    std::vector<int> listeners_;
    std::vector<std::unique_ptr<Peer>> clients_;
    std::unique_ptr<Peer> pty_;
    std::unique_ptr<DiscoveryResponder> discovery_;
    bool ptyHungUp_ = false;
    Clock::time_point ptyCheckAt_;
    Clock::time_point acceptPausedUntil_;
    int signalFd_ = -1;
    bool stop_ = false;
};

} // namespace ampsim
