#pragma once
// What several benchmark programs share: a loopback client socket and, for programs that run
// windows, the Qt environment they run in.
#include <QApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <memory>

// Resident memory of the process, after returning freed memory to the system so that what an
// earlier benchmark freed does not hide what this one takes.
double ResidentBytes();
double Seconds(std::chrono::steady_clock::duration elapsed);

// A blocking TCP client on 127.0.0.1:port with TCP_NODELAY; -1 when the connect fails.
int ConnectLoopback(int port);
void SetNoDelay(int fd);

// The environment of a benchmark that runs windows: an offscreen QApplication with the hand-over
// in its loop, settings in a temporary folder, and the raw trace written as in real use to a sink
// that costs no terminal.
class QtBenchEnvironment {
public:
    QtBenchEnvironment(int& argc, char** argv);
    ~QtBenchEnvironment();
    QtBenchEnvironment(const QtBenchEnvironment&) = delete;
    QtBenchEnvironment& operator=(const QtBenchEnvironment&) = delete;

private:
    std::unique_ptr<QApplication> app_;
    QTemporaryDir settings_;
    std::FILE* traceSink_ = nullptr;
};
