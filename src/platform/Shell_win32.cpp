// Starting programs through CreateProcess and ShellExecute. Every program started gets a console
// window of its own when it is a console program, so the terminal is the system's own; arguments
// reach it through WindowsCommandLine, never through cmd.exe. Error codes are Windows system codes.
#include "platform/Shell.h"

#include "platform/Win32Text.h"

#include <shellapi.h>

#include <vector>

namespace {
bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
} // namespace

std::string FindProgram(const std::string& name) {
    if (name.empty()) return {};
    const std::wstring wide = WideFromUtf8(name);
    if (name.find_first_of("/\\") != std::string::npos) return IsFile(wide) ? name : std::string();
    std::vector<wchar_t> found(MAX_PATH);
    for (;;) {
        const DWORD length = SearchPathW(nullptr, wide.c_str(), L".exe", static_cast<DWORD>(found.size()),
                                         found.data(), nullptr);
        if (length == 0) return {};
        if (length < found.size()) return Utf8FromWide(found.data(), static_cast<int>(length));
        found.resize(length + 1);
    }
}

ShellResult LaunchProgram(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty())
        return ShellFailure(ERROR_FILE_NOT_FOUND, "Cannot start a program without a name.");
    const std::string program = FindProgram(argv[0]);
    if (program.empty()) {
        return ShellFailure(ERROR_FILE_NOT_FOUND, "Cannot start \"" + argv[0] +
                                                      "\": " + ShellErrorText(ERROR_FILE_NOT_FOUND) + ".");
    }
    std::wstring commandLine = WideFromUtf8(WindowsCommandLine(argv));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // No handle is inherited: an open serial port or listening socket stays ours alone.
    if (!CreateProcessW(WideFromUtf8(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                        &process)) {
        const int error = static_cast<int>(GetLastError());
        return ShellFailure(error, "Cannot start \"" + argv[0] + "\": " + ShellErrorText(error) + ".");
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess); // the process runs on; nothing is left to reap
    return ShellResult{0, {}, static_cast<long long>(process.dwProcessId)};
}

ShellResult ShellOpen(const std::string& target) {
    const auto done = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", WideFromUtf8(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (done > 32) return ShellResult{0, {}, -1};
    const int error = static_cast<int>(GetLastError());
    return ShellFailure(error, "Cannot open \"" + target + "\": " + ShellErrorText(error) + ".");
}

// A console program started by LaunchProgram has a window of its own already.
std::vector<std::string> TerminalCommand(const std::vector<std::string>& argv) {
    return argv;
}
