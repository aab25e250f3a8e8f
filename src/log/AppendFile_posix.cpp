#include "log/AppendFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
int Fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}
} // namespace

bool IsSinkDevice(const std::string& path) {
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0 || !S_ISCHR(file.st_mode)) return false;
    for (const char* sink : {"/dev/null", "/dev/full"}) {
        struct stat device {};
        if (::stat(sink, &device) == 0 && S_ISCHR(device.st_mode) && device.st_rdev == file.st_rdev)
            return true;
    }
    return false;
}

// O_NONBLOCK: a FIFO put there since the caller looked must not hold the open for its reader.
int AppendFile::Open(const std::string& path) {
    Close();
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) return errno;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || (!S_ISREG(status.st_mode) && !IsSinkDevice(path))) {
        ::close(fd);
        return NotRegular;
    }
    handle_ = fd;
    return 0;
}

void AppendFile::Close() {
    if (handle_ != Closed) ::close(Fd(handle_));
    handle_ = Closed;
}

// A file deleted under it still takes every write, into an inode with no name left.
bool AppendFile::Deleted() const {
    struct stat status {};
    return ::fstat(Fd(handle_), &status) == 0 && status.st_nlink == 0;
}

int AppendFile::Write(const char* data, std::size_t size, std::size_t& written) {
    written = 0;
    while (written < size) {
        const ssize_t n = ::write(Fd(handle_), data + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        // A write that makes no progress without an error would loop for ever: call it full.
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

// Appends went to the end: the part is there.
void AppendFile::TakeBack(std::size_t bytes) {
    struct stat status {};
    if (bytes == 0 || ::fstat(Fd(handle_), &status) != 0 || status.st_size < static_cast<off_t>(bytes))
        return;
    while (::ftruncate(Fd(handle_), status.st_size - static_cast<off_t>(bytes)) < 0 && errno == EINTR) {
    }
}
