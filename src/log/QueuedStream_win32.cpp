// The C runtime's descriptor rather than the bare handle: a stream in text mode has its LF
// written as CR LF, as stdio would.
#include "log/QueuedStream.h"

#include <cerrno>
#include <io.h>

int WriteToStream(std::FILE* stream, const char* data, std::size_t size) {
    const int fd = _fileno(stream);
    if (fd < 0) {
        const bool whole = std::fwrite(data, 1, size, stream) == size && std::fflush(stream) == 0;
        return whole ? 0 : (errno != 0 ? errno : EIO);
    }
    for (std::size_t done = 0; done < size;) {
        const unsigned chunk = static_cast<unsigned>(size - done < (1u << 30) ? size - done : (1u << 30));
        const int n = _write(fd, data + done, chunk);
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}
