#pragma once
// TCP transports: a client connection to an instrument, and a listening port that serves one
// client at a time (a second client is told "ERROR_CONNECTION_BUSY\r\n" and dropped).
#include "connection/FdIo.h"
#include "connection/TConnection.h"

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
    // Waits for the client's bytes; accepts the first client meanwhile and turns later ones away.
    int Read(void* buffer, int size, int timeoutMs) override;
    // A client is connected.
    bool IsOpen() const override { return client_.IsOpen(); }
    // The port actually listened on (useful with port 0); 0 when not listening.
    int LocalPort() const;

private:
    int ReadClient(void* buffer, int size);
    void AcceptOne();

    GuardedFd listener_;
    GuardedFd client_;
    WakeEvent clientWake_; //!< Signalled when the client is closed.
    WakeEvent stopWake_;   //!< Signalled when listening stops.
};
