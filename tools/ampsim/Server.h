#pragma once
// ampsim's endpoints and its single-threaded poll loop: TCP listeners (the line protocol, VXI-11's
// portmapper and core channel, HiSLIP), their clients and the pty, all sharing one instrument model (the
// amplifier, or the power meter). The system calls are behind Io.h, PollSet.h and StopSources.h.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Conversation.h"
#include "Discovery.h"
#include "HislipSession.h"
#include "Instrument.h"
#include "Options.h"
#include "Peer.h"
#include "PollSet.h"
#include "StopSources.h"
#include "UdpPortmapper.h"

namespace ampsim {

class Server {
public:
    explicit Server(const Options& options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens every endpoint and what tells it to stop. On success the lines announcing the endpoints
    // ("tcp HOST:PORT", "pty PATH", "vxi11 HOST:PORT", ...) are in Announcements(); on failure
    // error says why.
    bool Open(std::string& error);
    const std::vector<std::string>& Announcements() const { return announcements_; }

    // Serves until SIGTERM or SIGINT (on Windows: the console's Ctrl+C, Ctrl+Break or close), or
    // end of standard input when asked to watch it.
    void Run();

private:
    // What a listener's clients speak.
    enum class Protocol { Lines, Portmapper, Vxi11Core, Hislip };
    struct Listener {
        IoHandle handle;
        Protocol protocol;
    };

    // Listens on endpoint and announces it as "name HOST:PORT"; the port bound, or 0 on failure.
    std::uint16_t Listen(const TcpEndpoint& endpoint, Protocol protocol, const std::string& name,
                         std::string& error);
    bool OpenVxi11(const TcpEndpoint& endpoint, std::string& error);
    std::unique_ptr<Conversation> MakeConversation(IoHandle client, Protocol protocol);
    bool OpenPty(std::string& error);
    bool OpenDiscovery(std::string& error);
    bool OpenUdpPortmapper(std::string& error);
    void Turn();
    int PollTimeoutMs(Clock::time_point now) const;
    void AcceptClients(const Listener& listener, Clock::time_point now);
    void HandlePty(unsigned events, Clock::time_point now);
    void CheckPtyReopened(Clock::time_point now);
    void AdvancePeers(Clock::time_point now);

    Options options_;
    std::unique_ptr<Instrument> model_; // every link's; declared before the sessions that hold it
    PeerSettings peerSettings_;
    std::vector<std::string> announcements_;
    StopSources stops_;
    HislipSessions hislipSessions_;
    std::uint16_t corePort_ = 0; // VXI-11's core channel, as the portmapper names it
    std::vector<Listener> listeners_;
    std::vector<std::unique_ptr<Conversation>> clients_;
    std::unique_ptr<Peer> pty_;
    std::unique_ptr<DiscoveryResponder> discovery_;
    std::unique_ptr<UdpPortmapper> udpPortmapper_;
    bool ptyHungUp_ = false;
    Clock::time_point ptyCheckAt_;
    Clock::time_point acceptPausedUntil_;
    bool stop_ = false;
};

} // namespace ampsim
