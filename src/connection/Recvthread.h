#pragma once
// TRecvThread: a receiving thread for one connection (serial port, TCP client, TCP server with up
// to three clients, or UDP) that hands every received block to its owner on the UI thread with a
// text naming the peer ("a.b.c.d:port", or the port name for serial), and lets the owner send back,
// UDP broadcasts included. The amplifier finder uses it as UDP on port 8001.
//
// Life: Create, set the notifications, Open, Resume; later Close, after which the owner forgets the
// pointer and never deletes the object: it deletes itself. Its memory is freed when both the loop
// has ended and the owner has called Close, whichever comes last, so a pointer the owner still holds
// after the peer ended the loop stays valid until its Close.
//
// Threads: the owner's thread (the UI thread of the Handover given to Create) calls everything
// here. The loop runs in a thread of its own and hands OnData, OnConnected and OnDisconnected over
// synchronously: it waits until each has run on the UI thread, so the delivered data is not reused
// before the owner has seen it. After Close no notification reaches the owner except the
// OnDisconnected that Close itself delivers; a delivery that waits at that moment is dropped.
// Close may be called from inside a notification of the same object.
#include "platform/Handover.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "connection/WakeEvent.h"

class TSerialConnection;

class TRecvThread {
public:
    enum class Mode { Serial = 0, TcpClient = 1, Udp = 2, TcpServer = 3 };
    // data holds length bytes and a 0 byte after them.
    using DataHandler = std::function<void(const std::string& peer, const char* data, int length)>;
    using PeerHandler = std::function<void(const std::string& peer)>;

    static constexpr int ClientSlots = 3;
    static constexpr int MaxDatagram = 1599; // a longer datagram is cut to this length
    static constexpr int MaxStreamBlock = 1023;
    static constexpr int ConnectTimeoutMs = 500;

    // Created suspended with nothing open.
    static TRecvThread* Create(Handover& handover = Handover::Main());
    TRecvThread(const TRecvThread&) = delete;
    TRecvThread& operator=(const TRecvThread&) = delete;

    // Owner's thread; each is optional. Called only on the UI thread, so they may also change while
    // the loop runs.
    void SetOnData(DataHandler handler) { onData_ = std::move(handler); }
    void SetOnConnected(PeerHandler handler) { onConnected_ = std::move(handler); }
    void SetOnDisconnected(PeerHandler handler) { onDisconnected_ = std::move(handler); }

    // "kind:address:port" (serial: "kind:name:mode"). Kinds: "tcp"/"tcpclient" (connects when
    // resumed), "server"/"tcpserver" (listens now; empty address: all interfaces), "udp"/"udpclient"
    // (binds now, broadcast allowed; an empty address is refused: the loop then ends at once and
    // Send sends nothing), "com"/"serial" (opens the port now and calls OnConnected with its name).
    // Another kind opens nothing. No result; the port text of tcp, server and udp kinds must be a
    // decimal integer, else EConvertError is thrown and nothing is opened. Called once.
    void Open(const std::string& connection);
    // Starts the loop. Called once, after Open.
    void Resume();

    // Serial: writes the bytes (a failure closes the port, 0). TCP client: sends on its socket.
    // UDP: destination "host:port" ("" host: 255.255.255.255; the port is the text's leading
    // decimal integer; without ":" the port of Open); an empty destination broadcasts on the port
    // of Open; a host that cannot be found sends nothing. TCP server: the client whose peer text
    // equals destination; a failed send drops that client with OnDisconnected. Returns the bytes
    // sent, 0 when nothing was sent.
    int Send(const std::string& destination, const void* data, int length);

    // Closes the connection and releases a blocked loop at once. UDP and TCP client: OnDisconnected
    // with the current peer text is called from here, unless the loop already delivered it.
    void Close();

    Mode GetMode() const { return mode_; }
    // The local port of the UDP or listening socket; 0 when none (useful after binding port 0).
    int LocalPort() const;

    // UI thread, at program end: waits until every receive loop of the process has ended (running
    // hand-overs meanwhile) and joins their threads. False when some loop did not end in time.
    static bool WaitForAllEnded(Handover& handover, std::chrono::milliseconds budget);

private:
    explicit TRecvThread(Handover& handover);
    ~TRecvThread();

    struct Client {
        int fd = -1;
        std::string peer;
    };
    struct Datagram;

    void OpenUdp(const std::string& address, const std::string& portText);
    void OpenServer(const std::string& address, const std::string& portText);
    void OpenSerial(const std::string& params, const std::string& name);
    int SendUdp(const std::string& destination, const void* data, int length);
    int SendServer(const std::string& destination, const void* data, int length);
    int SendSocket(const void* data, int length);

    void Run();
    void SerialLoop();
    void TcpClientLoop();
    void UdpLoop();
    void ServerLoop();
    void AcceptClient();
    void ReadClient(int slot, int fd);
    bool ReceiveDatagrams(std::vector<Datagram>& batch);
    int StreamReceive(int fd, char* buffer);
    void CloseSockets();
    std::string Peer() const;

    void Deliver(const std::function<void()>& notify);
    void DeliverData(const std::string& peer, const char* data, int length);
    void DeliverConnected(const std::string& peer);
    void DeliverDisconnected(const std::string& peer);
    void Release();

    Handover& handover_;
    Mode mode_ = Mode::Serial; //!< Set by Open before the loop starts.
    std::string host_;         //!< TCP client: host text and port, set by Open.
    int tcpPort_ = 0;
    int udpPort_ = 0;
    bool opened_ = false;
    bool started_ = false;
    bool disconnectOnClose_ = false; //!< UDP with a socket, TCP client: Close reports the end.

    mutable std::mutex
        ioLock_; //!< Protects the descriptors and peer texts below; never held across a wait or a delivery.
    int socket_ = -1;   //!< TCP client or UDP.
    int listener_ = -1; //!< TCP server.
    Client clients_[ClientSlots];
    std::string peer_; //!< Serial: the port name; TCP client: the peer; UDP: the last sender.
    std::unique_ptr<TSerialConnection> serial_;

    WakeEvent wake_;                   //!< Signalled by Close: releases the loop's waits.
    std::atomic<bool> stop_{false};    //!< Set by Close.
    std::atomic<bool> closed_{false};  //!< The owner has let go: deliver nothing more.
    bool disconnectDelivered_ = false; //!< UI thread only: OnDisconnected ran (once at most).
    std::atomic<int> refs_{2};         //!< The owner's and the loop's.

    DataHandler onData_;
    PeerHandler onConnected_;
    PeerHandler onDisconnected_;
};

// Connects to host:port within timeoutMs, returning early when wake is signalled. The socket is
// non-blocking, with keep-alive and TCP_NODELAY. -1 when the host is unknown, the connect fails or
// the time runs out.
int TcpConnectTimed(const std::string& host, int port, int timeoutMs, const WakeEvent& wake);
