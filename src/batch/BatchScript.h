#pragma once
// The batch script language: how one script line is read, the label checks made before a run,
// and script files. Plain C++, no window; the runner (BatchRunner.h) and the batch window use it.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// What a line does when a run reaches it. Matching is on the trimmed line, case-sensitive, and
// each prefix includes its one trailing blank, so a control word alone on a line is a comment.
enum class ScriptLineKind {
    Blank,   // empty after trimming: skipped without a step
    Prompt,  // "#PROMPT <text>": ask Yes/No, No stops the run
    Label,   // "#LABEL <name>": a jump target, otherwise a comment
    Goto,    // "#GOTO <name>": go on after the "#LABEL <name>" line
    Delay,   // "#DELAY <ms>": wait that long instead of the usual second
    End,     // exactly "#END": stop the run
    Expect,  // "#EXPECT <text> [ms]": wait for a received line that holds the text
    Break,   // "#BREAK <ms>": hold a break on a serial line that long, then go on
    Comment, // any other line beginning with "#"
    Command, // anything else: sent to the amplifier as trimmed
};

struct ScriptLine {
    ScriptLineKind kind = ScriptLineKind::Blank;
    // The text after the prefix, kept as it is (a second blank after "#LABEL" belongs to the
    // name); for a command the whole trimmed line; empty otherwise.
    std::string argument;
};

// Removes every leading and trailing character with a code of 32 or less.
std::string TrimScriptLine(std::string_view line);

// Trims and classifies one line of the editor.
ScriptLine ClassifyScriptLine(std::string_view line);

// The wait of a "#DELAY " argument: a leading decimal integer (optional blanks, optional sign,
// digits up to the first non-digit), 0 when there are no digits. Values beyond what the wrapping
// tick arithmetic can tell apart are clamped to +-(2^31 - 1) ms.
int32_t DelayMilliseconds(std::string_view argument);

// An "#EXPECT " argument: the text to wait for and how long. Unquoted, a last word that reads as
// a number after the text is the time in milliseconds and the rest is the text; a line of digits
// alone is the text. A text in double quotes is taken as it stands, blanks and digits included,
// and only a time may follow it. A time must be a whole number of milliseconds from MinExpectMs
// to MaxExpectMs: "MULTI 3" or "OK -5" would otherwise wait 3 ms, or for "OK -5", without a word.
struct ExpectLine {
    static constexpr uint32_t DefaultMs = 5000;
    static constexpr uint32_t MinExpectMs = 10;
    static constexpr uint32_t MaxExpectMs = 0x7fffffff;
    std::string text;
    uint32_t ms = DefaultMs;
};
// False with problem set (what is wrong, for a message that adds the line number) when the
// argument cannot be read so.
bool ParseExpectLine(std::string_view argument, ExpectLine& expect, std::string& problem);

// A "#BREAK " argument: a whole number of milliseconds from 1 to MaxBreakMs, nothing else.
inline constexpr uint32_t MaxBreakMs = 5000;
bool ParseBreakLength(std::string_view argument, uint32_t& ms, std::string& problem);

// Read access to the script as the editor holds it at this moment (the runner never copies it).
class ScriptLines {
public:
    virtual ~ScriptLines() = default;
    virtual int32_t LineCount() const = 0;
    // The untrimmed line; callers ask only for 0 <= index < LineCount().
    virtual std::string Line(int32_t index) const = 0;
};

using LabelMap = std::map<std::string, int32_t>;

// The outcome of the checks made at Start.
struct LabelCheck {
    bool ok = true;
    int32_t line = -1;   // 0-based index of the offending line when !ok
    std::string message; // "Duplicate label <name> in line <n>" or "Non-existing goto <name> in line <n>"
};

// Fills labels (emptied first) with every "#LABEL " name and the index of its line, then checks
// that every "#GOTO " names one of them. Line numbers in the messages count from 1, blank lines
// included. Stops at the first fault.
LabelCheck CheckLabels(const ScriptLines& script, LabelMap& labels);
// The labels as CheckLabels, then every "#EXPECT " and "#BREAK " argument, so that a script that
// would misread one of them never starts: "<what is wrong> (line <n>)".
LabelCheck CheckScript(const ScriptLines& script, LabelMap& labels);
// The message for a control line whose argument cannot be read.
std::string ScriptLineProblem(const std::string& problem, int32_t index);

// Script files: CR LF, LF or CR line ends on reading, CR LF on writing. On failure the result is
// false and error holds the reason for the operator ("Cannot open file ..." with the system's text).
bool ReadScriptFile(const std::string& path, std::vector<std::string>& lines, std::string& error);
// Whether any line holds a 0 byte: the mark of a file that is no script.
bool HoldsNulBytes(const std::vector<std::string>& lines);
bool WriteScriptFile(const std::string& path, const std::vector<std::string>& lines, std::string& error);
