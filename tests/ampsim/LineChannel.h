#pragma once
// The test side of a conversation with ampsim: a TCP connection to 127.0.0.1 or an opened pty
// slave, with every wait bounded by a time-out instead of a sleep.
#include <optional>
#include <string>
#include <string_view>

class LineChannel {
public:
    static constexpr int kTimeoutMs = 5000;

    static LineChannel tcp(int port);
    // Opens the slave as a client program would, without changing its terminal settings.
    static LineChannel pty(const std::string& path);
    LineChannel(LineChannel&& other) noexcept;
    ~LineChannel();

    bool valid() const { return fd_ >= 0; }
    // Writes all bytes in one call where the peer takes them.
    bool send(std::string_view bytes, int timeoutMs = kTimeoutMs);
    // The next line up to its LF, which is removed; a CR before it stays. None on time-out or end.
    std::optional<std::string> readLine(int timeoutMs = kTimeoutMs);
    // Everything up to the peer's close. None on time-out.
    std::optional<std::string> readToEnd(int timeoutMs = kTimeoutMs);
    void close();

private:
    explicit LineChannel(int fd) : fd_(fd) {}
    // Appends what arrives within timeoutMs to buffer_; false on time-out, end or error.
    bool fill(int timeoutMs);

    int fd_ = -1;
    std::string buffer_;
    bool ended_ = false;
};
