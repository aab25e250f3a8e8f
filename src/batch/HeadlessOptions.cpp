#include "batch/HeadlessOptions.h"

#include "connection/SerialPortList.h"
#include "connection/VisaResource.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string_view>

const char HeadlessUsage[] =
    "usage: corvane --batch SCRIPT --connect CONNECTION [--log FILE] [--reply-timeout MS]\n"
    "               [--max-seconds N] [--answer yes|no] [--series NAME[UNIT]=PATTERN ... --csv FILE]\n"
    "       corvane-batch SCRIPT --connect CONNECTION [the same options]: the same without Qt\n"
    "       corvane-batch --help | -h | --version\n"
    "  PATTERN: RE2 syntax (no back-references, no look-around) with one capture group around\n"
    "           the number, e.g. 'FWD[dBm]=^FWD ([-+0-9.eE]+)' ([UNIT] may be left out);\n"
    "           --csv writes a row per reply that gave numbers, while the script runs\n"
    "  CONNECTION: com:..., tcp:HOST:PORT, tcpsrv:[ADDRESS]:PORT or gpib:..., or a VISA resource\n"
    "           (TCPIP::HOST::PORT::SOCKET, ASRL3::INSTR, GPIB0::7::INSTR with --gpib-driver NAME, ...)\n"
    "  --max-seconds N: the whole run, connecting included, ends after N seconds at the latest\n"
    "  --tx-eol lf|cr|crlf|none, --rx-eol lf|cr|crlf|any, --idle-ms MS: line ends as in the\n"
    "           connection dialog; --escapes on|off; --dtr on|off, --rts on|off (com: only)\n"
    "  --control-chars on|off: on logs every byte of a line but its line end, as the console's\n"
    "           Show Control Characters does; off (the default) trims control bytes at both ends\n"
    "  a test script (SCRIPT.lua, Lua 5.4; --connect is then what corvane.open() opens):\n"
    "  --junit FILE, --tap FILE: reports of its steps; --csv FILE: a row per check\n"
    "  --instrument NAME=CONNECTION: what corvane.open(\"NAME\") opens; --set NAME=VALUE: "
    "corvane.params.NAME\n"
    "  --allow-system: the script may run programs and use files (os, io, require)\n"
    "  exit codes: 0 done, 1 usage, 2 cannot open the connection, 3 script error,\n"
    "              4 no reply within --reply-timeout or #EXPECT time, 5 #PROMPT without --answer,\n"
    "              6 connection lost, 7 the log could not be written, 8 stopped by --max-seconds,\n"
    "              9 a test script's check failed, 128+N ended by signal N (INT, TERM, HUP)\n";

namespace {
constexpr std::string_view BatchOption = "--batch";

// The options QApplication takes out of the command line itself (with one dash or two); an
// operator starting the window with -platform or -style must not be told they are unknown.
constexpr std::array<std::string_view, 16> ToolkitOptionsWithValue{"platform",
                                                                   "platformpluginpath",
                                                                   "platformtheme",
                                                                   "plugin",
                                                                   "qwindowgeometry",
                                                                   "geometry",
                                                                   "qwindowicon",
                                                                   "icon",
                                                                   "qwindowtitle",
                                                                   "title",
                                                                   "session",
                                                                   "display",
                                                                   "name",
                                                                   "style",
                                                                   "stylesheet",
                                                                   "visual"};
constexpr std::array<std::string_view, 7> ToolkitFlags{"reverse", "widgetcount", "nograb",       "dograb",
                                                       "sync",    "testability", "qmljsdebugger"};

template <size_t N> bool Holds(const std::array<std::string_view, N>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// An option's bare name: without its dashes and any "=value".
std::string_view OptionName(std::string_view arg) {
    arg.remove_prefix(arg.starts_with("--") ? 2 : 1);
    return arg.substr(0, arg.find('='));
}

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
    } else if (name == "--series") {
        options.series.push_back(ParseSeriesOption(value));
    } else if (name == "--gpib-driver") {
        options.gpibDriver = value;
    } else if (name == "--csv") {
        options.csvFile = value;
    } else if (name == "--tx-eol" || name == "--rx-eol") {
        const bool ok = name == "--tx-eol" ? ParseLineEnd(value, options.lineEnds.tx)
                                           : ParseLineEnd(value, options.lineEnds.rx);
        if (!ok) {
            error = name + " wants " + (name == "--tx-eol" ? "lf, cr, crlf or none" : "lf, cr, crlf or any") +
                    ", not '" + value + "'";
            return false;
        }
    } else if (name == "--idle-ms") {
        if (!ParsePositive(value, options.lineEnds.idleMs) || options.lineEnds.idleMs > LineEnds::MaxIdleMs) {
            error = "--idle-ms wants milliseconds from 1 to " + std::to_string(LineEnds::MaxIdleMs) +
                    ", not '" + value + "'";
            return false;
        }
    } else if (name == "--escapes" || name == "--dtr" || name == "--rts" || name == "--control-chars") {
        if (value != "on" && value != "off") {
            error = name + " wants on or off, not '" + value + "'";
            return false;
        }
        const bool on = value == "on";
        if (name == "--escapes") options.escapes = on;
        if (name == "--control-chars") options.controlChars = on;
        if (name == "--dtr") options.dtr = on;
        if (name == "--rts") options.rts = on;
    } else if (name == "--junit") {
        options.junitFile = value;
    } else if (name == "--tap") {
        options.tapFile = value;
    } else if (name == "--instrument" || name == "--set") {
        const size_t equals = value.find('=');
        if (equals == 0 || equals == std::string::npos) {
            error =
                name + " wants NAME=" + (name == "--set" ? "VALUE" : "CONNECTION") + ", not '" + value + "'";
            return false;
        }
        (name == "--set" ? options.params : options.instruments)
            .emplace_back(value.substr(0, equals), value.substr(equals + 1));
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

ProgramMode ReadProgramMode(const std::vector<std::string>& args, std::string& bad) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") return ProgramMode::Help;
    }
    for (const std::string& arg : args) {
        if (arg == "--version") return ProgramMode::Version;
    }
    for (const std::string& arg : args) {
        if (arg == BatchOption || arg.starts_with("--batch=")) return ProgramMode::Headless;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') continue; // a script name (or "-")
        const std::string_view name = OptionName(arg);
        if (Holds(ToolkitFlags, name)) continue;
        if (Holds(ToolkitOptionsWithValue, name)) {
            if (arg.find('=') == std::string::npos) ++i; // its value follows
            continue;
        }
        bad = arg;
        return ProgramMode::BadOption;
    }
    return ProgramMode::Window;
}

