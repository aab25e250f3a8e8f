#include "platform/MainThread.h"

#include <windows.h>

#include <tlhelp32.h>

namespace {
// When thread began; false when it cannot be asked.
bool CreationTime(DWORD threadId, ULONGLONG& time) {
    HANDLE thread = ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId);
    if (!thread) return false;
    FILETIME created{}, exited{}, kernel{}, user{};
    const bool known = ::GetThreadTimes(thread, &created, &exited, &kernel, &user) != 0;
    ::CloseHandle(thread);
    time = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return known;
}

// Windows names no main thread: it is the process's first, the one that began earliest.
DWORD MainThreadId() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    const DWORD process = ::GetCurrentProcessId();
    DWORD first = 0;
    ULONGLONG earliest = ~0ULL;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        ULONGLONG began = 0;
        if (entry.th32OwnerProcessID == process && CreationTime(entry.th32ThreadID, began) &&
            began < earliest) {
            earliest = began;
            first = entry.th32ThreadID;
        }
    }
    ::CloseHandle(snapshot);
    return first;
}
} // namespace

bool IsMainThread() {
    static const DWORD mainThread = MainThreadId();
    return ::GetCurrentThreadId() == mainThread;
}
