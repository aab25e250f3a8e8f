#include "log/AppendFile.h"

#include "platform/Win32Text.h"

#include <algorithm>
#include <cctype>

namespace {
HANDLE Handle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}
} // namespace

// The null device answers to NUL, also with a drive or a folder before it.
bool IsSinkDevice(const std::string& path) {
    const size_t cut = path.find_last_of("\\/:");
    std::string name = path.substr(cut == std::string::npos ? 0 : cut + 1);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    return name == "NUL";
}

// Shared for reading and deleting, as a log file on POSIX is: an editor may look at it, and the
// operator may delete it (Deleted then tells).
int AppendFile::Open(const std::string& path) {
    Close();
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    if (GetFileType(file) != FILE_TYPE_DISK && !IsSinkDevice(path)) {
        CloseHandle(file);
        return NotRegular;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    path_ = path;
    return 0;
}

void AppendFile::Close() {
    if (handle_ != Closed) CloseHandle(Handle(handle_));
    handle_ = Closed;
}

// Deleted while open, the file is pending deletion until closed, or (with the newer semantics,
// and under Wine) its name is gone at once.
bool AppendFile::Deleted() const {
    FILE_STANDARD_INFO info{};
    if (GetFileInformationByHandleEx(Handle(handle_), FileStandardInfo, &info, sizeof info) &&
        (info.DeletePending || info.NumberOfLinks == 0))
        return true;
    return GetFileAttributesW(WideFromUtf8(path_).c_str()) == INVALID_FILE_ATTRIBUTES &&
           GetLastError() == ERROR_FILE_NOT_FOUND;
}

int AppendFile::Write(const char* data, std::size_t size, std::size_t& written) {
    written = 0;
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(Handle(handle_), end, nullptr, FILE_END)) return static_cast<int>(GetLastError());
    while (written < size) {
        const DWORD chunk = static_cast<DWORD>(size - written < (1u << 30) ? size - written : (1u << 30));
        DWORD n = 0;
        if (!WriteFile(Handle(handle_), data + written, chunk, &n, nullptr))
            return static_cast<int>(GetLastError());
        if (n == 0) return ERROR_HANDLE_DISK_FULL;
        written += n;
    }
    return 0;
}

void AppendFile::TakeBack(std::size_t bytes) {
    LARGE_INTEGER size{};
    if (bytes == 0 || !GetFileSizeEx(Handle(handle_), &size) || size.QuadPart < static_cast<LONGLONG>(bytes))
        return;
    LARGE_INTEGER cut{};
    cut.QuadPart = size.QuadPart - static_cast<LONGLONG>(bytes);
    if (SetFilePointerEx(Handle(handle_), cut, nullptr, FILE_BEGIN)) SetEndOfFile(Handle(handle_));
}
