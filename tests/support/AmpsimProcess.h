#pragma once
// Runs the simulated amplifier (build/bin/ampsim) as a child process for the length of a test.
//
// The constructor starts it with the given arguments plus --exit-on-stdin-eof and reads its
// standard output until "ready" (at most startTimeoutMs). Without --tcp or --pty among the
// arguments it adds "--tcp 127.0.0.1:0", so a test never takes the fixed default port. The child's
// standard input is a pipe held by this object: if the test process dies, the pipe closes and the
// simulator exits on its own. The destructor stops it with SIGTERM and reaps it.
// Not thread-safe; create and use it from one thread.
#include <string>
#include <sys/types.h>
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
    // The slave path of its pty ("/dev/pts/<n>"); empty when none.
    const std::string& PtyPath() const { return ptyPath_; }
    pid_t Pid() const { return pid_; }

    // Closes the child's standard input, which tells it to exit.
    void CloseStdin();
    // Sends SIGTERM.
    void Terminate();
    // Waits up to timeoutMs for the child to exit and reaps it. Returns its wait status, or -1 on a
    // time-out (the child keeps running) or when there is no child.
    int WaitExit(int timeoutMs);

private:
    bool Start(const std::vector<std::string>& args);
    bool ReadUntilReady(int timeoutMs);
    void TakeLine(const std::string& line);

    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    bool ready_ = false;
    std::string error_;
    std::string pending_; // stdout bytes not yet forming a whole line
    int tcpPort_ = 0;
    std::string ptyPath_;
};
