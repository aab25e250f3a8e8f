#pragma once
// The system's side of GuardedFd (FdIo_posix.cpp, FdIo_win32.cpp): the calls themselves, made
// under the guard's lock on a descriptor that is open. Private to the descriptor I/O unit.
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace fd_sys {
void SetNonBlocking(int fd);
void CloseDescriptor(int fd);
// One read or write that never waits: the count, or -1 with errno set (EAGAIN when it would wait).
ssize_t ReadSome(int fd, void* buffer, size_t size);
ssize_t WriteSome(int fd, const void* data, size_t size);
// ReadSome on a socket, with the system's stamp of when its bytes arrived (0: none).
ssize_t ReceiveSome(int fd, void* buffer, size_t size, int64_t& arrivalNs);
} // namespace fd_sys
