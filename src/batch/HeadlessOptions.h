#pragma once
// The command line of the headless batch runner: `corvane --batch SCRIPT --connect CONNECTION
// [--log FILE] [--reply-timeout MS] [--max-seconds N] [--answer yes|no]
// [--series NAME[UNIT]=PATTERN ... --csv FILE]`, each option also as --name=value. Plain C++; main
// calls it before anything of the windows exists.
#include "connection/LineEnds.h"
#include "plot/ReplySeries.h"

#include <optional>
#include <string>
#include <vector>

// How the headless runner ends.
enum HeadlessExit : int {
    ExitScriptDone = 0,       // the run reached the end of the script, #END or a #PROMPT answered no
    ExitUsage = 1,            // the command line is wrong, or the log file cannot be opened
    ExitOpenFailed = 2,       // the connection cannot be opened
    ExitScriptError = 3,      // the script cannot be read, fails its checks, or a line of it cannot run
    ExitReplyTimeout = 4,     // --reply-timeout passed without a reply to a command
    ExitPromptUnanswered = 5, // a #PROMPT line came and --answer was not given
    ExitConnectionLost = 6,   // the link ended during the run
    ExitOutputFailed = 7,     // standard output or the --log file could not be written
    ExitTimeLimit = 8,        // --max-seconds passed before the run ended
    ExitCheckFailed = 9,      // a test script ran to its end, and a check or a step failed
    // A signal N that ends the run gives 128 + N, as a shell reports it.
    ExitSignalBase = 128,
};

enum class PromptAnswer { None, Yes, No };

struct HeadlessOptions {
    std::string script;
    std::string connection;
    std::string logFile;    // empty: standard output only
    int replyTimeoutMs = 0; // 0: commands without a reply are not an error
    int maxSeconds = 0;     // 0: the run is not bounded
    PromptAnswer answer = PromptAnswer::None;
    std::vector<SeriesDefinition> series; // each --series, in order
    std::string csvFile;                  // empty: no CSV; else needs series
    LineEnds lineEnds;                    // --tx-eol, --rx-eol, --idle-ms; LF both ways by default
    bool escapes = false;                 // --escapes on: \r \n \t \xhh \\ in commands
    bool controlChars = false;            // --control-chars on: lines logged with every byte
    std::optional<bool> dtr, rts;         // --dtr / --rts on|off, set once a serial port is open
    std::string gpibDriver;               // --gpib-driver: the driver a VISA GPIB resource loads

    // A test script's (IsTestScript): its reports, the instruments it opens by name, its
    // parameters, and whether it may run programs and touch files.
    std::string junitFile;                                        // --junit FILE
    std::string tapFile;                                          // --tap FILE
    std::vector<std::pair<std::string, std::string>> instruments; // --instrument NAME=CONNECTION
    std::vector<std::pair<std::string, std::string>> params;      // --set NAME=VALUE
    bool allowSystem = false;                                     // --allow-system
};

// A script is a Lua test script by its name (".lua"), else a batch script.
bool IsTestScript(const std::string& script);

// What the program's command line asks for. It is read before anything of the window toolkit
// exists, so that --help and a mistyped option work without a display.
enum class ProgramMode {
    Window,    // the console window; a plain first argument is a batch script to load at start
    Headless,  // --batch: the headless runner, which reads its own options
    Help,      // --help or -h anywhere: the usage on standard output, exit 0
    Version,   // --version anywhere (and no --help): "corvane 0.9.0" on standard output, exit 0
    BadOption, // an option neither ours nor the window toolkit's: the usage on standard error, exit 1
};
// args: the arguments after the program name. bad: the offending option for BadOption.
ProgramMode ReadProgramMode(const std::vector<std::string>& args, std::string& bad);

// Reads the arguments after the program name. False with error set for an unknown option, a
// missing or bad value, a missing --batch or --connect, series that cannot be used, or --csv
// without series.
bool ParseHeadlessOptions(const std::vector<std::string>& args, HeadlessOptions& options, std::string& error);

// The usage text printed with a command-line error.
extern const char HeadlessUsage[];
// The whole program's usage: the window, the headless runner (HeadlessUsage) and --help.
std::string ProgramUsage();
