#pragma once
// Starting other programs: documents, folders and URLs through the desktop's opener (xdg-open),
// console programs in a terminal emulator window, and programs by name.
//
// A program starts detached: the call does not wait for it, it runs in a session of its own (a
// Ctrl+C in our terminal does not reach it), and a background thread reaps it so that no zombie is
// left. Arguments reach the program as they are, never through a shell, so no text can inject a
// command. Its standard input and output are /dev/null (our standard output carries the raw
// trace); it keeps our standard error for its diagnostics. Any thread may call.
#include <string>
#include <vector>

struct ShellResult {
    int error = 0;       //!< errno of the failure; 0 when the program started
    std::string message; //!< the failure for the operator, with the system's error text; empty on success
    long long pid = -1;  //!< the started process's id
    bool Ok() const { return error == 0; }
};

// The path that argv[0] = name would run from: a name holding "/" is taken as it is, any other is
// searched on $PATH as exec does. Empty when there is no such executable file.
std::string FindProgram(const std::string& name);

// Starts argv[0] (searched on $PATH) with argv. A missing program fails with ENOENT and a message
// such as: Cannot start "telnet": No such file or directory.
ShellResult LaunchProgram(const std::vector<std::string>& argv);

// Opens a document, folder or URL with the desktop's handler (xdg-open). Whether a handler exists
// is only known to xdg-open after it has started; it reports that on its own.
ShellResult ShellOpen(const std::string& target);

// The command that shows argv in a new terminal window, or empty when no terminal emulator is
// installed. Tried in order: $TERMINAL (the user's own choice), x-terminal-emulator (Debian's
// configured default), gnome-terminal, konsole, xterm.
std::vector<std::string> TerminalCommand(const std::vector<std::string>& argv);

// The command line that hands argv to a Windows program unchanged, as its C runtime reads it.
std::string WindowsCommandLine(const std::vector<std::string>& argv);

// For both sides of this unit: the system's text for error (or "error N"), and a failed result.
std::string ShellErrorText(int error);
ShellResult ShellFailure(int error, const std::string& message);

// Runs a console program in a new terminal window. Fails without opening a window when the program
// or every terminal emulator is missing.
ShellResult RunInTerminal(const std::vector<std::string>& argv);
