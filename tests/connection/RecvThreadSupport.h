#pragma once
// What the receive-thread tests share: a recorder of the notifications and a plain UDP socket.
#include "connection/Recvthread.h"

#include <netinet/in.h>
#include <string>
#include <vector>

struct RecvRecorder {
    struct Data {
        std::string peer;
        std::string bytes;
        int length = 0;
        bool terminated = false; // a 0 byte followed the data
    };
    std::vector<Data> data;
    std::vector<std::string> connected;
    std::vector<std::string> disconnected;

    void Attach(TRecvThread& thread) {
        thread.SetOnData([this](const std::string& peer, const char* bytes, int length) {
            data.push_back(
                {peer, std::string(bytes, static_cast<size_t>(length)), length, bytes[length] == 0});
        });
        thread.SetOnConnected([this](const std::string& peer) { connected.push_back(peer); });
        thread.SetOnDisconnected([this](const std::string& peer) { disconnected.push_back(peer); });
    }
};

// A UDP socket bound to address:port (port 0: any) with broadcast and address reuse on.
class UdpSocket {
public:
    UdpSocket(const std::string& address, int port);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Port() const;
    bool SendTo(const std::string& address, int port, const std::string& bytes);
    // The next datagram within timeoutMs; from := its sender "a.b.c.d:port". "" on a time-out.
    std::string Receive(std::string& from, int timeoutMs = 5000);

private:
    int fd_ = -1;
};
