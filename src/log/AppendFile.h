#pragma once
// A file opened for appending, as the session log writes it: created when missing, every write at
// its end, never truncated but for taking back the part of a line that a failed write left. Only a
// regular file (or a sink device, IsSinkDevice) is taken: a FIFO or a device could hold every write until
// someone reads it, and opening a FIFO waits for its reader. Its side per system is in
// AppendFile_posix.cpp and AppendFile_win32.cpp; error codes are errno values or Windows system
// error codes (GetSystemErrorText tells both), or NotRegular. One thread at a time.
#include <cstddef>
#include <cstdint>
#include <string>

// Why path cannot take a log or CSV file ("it is a FIFO (named pipe), not a regular file"); empty
// when it is a regular file, a sink device, or not there (it is then made, or the open says why).
// Links are followed.
std::string OutputFileProblem(const std::string& path);
// Whether path is a device that takes or refuses every write at once and never waits: /dev/null
// and /dev/full (a full disk on demand), NUL on Windows.
bool IsSinkDevice(const std::string& path);
// Whether two paths name one file: the same file through a link when both are there, else the same
// path once made absolute and normal (two outputs that are both still to be made).
bool SamePath(const std::string& a, const std::string& b);

class AppendFile {
public:
    // Open's code for a path that turned out to be no regular file once opened.
    static constexpr int NotRegular = -1;

    AppendFile() = default;
    ~AppendFile() { Close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens path after closing the file before, without waiting for a reader; 0, the system's
    // error code, or NotRegular.
    int Open(const std::string& path);
    void Close();
    bool IsOpen() const { return handle_ != Closed; }
    // The file was deleted while open: what is written now goes where no one can read it.
    bool Deleted() const;
    // Writes all of data at the end; 0, or the error code with written telling how much got in.
    int Write(const char* data, std::size_t size, std::size_t& written);
    // Cuts the last bytes off the file (the part of a line a failed write left).
    void TakeBack(std::size_t bytes);

private:
    static constexpr std::intptr_t Closed = -1;
    std::intptr_t handle_ = Closed; //!< A descriptor, or a HANDLE on Windows.
    std::string path_;              //!< As opened: Windows is asked by name whether it is still there.
};
