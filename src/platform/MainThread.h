#pragma once
// Which thread of the process is its main thread: the one that started it, whose return from
// main() ends the process, so it is the one thread sure to outlive every other (MainThread_posix.cpp,
// MainThread_win32.cpp). Any thread.

// Whether the calling thread is the process's main thread.
bool IsMainThread();
