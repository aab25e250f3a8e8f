#pragma once
// Runs the simulated amplifier (ampsim; ampsim.exe on Windows) as a child process for the length of
// a test. It is taken from the test programs' bin folder (CORVANE_BIN_DIR on POSIX; on Windows the
// folder of the running test program, which is the same one).
//
// The constructor starts it with the given arguments plus --exit-on-stdin-eof and reads its
// standard output until "ready" (at most startTimeoutMs). Without --tcp or --pty among the
// arguments it adds "--tcp 127.0.0.1:0", so a test never takes the fixed default port. The child's
// standard input is a pipe held by this object: if the test process dies, the pipe closes and the
// simulator exits on its own. The destructor stops it (as Terminate does) and reaps it.
// Not thread-safe; create and use it from one thread. One side per system (AmpsimProcess_posix.cpp,
// AmpsimProcess_win32.cpp); this header names no system type.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class AmpsimProcess {
public:
    explicit AmpsimProcess(std::vector<std::string> args = {}, int startTimeoutMs = 10000);
    ~AmpsimProcess();
    AmpsimProcess(const AmpsimProcess&) = delete;
    AmpsimProcess& operator=(const AmpsimProcess&) = delete;

    // True once the simulator printed "ready"; otherwise Error() says what went wrong.
    bool Ready() const { return ready_; }
    const std::string& Error() const { return error_; }

    // The port of the first TCP endpoint it announced; 0 when none.
    int TcpPort() const { return tcpPort_; }
    // The port of the endpoint it announced as kind ("vxi11" for the portmapper, "hislip"); 0 when none.
    int PortOf(const std::string& kind) const;
    // The slave path of its pty ("/dev/pts/<n>"); empty when none (always on Windows).
    const std::string& PtyPath() const { return ptyPath_; }
    // The child's process id; -1 when there is none (it failed to start, or was reaped).
    long long Pid() const;

    // Closes the child's standard input, which tells it to exit.
    void CloseStdin();
    // POSIX: sends SIGTERM, on which the simulator exits cleanly (status 0). Windows has no such
    // request for a program without a console: the child is ended at once (TerminateProcess), with
    // exit code 1.
    void Terminate();
    // Waits up to timeoutMs for the child to exit and reaps it. Returns its wait status on POSIX
    // (for WIFEXITED and WEXITSTATUS), its exit code on Windows; -1 on a time-out (the child keeps
    // running) or when there is no child.
    int WaitExit(int timeoutMs);

private:
    using Clock = std::chrono::steady_clock;
    struct Child; // the system's process and pipe handles

    // The arguments with --exit-on-stdin-eof, and a free loopback port when no endpoint is named.
    static std::vector<std::string> FullArguments(std::vector<std::string> args);
    bool Start(const std::vector<std::string>& args);
    bool ReadUntilReady(int timeoutMs);
    // Reads what the child wrote to its standard output, waiting until deadline: the number of
    // bytes read, 0 at the end of its output, -1 when the deadline passed first.
    long ReadOutput(char* buffer, std::size_t size, Clock::time_point deadline);
    void TakeLine(const std::string& line);

    std::unique_ptr<Child> child_;
    bool ready_ = false;
    std::string error_;
    std::string pending_; // stdout bytes not yet forming a whole line
    int tcpPort_ = 0;
    std::string ptyPath_;
    std::vector<std::pair<std::string, int>> ports_; //!< every "<kind> host:port" announced
};
