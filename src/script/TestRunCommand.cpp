#include "script/TestRunCommand.h"

#include "batch/HeadlessOptions.h"
#include "log/LogColours.h"

std::vector<std::string> TestRunArguments(const std::string& script, const std::string& connection,
                                          const LineEnds& ends, bool escapes) {
    std::vector<std::string> args = {"--batch",   script,
                                     "--connect", connection,
                                     "--tx-eol",  std::string(LineEndName(ends.tx)),
                                     "--rx-eol",  std::string(LineEndName(ends.rx)),
                                     "--escapes", escapes ? "on" : "off"};
    if (ends.idleMs > 0) args.insert(args.end(), {"--idle-ms", std::to_string(ends.idleMs)});
    return args;
}

uint32_t RunLineColour(const std::string& line) {
    // The text after the stamp and the instrument's name.
    const size_t stamp = line.find("] ");
    const std::string text = stamp == std::string::npos ? line : line.substr(stamp + 2);
    const size_t name = text.find(": ");
    const std::string kind = name == std::string::npos ? text : text.substr(name + 2);
    if (kind.starts_with("Tx: ")) return LogColours::Tx;
    if (kind.starts_with("Rx: ")) return LogColours::Rx;
    for (const char* failure : {"): FAIL", " FAILED", "ended by an error", "Not sent"}) {
        if (text.find(failure) != std::string::npos) return LogColours::Error;
    }
    return LogColours::Status;
}

std::string TestRunEndText(int exitCode) {
    switch (exitCode) {
    case ExitScriptDone:
        return "Test script ended: passed.";
    case ExitCheckFailed:
        return "Test script ended: a check FAILED (exit code 9).";
    case -1:
        return "Test script ended: the runner crashed or could not start.";
    default:
        return "Test script ended early (exit code " + std::to_string(exitCode) + "): see the lines above.";
    }
}
