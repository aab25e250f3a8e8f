#pragma once
// A VXI-11 session: the portmapper tells the core channel's port (GETPORT for DEVICE_CORE version 1
// over TCP), a link to the device is made on it (create_link), and messages go over that link.
// Each call is one RPC on the core channel, its wait bounded by the caller's time-out; the same
// time-out goes to the instrument as io_timeout. A reply that comes after its call gave up is
// recognised by its xid and skipped, so a time-out leaves the channel usable.
//
// Threads: as MessageSession says. VXI-11 reports service requests over an interrupt channel that
// the client would serve itself (create_intr_chan); this client opens none, so OnServiceRequest is
// never called: ask ReadStatusByte. OnProtocolError is never called either: every failure belongs
// to the call that met it.
#include "connection/MessageSession.h"
#include "connection/OncRpc.h"
#include "connection/TcpChannel.h"

#include <atomic>
#include <mutex>

class Vxi11Client final : public MessageSession {
public:
    // The most a device_read asks for at once; a longer message takes several.
    static constexpr uint32_t RequestSize = 1u << 20;
    // The bound on destroy_link when closing.
    static constexpr int CloseTimeoutMs = 1000;

    Vxi11Client();
    ~Vxi11Client() override;

    bool Open(const SessionTarget& target) override;
    bool Write(const std::string& message, int timeoutMs) override;
    bool Read(std::string& message, int timeoutMs) override;
    bool ReadStatusByte(uint8_t& status, int timeoutMs) override;
    bool Clear(int timeoutMs) override;
    void Close() override;
    bool IsOpen() const override { return open_.load(); }

    // The largest device_write the link takes, from create_link's reply.
    uint32_t MaxRecvSize() const { return maxRecvSize_.load(); }

private:
    bool OpenLocked(const SessionTarget& target);
    bool ReadLocked(std::string& message, int timeoutMs);
    // One RPC on channel: results := the procedure's results. False with Fail called.
    bool Call(TcpChannel& channel, oncrpc::RecordReader& reader, const oncrpc::RpcCall& call,
              const std::string& arguments, int timeoutMs, std::string& results);
    // Call on the core channel; the failure is prefixed with the procedure's name.
    bool CoreCall(uint32_t procedure, const std::string& arguments, int timeoutMs, std::string& results);
    // Fails when a decoded reply carries a device error.
    bool DeviceOk(const char* call, int32_t error);
    // A failure after which channel cannot be used again: it is closed (the session with it, for
    // the core channel).
    bool Break(TcpChannel& channel, const std::string& reason);
    // destroy_link when the link is up, then both channels closed. callLock_ held.
    void Teardown();

    TcpChannel portmap_;
    TcpChannel core_;
    std::mutex callLock_; //!< Held by every call and by Close: one exchange on the channels at a time.
    // Under callLock_:
    oncrpc::RecordReader coreReader_;
    uint32_t xid_ = 0;
    int32_t link_ = 0;
    int termChar_ = -1;
    uint32_t lockTimeoutMs_ = 0;
    bool linked_ = false;

    std::atomic<bool> open_{false};
    std::atomic<uint32_t> maxRecvSize_{0};
    std::atomic<unsigned> closes_{0}; //!< Counts Close calls, so an Open under way sees one.
};