std::string ProgramUsage() {
    return std::string(
               "usage: corvane [SCRIPT]\n"
               "  the console window; SCRIPT: a batch script loaded into the batch window at start\n"
               "  (the window toolkit's own options, such as -platform NAME or -style NAME, apply)\n") +
           HeadlessUsage + "usage: corvane --help | -h | --version\n";
}

bool IsTestScript(const std::string& script) {
    if (script.size() < 4) return false;
    std::string end = script.substr(script.size() - 4);
    std::transform(end.begin(), end.end(), end.begin(), [](unsigned char c) { return std::tolower(c); });
    return end == ".lua";
}

namespace {
// A VISA resource is read into the program's own connection string once, here.
bool TakeVisaResource(const std::string& option, const std::string& gpibDriver, std::string& connection,
                      std::string& error) {
    const std::string visa = connection;
    if (!LooksLikeVisaResource(visa) ||
        VisaToConnection(visa, {gpibDriver, SerialPortOfNumber}, connection, error))
        return true;
    error = option + ": " + error;
    return false;
}

// Each kind of script has options of its own: a batch script's plotted series, a test script's
// reports and instruments.
bool CheckScriptKindOptions(const HeadlessOptions& options, bool test, std::string& error) {
    if (test && !options.series.empty()) {
        error =
            "--series is for batch scripts; a test script takes numbers with amp:number and corvane.check";
        return false;
    }
    if (test && (options.dtr || options.rts)) {
        error = "--dtr and --rts are for batch scripts; a test script switches them with amp:set_dtr and "
                "amp:set_rts";
        return false;
    }
    if (test) return true;
    const char* option = !options.junitFile.empty()     ? "--junit"
                         : !options.tapFile.empty()     ? "--tap"
                         : !options.instruments.empty() ? "--instrument"
                         : !options.params.empty()      ? "--set"
                         : options.allowSystem          ? "--allow-system"
                                                        : nullptr;
    if (!option) return true;
    error =
        std::string(option) + " is for test scripts (SCRIPT.lua), not for the batch script " + options.script;
    return false;
}
} // namespace

bool ParseHeadlessOptions(const std::vector<std::string>& args, HeadlessOptions& options,
                          std::string& error) {
    options = {};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!arg.starts_with("--")) {
            error = "unexpected argument '" + arg + "'";
            return false;
        }
        if (arg == "--allow-system") {
            options.allowSystem = true;
            continue;
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
    const bool test = IsTestScript(options.script);
    if (options.script.empty() || (options.connection.empty() && !test)) {
        error = "--batch and --connect are both needed";
        return false;
    }
    if (!TakeVisaResource("--connect", options.gpibDriver, options.connection, error)) return false;
    for (auto& [name, connection] : options.instruments) {
        if (!TakeVisaResource("--instrument " + name, options.gpibDriver, connection, error)) return false;
    }
    if (!CheckScriptKindOptions(options, test, error)) return false;
    if (std::string problem = DefinitionsProblem(options.series); !problem.empty()) {
        error = "--series: " + problem;
        return false;
    }
    if ((options.dtr || options.rts) && !options.connection.starts_with("com:")) {
        error = "--dtr and --rts want a serial connection (com:...)";
        return false;
    }
    if (!options.csvFile.empty() && options.series.empty() && !test) {
        error = "--csv wants at least one --series";
        return false;
    }
    return true;
}
