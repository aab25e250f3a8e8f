// Starting programs through posix_spawn, xdg-open and the installed terminal emulators.
#include "platform/Shell.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The child must not inherit our descriptors (an open serial port or listening socket would stay
// busy for as long as the child lives), our standard output (the raw trace), our blocked signals or
// ignored SIGPIPE.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;

    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
        posix_spawnattr_init(&attributes);
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            sigaddset(&defaults, sig);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes,
                                 POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// The child is ours to reap; a detached thread waits for it so that it leaves no zombie and nobody
// has to touch SIGCHLD, which other parts of the program may rely on.
void ReapLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

bool HasSuffix(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
} // namespace

std::string FindProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    // An empty entry (a leading, doubled or trailing ':') stands for the working folder.
    for (size_t start = 0;;) {
        const size_t colon = folders.find(':', start);
        const std::string folder = folders.substr(start, colon - start);
        std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
        if (IsExecutableFile(candidate)) return candidate;
        if (colon == std::string::npos) return {};
        start = colon + 1;
    }
}

ShellResult LaunchProgram(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty())
        return ShellFailure(ENOENT, "Cannot start a program without a name.");
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    SpawnSetup setup;
    pid_t pid = -1;
    int error = posix_spawnp(&pid, args[0], &setup.actions, &setup.attributes, args.data(), environ);
    if (error != 0)
        return ShellFailure(error, "Cannot start \"" + argv[0] + "\": " + ShellErrorText(error) + ".");
    ReapLater(pid);
    return ShellResult{0, {}, pid};
}

ShellResult ShellOpen(const std::string& target) {
    ShellResult result = LaunchProgram({"xdg-open", target});
    if (!result.Ok()) {
        result.message = "Cannot open \"" + target + "\": the desktop's opener xdg-open cannot be started: " +
                         ShellErrorText(result.error) + ".";
    }
    return result;
}

std::vector<std::string> TerminalCommand(const std::vector<std::string>& argv) {
    const char* preferred = std::getenv("TERMINAL");
    std::vector<std::string> candidates;
    if (preferred && *preferred) candidates.push_back(preferred);
    for (const char* name : {"x-terminal-emulator", "gnome-terminal", "konsole", "xterm"})
        candidates.push_back(name);
    for (const auto& terminal : candidates) {
        if (FindProgram(terminal).empty()) continue;
        // gnome-terminal's -e takes one string that it splits itself; "--" passes argv unchanged.
        std::vector<std::string> command{terminal, HasSuffix(terminal, "gnome-terminal") ? "--" : "-e"};
        command.insert(command.end(), argv.begin(), argv.end());
        return command;
    }
    return {};
}
