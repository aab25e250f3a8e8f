// The C runtime's descriptors rather than bare handles: a stream in text mode has its LF written
// as CR LF, as stdio would.
#include "log/QueuedStream.h"

#include <cerrno>
#include <io.h>

int DuplicateStream(std::FILE* stream) {
    const int fd = _fileno(stream);
    return fd < 0 ? -1 : _dup(fd);
}

int WriteToDescriptor(int fd, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const unsigned chunk = static_cast<unsigned>(size - done < (1u << 30) ? size - done : (1u << 30));
        const int n = _write(fd, data + done, chunk);
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

void CloseDescriptor(int fd) {
    _close(fd);
}
