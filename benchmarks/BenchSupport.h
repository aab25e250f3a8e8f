#pragma once
// What several benchmark programs share: a loopback client socket and, for programs that run
// windows, the Qt environment they run in.
#include <QApplication>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

class TFormConsole;

// Resident memory of the process, after returning freed memory to the system so that what an
// earlier benchmark freed does not hide what this one takes.
double ResidentBytes();
double Seconds(std::chrono::steady_clock::duration elapsed);

// The middle value (the upper of the two middle ones for an even count); 0 for none.
double Median(std::vector<double> values);

// Starts args[0] with args, its standard output into outPath (made or emptied); -1 when it could
// not be started. WaitSucceeded waits for it: true when it exited with 0.
pid_t SpawnWithOutput(const std::vector<std::string>& args, const std::string& outPath);
bool WaitSucceeded(pid_t pid);

// The console window with its dialogs, connected to tcp:127.0.0.1:port through its own
// connection dialog (answered OK) and settings, as an operator starts it. beforeStart runs
// between making the windows and the console's first activation (to wire further windows).
std::unique_ptr<TFormConsole> OpenConsoleOn(int port,
                                            const std::function<void(TFormConsole&)>& beforeStart = {});

// Keeps every CPU (at least two) busy with threads at a lower priority (nice) for as long as it
// lives, as a compile in the background does.
class CpuLoad {
public:
    static constexpr char ThreadName[] = "cpu-load";
    explicit CpuLoad(int nice);
    ~CpuLoad();
    CpuLoad(const CpuLoad&) = delete;
    CpuLoad& operator=(const CpuLoad&) = delete;
    int Threads() const { return static_cast<int>(threads_.size()); }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// What the scheduler did with each thread of this process between two readings of
// /proc/self/task/*/schedstat: time on a CPU, time waiting in a run queue for one, and how often
// it was given a CPU.
struct ThreadSched {
    pid_t tid = 0;
    std::string name;
    uint64_t runNs = 0, waitNs = 0, slices = 0;
};
std::vector<ThreadSched> ReadThreadSched();
// after - before per thread (threads in both), most waiting first.
std::vector<ThreadSched> SchedSince(const std::vector<ThreadSched>& before,
                                    const std::vector<ThreadSched>& after);

// Benchmarks that broadcast run whole inside a private network namespace: the first run of the
// program (mark not set in the environment) runs itself again through netns-run (--two-hosts when
// asked) with mark set, and returns its exit code, 0 with a note when no namespace can be made.
// Returns -1 inside the namespace: the caller goes on with its work there.
int RunInsideNetns(char** argv, const char* mark, bool twoHosts);

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

// Log lines as ping-pong gives them: a command and its reply in turn, a few milliseconds apart,
// with readings that move (from a fixed seed, the same every run), so that packing or searching
// them proves nothing a real log would not give.
class SampleLogLines {
public:
    explicit SampleLogLines(long startMs) : ms_(startMs) {}
    // The next line; even ones are commands (Tx), odd ones replies (Rx).
    std::string Next();

private:
    uint32_t Noise(uint32_t range);

    uint32_t noise_ = 12345;
    long ms_;
    std::size_t count_ = 0;
};
