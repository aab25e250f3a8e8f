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
    // A time-out ends a Read (-1) ...
    int Read(void* buffer, int size, int timeoutMs) override;
    // ... and is "nothing this time" (0) here. With a time, it stays awake for the bytes a little
    // first while that pays (AwakeReads); for one thread only.
    int ReadWithin(void* buffer, int size, int timeoutMs) override;
    bool IsOpen() const override { return socket_.IsOpen(); }
    std::vector<int> WaitDescriptors() const override;
    int64_t LastArrivalNs() const override { return lastArrivalNs_; }

private:
    // Reads what has come, waiting up to timeoutMs for it: > 0 bytes, 0 at the time-out, -1 at
    // the end. readFirst: a read before any wait (else the wait comes first).
    int Receive(void* buffer, int size, int timeoutMs, bool readFirst);

    GuardedFd socket_;
    int64_t lastArrivalNs_ = 0; //!< The reading thread's.
    WakeEvent wake_;            //!< Signalled by Close to release a blocked Read or Write.
    AwakeReads awake_;          //!< ReadWithin's (one thread reads that way).
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
    // both. Ends (-1) when listening stops, and at the time-out.
    int Read(void* buffer, int size, int timeoutMs) override;
    // As Read, but the time-out gives 0.
    int ReadWithin(void* buffer, int size, int timeoutMs) override;
    // Listening: a port that serves clients counts as an open connection.
    bool IsOpen() const override { return listener_.IsOpen(); }
    std::vector<int> WaitDescriptors() const override;
    int64_t LastArrivalNs() const override { return lastArrivalNs_; }
    // A client is connected.
    bool HasClient() const { return client_.IsOpen(); }
    // The port actually listened on (useful with port 0); 0 when not listening.
    int LocalPort() const;

private:
    int ReadClient(void* buffer, int size);
    // Read's loop; a time-out returns timedOut.
    int Serve(void* buffer, int size, int timeoutMs, int timedOut);
    void AcceptOne();
    void ClientLeft();

    GuardedFd listener_;
    GuardedFd client_;
    int64_t lastArrivalNs_ = 0;        //!< The reading thread's.
    WakeEvent clientWake_;             //!< Signalled when the client is closed.
    WakeEvent stopWake_;               //!< Signalled when listening stops.
    std::atomic<bool> stopped_{false}; //!< CloseAll came, possibly before Open finished.
    std::string clientPeer_;           //!< The reading thread's: "a.b.c.d:port" of the client served.
};
