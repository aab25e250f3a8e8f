#include "log/QueuedStream.h"

#include <cerrno>
#include <unistd.h>

int WriteToStream(std::FILE* stream, const char* data, std::size_t size) {
    const int fd = ::fileno(stream);
    if (fd < 0) {
        const bool whole = std::fwrite(data, 1, size, stream) == size && std::fflush(stream) == 0;
        return whole ? 0 : (errno != 0 ? errno : EIO);
    }
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}
