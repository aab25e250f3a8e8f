#include "TestSupport.h"

#include "connection/FdIo.h"
#include "connection/Sockets.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

bool RunUntil(Handover& ui, const std::function<bool()>& done, int timeoutMs) {
    auto deadline = Handover::Clock::now() + std::chrono::milliseconds(timeoutMs);
    // done() may look at state that another thread changes without Notify: look again every 5 ms.
    while (Handover::Clock::now() < deadline) {
        auto slice = std::min(deadline, Handover::Clock::now() + std::chrono::milliseconds(5));
        if (ui.WaitUntil(done, slice)) return true;
    }
    return done();
}

std::string ReadLineWith(const TimedRead& read, std::string& pending, int timeoutMs, bool toEnd) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t lf = pending.find('\n');
        if (!toEnd && lf != std::string::npos) {
            std::string line = pending.substr(0, lf + 1);
            pending.erase(0, lf + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        char buffer[65536];
        long n = read(buffer, sizeof buffer, static_cast<int>(left.count()));
        if (n == 0) continue;
        if (n < 0) break;
        pending.append(buffer, static_cast<size_t>(n));
    }
    std::string rest = toEnd ? pending : "";
    if (toEnd) pending.clear();
    return rest;
}

TestClient::TestClient(int port) {
    SocketStartup();
    ConnectAttempt attempt{nullptr, 5000, {}};
    fd_ = TcpConnect("127.0.0.1:" + std::to_string(port), attempt);
}

TestClient::~TestClient() {
    CloseSocket(fd_);
    SocketCleanup();
}

bool TestClient::Send(const std::string& text) {
    WakeEvent never;
    return SendWithin(fd_, text.data(), text.size(), 5000, never) == static_cast<long>(text.size());
}

std::string TestClient::ReadLine(int timeoutMs) {
    return ReadLineWith([this](char* buffer, size_t size, int ms) { return Receive(buffer, size, ms); },
                        pending_, timeoutMs, false);
}
std::string TestClient::ReadToEnd(int timeoutMs) {
    return ReadLineWith([this](char* buffer, size_t size, int ms) { return Receive(buffer, size, ms); },
                        pending_, timeoutMs, true);
}

long TestClient::Receive(char* buffer, size_t size, int timeoutMs) {
    WakeEvent never;
    if (WaitReadable(fd_, never, timeoutMs) != WaitResult::Ready) return 0;
    long n = SocketReceive(fd_, buffer, size);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return n > 0 ? n : -1;
}

int FreeLoopbackPort() {
    SocketStartup();
    const int s = TcpListen(0, "127.0.0.1");
    Ipv4Endpoint local;
    LocalEndpoint(s, local);
    CloseSocket(s);
    SocketCleanup();
    return local.port;
}
