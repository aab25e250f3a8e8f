// The local system's answers on POSIX.
#include "platform/System.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

std::string GetLocalUserName() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->pw_name;
    // Containers often run under a uid that the password database does not know.
    const char* user = std::getenv("USER");
    return user != nullptr ? user : "";
}

std::string GetUserShell() {
    if (const char* shell = std::getenv("SHELL"); shell && *shell) return shell;
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_shell && *user->pw_shell)
        return user->pw_shell;
    return "/bin/sh";
}

int FileAccessError(const std::string& path, bool write) {
    return ::access(path.c_str(), write ? W_OK : F_OK) == 0 ? 0 : errno;
}

std::string SystemHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string GetDnsDomainName() {
    const std::string host = SystemHostName();
    if (host.empty()) return {};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* info = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &info) != 0) return {};
    std::string canonical = info->ai_canonname != nullptr ? info->ai_canonname : "";
    freeaddrinfo(info);
    const size_t dot = canonical.find('.');
    return dot == std::string::npos ? std::string() : canonical.substr(dot + 1);
}

std::string GetExeDir() {
    std::vector<char> path(PATH_MAX);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0) return {};
        // readlink cuts silently at the buffer's size; only a shorter answer is known to be whole.
        if (static_cast<size_t>(length) < path.size()) {
            const std::string full(path.data(), static_cast<size_t>(length));
            const size_t slash = full.rfind('/');
            return slash == std::string::npos ? full : full.substr(0, slash);
        }
        path.resize(path.size() * 2);
    }
}

namespace {
// strerror_r comes in two shapes: the GNU one returns the text, the POSIX one fills the buffer.
[[maybe_unused]] const char* ErrorTextOf(const char* gnuResult, const char*) {
    return gnuResult;
}
[[maybe_unused]] const char* ErrorTextOf(int posixResult, const char* buffer) {
    return posixResult == 0 ? buffer : "";
}
} // namespace

// The C library names codes it does not know "Unknown error N"; for callers that is no text at all.
std::string SystemErrorText(int code) {
    char buffer[256] = {};
    const std::string text = ErrorTextOf(strerror_r(code, buffer, sizeof buffer), buffer);
    return text.starts_with("Unknown error") ? std::string() : text;
}

bool ToLocalTime(std::time_t t, std::tm& local) {
    return localtime_r(&t, &local) != nullptr;
}

long UtcOffsetSeconds(std::time_t t) {
    std::tm local{};
    return ToLocalTime(t, local) ? local.tm_gmtoff : 0;
}
