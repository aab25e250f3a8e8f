#pragma once
// Queries of the local system: who runs the program, on which machine and from which folder, the
// system's texts for its error codes, and the local time. No state of their own; any thread.
#include <ctime>
#include <string>

// Empty text when the system refuses.
std::string GetLocalUserName();
std::string GetLocalComputerName();
std::string GetDnsDomainName();
std::string GetExeDir();
// The operator's interactive shell: $SHELL, else the account's; the command interpreter on Windows.
std::string GetUserShell();
// 0 when path exists (and, with write, may be written), else the system's error code for why not.
int FileAccessError(const std::string& path, bool write);
// The text of an error code: an errno value on POSIX, a Windows system error code (GetLastError,
// WSAGetLastError) on Windows. Empty for a code the system does not know.
std::string GetSystemErrorText(int code);

// The parts each system answers in its own way (System_posix.cpp, System_win32.cpp).
std::string SystemHostName();          // the full host name, as the system has it
std::string SystemErrorText(int code); // empty for a code the system does not know
bool ToLocalTime(std::time_t t, std::tm& local);
long UtcOffsetSeconds(std::time_t t); // local time minus UTC at t: zone and daylight saving
