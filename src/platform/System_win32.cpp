// The local system's answers on Windows. Texts from the system come as UTF-16 and are given on
// as UTF-8.
#include "platform/System.h"

#include "platform/Win32Text.h"

#include <vector>

namespace {
std::string ComputerName(COMPUTER_NAME_FORMAT format) {
    DWORD size = 0;
    GetComputerNameExW(format, nullptr, &size);
    if (size == 0) return {};
    std::vector<wchar_t> name(size);
    if (!GetComputerNameExW(format, name.data(), &size)) return {};
    return Utf8FromWide(name.data(), static_cast<int>(size));
}
} // namespace

std::string GetLocalUserName() {
    wchar_t name[257] = {};
    DWORD size = 257;
    if (!GetUserNameW(name, &size) || size == 0) return {};
    return Utf8FromWide(name, static_cast<int>(size - 1)); // the count includes the terminating 0
}

std::string GetUserShell() {
    wchar_t shell[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"ComSpec", shell, MAX_PATH);
    return length > 0 && length < MAX_PATH ? Utf8FromWide(shell, static_cast<int>(length)) : "cmd.exe";
}

int FileAccessError(const std::string& path, bool write) {
    const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return static_cast<int>(GetLastError());
    const bool readOnlyFile =
        (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    return write && readOnlyFile ? ERROR_ACCESS_DENIED : 0;
}

std::string SystemHostName() {
    return ComputerName(ComputerNameDnsHostname);
}

std::string GetDnsDomainName() {
    return ComputerName(ComputerNameDnsDomain);
}

std::string GetExeDir() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        // A name cut at the buffer's size is told by a length equal to it.
        if (length < path.size()) {
            const std::string full = Utf8FromWide(path.data(), static_cast<int>(length));
            const size_t separator = full.find_last_of("\\/");
            return separator == std::string::npos ? full : full.substr(0, separator);
        }
        path.resize(path.size() * 2);
    }
}

std::string SystemErrorText(int code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result = Utf8FromWide(text, static_cast<int>(length));
    LocalFree(text);
    // The system ends its texts with a line end (and often a full stop before it).
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    return result;
}

bool ToLocalTime(std::time_t t, std::tm& local) {
    return localtime_s(&local, &t) == 0;
}

long UtcOffsetSeconds(std::time_t t) {
    std::tm local{};
    if (!ToLocalTime(t, local)) return 0;
    // The local wall-clock time read as if it were UTC, less the moment itself.
    return static_cast<long>(_mkgmtime(&local) - t);
}
