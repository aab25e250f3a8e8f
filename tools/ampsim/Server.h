#pragma once
// ampsim's endpoints and its single-threaded poll loop: TCP listeners, their clients and the pty,
// all sharing one amplifier model. The system calls are behind Io.h, PollSet.h and StopSources.h.
#include <memory>
#include <string>
#include <vector>

#include "AmpModel.h"
#include "Discovery.h"
#include "Options.h"
#include "Peer.h"
#include "PollSet.h"
#include "StopSources.h"

namespace ampsim {

class Server {
public:
    explicit Server(const Options& options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens every endpoint and what tells it to stop. On success the lines announcing the endpoints
    // ("tcp HOST:PORT", "pty PATH") are in Announcements(); on failure error says why.
    bool Open(std::string& error);
    const std::vector<std::string>& Announcements() const { return announcements_; }

    // Serves until SIGTERM or SIGINT (on Windows: the console's Ctrl+C, Ctrl+Break or close), or
    // end of standard input when asked to watch it.
    void Run();

private:
    bool OpenTcp(const TcpEndpoint& endpoint, std::string& error);
    bool OpenPty(std::string& error);
    bool OpenDiscovery(std::string& error);
    void Turn();
    int PollTimeoutMs(Clock::time_point now) const;
    void AcceptClients(IoHandle listener, Clock::time_point now);
    void HandlePty(unsigned events, Clock::time_point now);
    void CheckPtyReopened(Clock::time_point now);
    void AdvancePeers(Clock::time_point now);

    Options options_;
    AmpModel model_;
    PeerSettings peerSettings_;
    std::vector<std::string> announcements_;
    StopSources stops_;
    std::vector<IoHandle> listeners_;
    std::vector<std::unique_ptr<Peer>> clients_;
    std::unique_ptr<Peer> pty_;
    std::unique_ptr<DiscoveryResponder> discovery_;
    bool ptyHungUp_ = false;
    Clock::time_point ptyCheckAt_;
    Clock::time_point acceptPausedUntil_;
    bool stop_ = false;
};

} // namespace ampsim
