#pragma once
// TCP transports: a client connection to an instrument, and a listening port that serves one
// client at a time (a second client is told "ERROR_CONNECTION_BUSY\r\n" and dropped).
#include "connection/FdIo.h"
#include "connection/TConnection.h"

#include <atomic>

class TTcpClientConnection : public TConnection {
public:
    TTcpClientConnection();
    ~TTcpClientConnection() override;

    void Init() override;
    void Deinit() override;
    // "host:port"; false when already open, the host is unknown or the connect fails.
    bool Open(const std::string& params) override;
    bool Configure(const std::string&) override { return true; }
    void Close() override;
    int Write(const void* data, int length) override;
    int Read(void* buffer, int size, int timeoutMs) override;
    bool IsOpen() const override { return socket_.IsOpen(); }

private:
    GuardedFd socket_;
    WakeEvent wake_; //!< Signalled by Close to release a blocked Read or Write.
};

class TTcpServerConnection : public TConnection {
public:
    static constexpr char BusyReply[] = "ERROR_CONNECTION_BUSY\r\n";

    TTcpServerConnection();
    ~TTcpServerConnection() override;

    void Init() override;
    void Deinit() override;
    // "address:port"; address empty means all interfaces. The port text must be a whole decimal
    // integer: otherwise EConvertError is thrown and nothing is opened.
    bool Open(const std::string& params) override;
    bool Configure(const std::string&) override { return true; }
    // Closes the client only; the port keeps listening until CloseAll or destruction.
    void Close() override;
    void CloseAll() override;
    int Write(const void* data, int length) override;
    // Waits for the client's bytes; accepts a client when none is served and turns others away.
    // A client that leaves (or is closed by Close) makes room for the next; OnPeerEvent tells of
    // both. Ends (-1) only when listening stops.
    int Read(void* buffer, int size, int timeoutMs) override;
    // Listening: a port that serves clients counts as an open connection.
    bool IsOpen() const override { return listener_.IsOpen(); }
    // A client is connected.
    bool HasClient() const { return client_.IsOpen(); }
    // The port actually listened on (useful with port 0); 0 when not listening.
    int LocalPort() const;

private:
    int ReadClient(void* buffer, int size);
    void AcceptOne();
    void ClientLeft();

    GuardedFd listener_;
    GuardedFd client_;
    WakeEvent clientWake_;             //!< Signalled when the client is closed.
    WakeEvent stopWake_;               //!< Signalled when listening stops.
    std::atomic<bool> stopped_{false}; //!< CloseAll came, possibly before Open finished.
    std::string clientPeer_;           //!< Reader thread only: "a.b.c.d:port" of the client served.
};
