#include "BenchSupport.h"
#include <cstdio>
#include <fstream>
#include <malloc.h>

#include "app/Fconsole.h"
#include "connection/Fopencom.h"
#include "connection/Fselipaddr.h"
#include "connection/TraceIo.h"
#include "platform/QtPlatform.h"

#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <netinet/tcp.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

CpuLoad::CpuLoad(int nice) {
    const int count = std::max(2, static_cast<int>(std::thread::hardware_concurrency()));
    for (int i = 0; i < count; ++i)
        threads_.emplace_back([this, nice] {
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice);
            ::pthread_setname_np(::pthread_self(), CpuLoad::ThreadName);
            uint64_t spin = 0;
            while (!stop_.load(std::memory_order_relaxed))
                benchmark::DoNotOptimize(++spin);
        });
}

CpuLoad::~CpuLoad() {
    stop_ = true;
    for (auto& thread : threads_)
        thread.join();
}

std::vector<ThreadSched> ReadThreadSched() {
    std::vector<ThreadSched> threads;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        ThreadSched t;
        t.tid = static_cast<pid_t>(std::stol(entry.path().filename().string()));
        std::ifstream(entry.path() / "schedstat") >> t.runNs >> t.waitNs >> t.slices;
        std::getline(std::ifstream(entry.path() / "comm"), t.name);
        threads.push_back(t);
    }
    return threads;
}

std::vector<ThreadSched> SchedSince(const std::vector<ThreadSched>& before,
                                    const std::vector<ThreadSched>& after) {
    std::vector<ThreadSched> spent;
    for (const ThreadSched& a : after) {
        for (const ThreadSched& b : before) {
            if (b.tid != a.tid) continue;
            spent.push_back({a.tid, a.name, a.runNs - b.runNs, a.waitNs - b.waitNs, a.slices - b.slices});
        }
    }
    std::sort(spent.begin(), spent.end(), [](const auto& x, const auto& y) { return x.waitNs > y.waitNs; });
    return spent;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

pid_t SpawnWithOutput(const std::vector<std::string>& args, const std::string& outPath) {
    std::vector<std::string> text = args;
    std::vector<char*> argv;
    for (auto& arg : text)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

bool WaitSucceeded(pid_t pid) {
    if (pid < 0) return false;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::unique_ptr<TFormConsole> OpenConsoleOn(int port, const std::function<void(TFormConsole&)>& beforeStart) {
    auto console = std::make_unique<TFormConsole>();
    FormConsole = console.get();
    FormSelIpAddr = new TFormSelIpAddr(console.get());
    FormOpenCom = new TFormOpenCom(console.get());
    FormOpenCom->ListPorts = [] { return std::vector<SerialPortInfo>{}; };
    if (beforeStart) beforeStart(*console);
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane")
        .setValue("Connection", QString("tcp:127.0.0.1:%1").arg(port));
    QTimer::singleShot(50, [] { FormOpenCom->findChild<QPushButton*>("ButtonOk")->click(); });
    console->show();
    console->FormActivate();
    return console;
}

void SetNoDelay(int fd) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int ConnectLoopback(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    SetNoDelay(fd);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QtBenchEnvironment::QtBenchEnvironment(int& argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationDisplayName("Corvane");
    InstallQtHandover();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_.path());
    // A console's first start asks for a bookmark file; a stored one that exists is loaded instead.
    const QString bookmarks = settings_.filePath("Bookmarks.txt");
    std::ofstream(bookmarks.toStdString(), std::ios::binary) << "[Status]\r\nSTATUS?\r\n";
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane")
        .setValue("BookmarkFile", bookmarks);
    traceSink_ = std::fopen("/dev/null", "w");
    SetTraceStream(traceSink_);
}

QtBenchEnvironment::~QtBenchEnvironment() {
    SetTraceStream(nullptr);
    if (traceSink_) std::fclose(traceSink_);
}

double ResidentBytes() {
    ::malloc_trim(0);
    long total = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> total >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

double Seconds(std::chrono::steady_clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

uint32_t SampleLogLines::Noise(uint32_t range) {
    return ((noise_ = noise_ * 1664525 + 1013904223) >> 8 & 0xffffff) % range;
}

std::string SampleLogLines::Next() {
    ms_ += 1 + Noise(9);
    const long h = ms_ / 3600'000 % 24, m = ms_ / 60'000 % 60, sec = ms_ / 1000 % 60, milli = ms_ % 1000;
    char text[128];
    if (count_++ % 2 == 0) {
        std::snprintf(text, sizeof text, "[%02ld:%02ld:%02ld.%03ld] Tx: STATUS?", h, m, sec, milli);
    } else {
        const uint32_t fwd = 40 + Noise(8), fwdTenth = Noise(10), refl = 10 + Noise(5), reflTenth = Noise(10);
        std::snprintf(text, sizeof text,
                      "[%02ld:%02ld:%02ld.%03ld] Rx: STATUS OK FWD=%u.%udBm REFL=%u.%udBm TEMP=%uC", h, m,
                      sec, milli, fwd, fwdTenth, refl, reflTenth, 35 + Noise(6));
    }
    return text;
}

int RunInsideNetns(char** argv, const char* mark, bool twoHosts) {
    if (std::getenv(mark)) return -1;
    ::setenv(mark, "1", 1);
    std::string self(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    self.resize(n > 0 ? static_cast<size_t>(n) : 0);
    std::vector<char*> args{const_cast<char*>(CORVANE_NETNS_RUN)};
    if (twoHosts) args.push_back(const_cast<char*>("--two-hosts"));
    args.push_back(self.data());
    for (char** arg = argv + 1; *arg; ++arg)
        args.push_back(*arg);
    args.push_back(nullptr);
    const std::string name = std::filesystem::path(argv[0]).filename().string();
    pid_t pid = -1;
    if (::posix_spawn(&pid, CORVANE_NETNS_RUN, nullptr, nullptr, args.data(), environ) != 0) {
        std::printf("%s: skipped, cannot start %s\n", name.c_str(), CORVANE_NETNS_RUN);
        return 0;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    if (code == 77) std::printf("%s: skipped, no private network namespace can be made here\n", name.c_str());
    return code == 77 ? 0 : code;
}
