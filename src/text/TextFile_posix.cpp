// Text files read and replaced through POSIX calls.
#include "text/TextFile.h"

#include "text/TextFile_sys.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now: a network file system may report a failed write only here.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 || errno == EINTR;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// A symbolic link stays a link: the file it names is the one replaced.
std::string ResolvedTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// A name beside target that no other writer of this process or another one picks.
std::string TemporaryName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

bool WriteInPlace(const std::string& path, const std::string& data, int& errorCode, bool* created) {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC));
    if (file.Get() < 0) {
        errorCode = errno;
        return false;
    }
    if (created) *created = true;
    if (!WriteAll(file.Get(), data) || !file.Close()) {
        errorCode = errno;
        return false;
    }
    return true;
}

// Writes data to a new file made with mode (permissions of a replaced target, else the usual
// 0666 less the umask) and flushes it to the disk.
// made tells whether the file could be created at all.
bool WriteNewFile(const std::string& path, const std::string& data, const struct stat* target, bool& made) {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, target ? 0600 : 0666));
    made = file.Get() >= 0;
    if (!made) return false;
    if (target) {
        // Only root may hand a file to another owner; the permissions are what matters here.
        [[maybe_unused]] int ignored = ::fchown(file.Get(), target->st_uid, target->st_gid);
        if (::fchmod(file.Get(), target->st_mode & 07777) != 0) return false;
    }
    return WriteAll(file.Get(), data) && ::fsync(file.Get()) == 0 && file.Close();
}
} // namespace

ReadableFile::~ReadableFile() {
    if (handle_ != Closed) ::close(static_cast<int>(handle_));
}

bool ReadableFile::Open(const std::string& path, int& errorCode, bool* opened) {
    // The type is checked before opening: opening a FIFO for reading waits for a writer.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        errorCode = errno;
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        errorCode = S_ISDIR(info.st_mode) ? EISDIR : TextFileNotRegular;
        return false;
    }
    // O_NONBLOCK as well: the name may have been swapped for a FIFO since.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        errorCode = errno;
        return false;
    }
    handle_ = fd;
    if (::fstat(fd, &info) != 0) {
        errorCode = errno;
        return false;
    }
    if (opened) *opened = true;
    if (!S_ISREG(info.st_mode)) {
        errorCode = TextFileNotRegular;
        return false;
    }
    size_ = static_cast<uint64_t>(info.st_size);
    return true;
}

long ReadableFile::ReadSome(char* buffer, size_t size, int& errorCode) {
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(handle_), buffer, size);
        if (n >= 0) return static_cast<long>(n);
        if (errno != EINTR) {
            errorCode = errno;
            return -1;
        }
    }
}

bool WriteTextData(const std::string& path, const std::string& data, int& errorCode, bool* created) {
    const std::string target = ResolvedTarget(path);
    struct stat info {};
    const bool exists = ::stat(target.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) return WriteInPlace(target, data, errorCode, created);
    const std::string temporary = TemporaryName(target);
    bool made = false;
    const bool written = WriteNewFile(temporary, data, exists ? &info : nullptr, made);
    if (created) *created = made;
    if (!written) {
        errorCode = errno;
        if (made) ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        errorCode = errno;
        ::unlink(temporary.c_str());
        // Only the temporary file was made: the target itself could not be created.
        if (created && !exists) *created = false;
        return false;
    }
    return true;
}
