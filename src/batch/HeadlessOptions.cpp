#include "batch/HeadlessOptions.h"

#include <charconv>
#include <string_view>

const char HeadlessUsage[] =
    "usage: corvane --batch SCRIPT --connect CONNECTION [--log FILE] [--reply-timeout MS]\n"
    "               [--max-seconds N] [--answer yes|no]\n"
    "  CONNECTION: com:..., tcp:HOST:PORT, tcpsrv:[ADDRESS]:PORT or gpib:...\n"
    "  --max-seconds N: the whole run, connecting included, ends after N seconds at the latest\n"
    "  exit codes: 0 done, 1 usage, 2 cannot open the connection, 3 script error,\n"
    "              4 no reply within --reply-timeout, 5 #PROMPT without --answer, 6 connection lost,\n"
    "              7 the log could not be written, 8 stopped by --max-seconds,\n"
    "              128+N ended by signal N (INT, TERM, HUP)\n";

namespace {
constexpr std::string_view BatchOption = "--batch";

// A positive decimal integer, all of the text.
bool ParsePositive(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    auto [at, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && at == end && value > 0;
}

bool Take(const std::string& name, const std::string& value, HeadlessOptions& options, std::string& error) {
    if (name == "--batch") {
        options.script = value;
    } else if (name == "--connect") {
        options.connection = value;
    } else if (name == "--log") {
        options.logFile = value;
    } else if (name == "--reply-timeout") {
        if (!ParsePositive(value, options.replyTimeoutMs)) {
            error = "--reply-timeout wants a positive number of milliseconds, not '" + value + "'";
            return false;
        }
    } else if (name == "--max-seconds") {
        if (!ParsePositive(value, options.maxSeconds)) {
            error = "--max-seconds wants a positive number of seconds, not '" + value + "'";
            return false;
        }
    } else if (name == "--answer") {
        if (value != "yes" && value != "no") {
            error = "--answer wants yes or no, not '" + value + "'";
            return false;
        }
        options.answer = value == "yes" ? PromptAnswer::Yes : PromptAnswer::No;
    } else {
        error = "unknown option '" + name + "'";
        return false;
    }
    if (value.empty()) {
        error = name + " wants a value";
        return false;
    }
    return true;
}
} // namespace

bool HeadlessRequested(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == BatchOption || arg.starts_with("--batch=")) return true;
    }
    return false;
}

bool ParseHeadlessOptions(const std::vector<std::string>& args, HeadlessOptions& options,
                          std::string& error) {
    options = {};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!arg.starts_with("--")) {
            error = "unexpected argument '" + arg + "'";
            return false;
        }
        std::string name = arg;
        std::string value;
        if (size_t equals = arg.find('='); equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = arg + " wants a value";
            return false;
        }
        if (!Take(name, value, options, error)) return false;
    }
    if (options.script.empty() || options.connection.empty()) {
        error = "--batch and --connect are both needed";
        return false;
    }
    return true;
}
