#pragma once
// Helpers shared by the tests: a UI loop on a Handover, loopback sockets and pseudo-terminals.
#include "platform/Handover.h"

#include <functional>
#include <string>
#include <vector>

// Runs the hand-over's pending steps on the calling (UI) thread until done() or timeoutMs.
bool RunUntil(Handover& ui, const std::function<bool()>& done, int timeoutMs = 10000);

// A read that waits up to timeoutMs: the bytes read, 0 at the time-out, -1 at the end.
using TimedRead = std::function<long(char* buffer, size_t size, int timeoutMs)>;
// Reads through read into pending until it holds a LF (returns the line with it) or, with toEnd,
// until the end; at the time-out returns "" (toEnd: everything that came).
std::string ReadLineWith(const TimedRead& read, std::string& pending, int timeoutMs, bool toEnd);

// A blocking loopback TCP client for tests.
class TestClient {
public:
    explicit TestClient(int port);
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool Connected() const { return fd_ >= 0; }
    bool Send(const std::string& text);
    // Reads until a LF (included) or timeoutMs; returns what came ("" on time-out or close).
    std::string ReadLine(int timeoutMs = 5000);
    // Reads until the peer closes or timeoutMs; returns everything that came.
    std::string ReadToEnd(int timeoutMs = 5000);
    int Fd() const { return fd_; }

private:
    long Receive(char* buffer, size_t size, int timeoutMs);

    int fd_ = -1;
    std::string pending_;
};

// POSIX only from here.

// A pseudo-terminal pair; the test plays the instrument on the master side. The pair starts in
// raw mode, or with the kernel's cooked defaults (echo, line editing, XON/XOFF, CR/LF mapping)
// to check that a transport makes the port raw itself.
class PtyPair {
public:
    enum class Start { Raw, Cooked };
    explicit PtyPair(Start start = Start::Raw);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }
    bool Write(const std::string& text);
    std::string ReadLine(int timeoutMs = 5000);
    // Reads until count bytes came or timeoutMs ran out; returns what came.
    std::string ReadBytes(size_t count, int timeoutMs = 5000);
    void CloseMaster();
    // Closes the test's own slave descriptor, so only the transport holds the slave open.
    void CloseSlave();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string pending_;
};

// A loopback port that was free a moment ago (bound by the system's choice, then let go): nothing
// listens there, so a connect is refused.
int FreeLoopbackPort();

// A loopback listener whose accept queue is full and never drained: a connect to it neither
// succeeds nor fails (the system drops its handshake and keeps retrying), as with a host that
// is off or a cable that is pulled. Loopback only; no outside address is ever touched.
class FullListener {
public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;

    int Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> idle_; //!< Connections that fill the queue.
};
