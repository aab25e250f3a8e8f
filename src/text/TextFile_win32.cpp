// Text files read and replaced through the Windows API. Error codes are Windows system error codes.
#include "text/TextFile.h"

#include "platform/Win32Text.h"
#include "text/TextFile_sys.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace {
int LastError() {
    return static_cast<int>(GetLastError());
}

bool WriteAll(HANDLE file, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data.data() + done, chunk, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        done += written;
    }
    return true;
}

// A name beside target that no other writer of this process or another one picks.
std::wstring TemporaryName(const std::wstring& target) {
    static std::atomic<unsigned> counter{0};
    return target + L".tmp" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
}

// A device name (\\.\COM1, NUL) is written in place: it cannot be replaced.
bool IsDevicePath(const std::wstring& path) {
    return path.rfind(L"\\\\.\\", 0) == 0 || _wcsicmp(path.c_str(), L"NUL") == 0;
}

bool WriteInPlace(const std::wstring& path, const std::string& data, int& errorCode, bool* created) {
    OwnedHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.Valid()) {
        errorCode = LastError();
        return false;
    }
    if (created) *created = true;
    if (!WriteAll(file.Get(), data) || !file.Close()) {
        errorCode = LastError();
        return false;
    }
    return true;
}

// Writes data to a new file and flushes it to the disk; made tells whether it could be created.
bool WriteNewFile(const std::wstring& path, const std::string& data, bool& made) {
    OwnedHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    made = file.Valid();
    if (!made) return false;
    return WriteAll(file.Get(), data) && FlushFileBuffers(file.Get()) && file.Close();
}

HANDLE Handle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}
} // namespace

ReadableFile::~ReadableFile() {
    if (handle_ != Closed) CloseHandle(Handle(handle_));
}

bool ReadableFile::Open(const std::string& path, int& errorCode, bool* opened) {
    const std::wstring wide = WideFromUtf8(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        errorCode = LastError();
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        errorCode = TextFileNotRegular;
        return false;
    }
    const HANDLE file =
        CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errorCode = LastError();
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    if (opened) *opened = true;
    // A pipe or a device is refused: reading one could wait for ever.
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        errorCode = TextFileNotRegular;
        return false;
    }
    size_ = static_cast<uint64_t>(size.QuadPart);
    return true;
}

long ReadableFile::ReadSome(char* buffer, size_t size, int& errorCode) {
    DWORD got = 0;
    if (!ReadFile(Handle(handle_), buffer, static_cast<DWORD>(size), &got, nullptr)) {
        errorCode = LastError();
        return -1;
    }
    return static_cast<long>(got);
}

// The target is replaced with ReplaceFile, which keeps its attributes and its access rights, as
// the POSIX side keeps the permissions.
bool WriteTextData(const std::string& path, const std::string& data, int& errorCode, bool* created) {
    const std::wstring target = WideFromUtf8(path);
    if (IsDevicePath(target)) return WriteInPlace(target, data, errorCode, created);
    const bool exists = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
    const std::wstring temporary = TemporaryName(target);
    bool made = false;
    const bool written = WriteNewFile(temporary, data, made);
    if (created) *created = made;
    if (!written) {
        errorCode = LastError();
        if (made) DeleteFileW(temporary.c_str());
        return false;
    }
    const bool replaced = exists
                              ? ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                             REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                              : MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
    if (!replaced) {
        errorCode = LastError();
        DeleteFileW(temporary.c_str());
        // Only the temporary file was made: the target itself could not be created.
        if (created && !exists) *created = false;
        return false;
    }
    return true;
}
