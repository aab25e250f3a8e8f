// What starting programs means on every system; the system's own calls are in Shell_posix.cpp
// and Shell_win32.cpp.
#include "platform/Shell.h"

#include "platform/System.h"

#include <cerrno>

std::string ShellErrorText(int error) {
    std::string text = GetSystemErrorText(error);
    return text.empty() ? "error " + std::to_string(error) : text;
}

ShellResult ShellFailure(int error, const std::string& message) {
    return ShellResult{error, message, -1};
}

// As the C runtime's argument reader takes a command line apart: an argument with a space, a tab
// or a quote is quoted, a quote inside is escaped with a backslash, and backslashes are doubled
// only where a quote follows them.
std::string WindowsCommandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& arg : argv) {
        if (!line.empty()) line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += arg;
            continue;
        }
        line += '"';
        size_t backslashes = 0;
        for (char c : arg) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(2 * backslashes, '\\');
        line += '"';
    }
    return line;
}

ShellResult RunInTerminal(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty())
        return ShellFailure(ENOENT, "Cannot start a program without a name.");
    // A terminal would open and close at once on a missing program; say why instead.
    if (FindProgram(argv[0]).empty()) {
        return ShellFailure(ENOENT, "Cannot start \"" + argv[0] + "\": " + ShellErrorText(ENOENT) + ".");
    }
    std::vector<std::string> command = TerminalCommand(argv);
    if (command.empty()) {
        return ShellFailure(
            ENOENT, "Cannot start \"" + argv[0] +
                        "\": no terminal emulator is installed (tried $TERMINAL, x-terminal-emulator, "
                        "gnome-terminal, konsole and xterm).");
    }
    return LaunchProgram(command);
}
