// Start-up: from starting the program to its first window on the screen (mapped on a virtual X
// display of its own), Corvane against a minimal Qt Widgets program that shows one dialog, in
// turns in the same run so that a busy machine weighs on both alike. Each program starts with
// settings of its own in a fresh folder. Goal: Corvane within 1.5x of the baseline (medians).
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
constexpr int Rounds = 7;
constexpr auto MapTimeout = std::chrono::seconds(30);

// An Xvfb on a display number it chooses itself (-displayfd), ended with the benchmark.
class VirtualDisplay {
public:
    VirtualDisplay() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        const std::string fd = std::to_string(fds[1]);
        std::vector<std::string> args = {"Xvfb", "-displayfd", fd,  "-nolisten",
                                         "tcp",  "-screen",    "0", "1280x1024x24"};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const int failed = ::posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        char number[16] = {};
        if (failed == 0 && ::read(fds[0], number, sizeof number - 1) > 0)
            name_ = ":" + std::to_string(std::atoi(number));
        ::close(fds[0]);
    }
    ~VirtualDisplay() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;
    const std::string& Name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// Seconds from spawning program to the first top-level window it maps; negative when none came.
double TimeToFirstWindow(xcb_connection_t* x, const std::string& program, const std::string& display,
                         const std::filesystem::path& home) {
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    std::vector<std::string> env = {"DISPLAY=" + display, "HOME=" + home.string(),
                                    "XDG_CONFIG_HOME=" + (home / "config").string(),
                                    "XDG_RUNTIME_DIR=" + home.string(), "QT_QPA_PLATFORM=xcb"};
    for (const char* keep : {"PATH", "LANG", "XDG_DATA_DIRS"})
        if (const char* value = std::getenv(keep)) env.push_back(std::string(keep) + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = program;
    char* argv[] = {path.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return -1;
    double seconds = -1;
    while (std::chrono::steady_clock::now() - start < MapTimeout) {
        std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(xcb_poll_for_event(x), &std::free);
        if (!event) {
            if (xcb_connection_has_error(x)) break;
            ::usleep(200);
            continue;
        }
        if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY) continue;
        const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event.get());
        if (map->override_redirect) continue;
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        break;
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    // Windows of the killed program unmapping are no news for the next one.
    for (xcb_generic_event_t* stale; (stale = xcb_poll_for_event(x));)
        std::free(stale);
    return seconds;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}
} // namespace

int main() {
    VirtualDisplay display;
    if (display.Name().empty()) {
        std::fprintf(stderr, "bench_startup: no virtual display (Xvfb) could be started\n");
        return 1;
    }
    xcb_connection_t* x = xcb_connect(display.Name().c_str(), nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "bench_startup: cannot connect to %s\n", display.Name().c_str());
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    const std::string bin = CORVANE_BIN_DIR;
    const auto home =
        std::filesystem::temp_directory_path() / ("bench_startup." + std::to_string(::getpid()));
    std::vector<double> baseline, corvane;
    for (int round = 0; round < Rounds; ++round) {
        baseline.push_back(TimeToFirstWindow(x, bin + "/startup_baseline", display.Name(), home));
        corvane.push_back(TimeToFirstWindow(x, bin + "/corvane", display.Name(), home));
        std::printf("round %d: minimal dialog %7.1f ms, Corvane %7.1f ms\n", round + 1, 1e3 * baseline.back(),
                    1e3 * corvane.back());
    }
    xcb_disconnect(x);
    std::filesystem::remove_all(home);
    if (std::count_if(baseline.begin(), baseline.end(), [](double s) { return s < 0; }) ||
        std::count_if(corvane.begin(), corvane.end(), [](double s) { return s < 0; })) {
        std::fprintf(stderr, "bench_startup: a program showed no window\n");
        return 1;
    }
    const double ratio = Median(corvane) / Median(baseline);
    std::printf("\nstart to first window, median of %d: minimal dialog %.1f ms, Corvane %.1f ms: %.2fx "
                "(goal: < 1.5x)\n",
                Rounds, 1e3 * Median(baseline), 1e3 * Median(corvane), ratio);
    return 0;
}
