#pragma once
// The system's side of reading a text file (TextFile_posix.cpp, TextFile_win32.cpp), behind the
// steps every system shares in TextFile.cpp. Private to the text-file unit.
#include <cstddef>
#include <cstdint>
#include <string>

// A regular file open for reading; closed when it goes.
class ReadableFile {
public:
    ReadableFile() = default;
    ~ReadableFile();
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;

    // Opens path when it is a regular file and never waits on anything else (a FIFO, a device):
    // false with errorCode the system's code or TextFileNotRegular. opened (when given) is set once
    // the file itself could be opened, so a message can say which step failed.
    bool Open(const std::string& path, int& errorCode, bool* opened);
    // The size it had when opened.
    uint64_t Size() const { return size_; }
    // The next bytes into buffer: their count, 0 at the end, or -1 with the system's code in errorCode.
    long ReadSome(char* buffer, size_t size, int& errorCode);

private:
    static constexpr std::intptr_t Closed = -1;
    std::intptr_t handle_ = Closed; //!< A descriptor, or a HANDLE on Windows.
    uint64_t size_ = 0;
};
