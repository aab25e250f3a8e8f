#include "platform/MainThread.h"

#include <unistd.h>

// Linux gives the main thread the process's own id.
bool IsMainThread() {
    return ::gettid() == ::getpid();
}
