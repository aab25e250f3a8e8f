#include "log/QueuedStream.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int DuplicateStream(std::FILE* stream) {
    const int fd = ::fileno(stream);
    return fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

int WriteToDescriptor(int fd, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

void CloseDescriptor(int fd) {
    ::close(fd);
}
