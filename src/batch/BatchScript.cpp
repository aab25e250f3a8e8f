#include "batch/BatchScript.h"

#include "text/TextFile.h"

#include "text/Strtools.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>

namespace {
constexpr std::string_view PromptPrefix = "#PROMPT ";
constexpr std::string_view LabelPrefix = "#LABEL ";
constexpr std::string_view GotoPrefix = "#GOTO ";
constexpr std::string_view DelayPrefix = "#DELAY ";
constexpr std::string_view ExpectPrefix = "#EXPECT ";
constexpr std::string_view BreakPrefix = "#BREAK ";
constexpr std::string_view EndWord = "#END";

bool IsDelayBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string FileError(const char* what, const std::string& path, int code) {
    return std::string(what) + " \"" + path + "\". " + TextFileErrorText(code);
}

} // namespace

std::string TrimScriptLine(std::string_view line) {
    return TrimText(line);
}

ScriptLine ClassifyScriptLine(std::string_view line) {
    std::string trimmed = TrimScriptLine(line);
    std::string_view text = trimmed;
    if (text.empty()) return {ScriptLineKind::Blank, {}};
    if (text[0] != '#') return {ScriptLineKind::Command, trimmed};
    struct Prefix {
        std::string_view text;
        ScriptLineKind kind;
    };
    for (const Prefix& prefix :
         {Prefix{PromptPrefix, ScriptLineKind::Prompt}, Prefix{LabelPrefix, ScriptLineKind::Label},
          Prefix{GotoPrefix, ScriptLineKind::Goto}, Prefix{DelayPrefix, ScriptLineKind::Delay},
          Prefix{ExpectPrefix, ScriptLineKind::Expect}, Prefix{BreakPrefix, ScriptLineKind::Break}}) {
        if (text.starts_with(prefix.text)) return {prefix.kind, std::string(text.substr(prefix.text.size()))};
    }
    return {text == EndWord ? ScriptLineKind::End : ScriptLineKind::Comment, {}};
}

namespace {
// A word an operator means as a number: digits, maybe with a sign, a point or a comma.
bool ReadsAsNumber(std::string_view word) {
    return !word.empty() && word.find_first_of("0123456789") != std::string_view::npos &&
           word.find_first_not_of("0123456789+-.,") == std::string_view::npos;
}

// A whole decimal number from low to high, all of the word.
bool WholeNumberIn(std::string_view word, uint64_t low, uint64_t high, uint32_t& value) {
    if (word.empty() || word.size() > 10 || word.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    const uint64_t number = std::stoull(std::string(word));
    if (number < low || number > high) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

bool TakeExpectTime(std::string_view word, ExpectLine& expect, std::string& problem) {
    if (WholeNumberIn(word, ExpectLine::MinExpectMs, ExpectLine::MaxExpectMs, expect.ms)) return true;
    problem = "#EXPECT wants a time of " + std::to_string(ExpectLine::MinExpectMs) + " to " +
              std::to_string(ExpectLine::MaxExpectMs) + " ms after its text, not \"" + std::string(word) +
              "\"; put the text in quotes if the number belongs to it";
    return false;
}

bool ParseQuotedExpect(std::string_view text, ExpectLine& expect, std::string& problem) {
    const size_t close = text.rfind('"');
    if (close == 0) {
        problem = "#EXPECT's quoted text has no closing quote";
        return false;
    }
    expect.text = std::string(text.substr(1, close - 1));
    const std::string rest = TrimScriptLine(text.substr(close + 1));
    return rest.empty() || TakeExpectTime(rest, expect, problem);
}
} // namespace

bool ParseExpectLine(std::string_view argument, ExpectLine& expect, std::string& problem) {
    expect = ExpectLine{};
    const std::string text = TrimScriptLine(argument);
    if (text.starts_with('"')) return ParseQuotedExpect(text, expect, problem);
    const size_t blank = text.find_last_of(" \t");
    const std::string_view last =
        blank == std::string::npos ? std::string_view() : std::string_view(text).substr(blank + 1);
    if (!ReadsAsNumber(last)) {
        expect.text = text;
        return true;
    }
    expect.text = TrimScriptLine(std::string_view(text).substr(0, blank));
    return TakeExpectTime(last, expect, problem);
}

bool ParseBreakLength(std::string_view argument, uint32_t& ms, std::string& problem) {
    const std::string text = TrimScriptLine(argument);
    if (WholeNumberIn(text, 1, MaxBreakMs, ms)) return true;
    problem = "#BREAK wants 1 to " + std::to_string(MaxBreakMs) + " ms, not \"" + text + "\"";
    return false;
}

int32_t DelayMilliseconds(std::string_view argument) {
    constexpr int64_t limit = std::numeric_limits<int32_t>::max();
    size_t i = 0;
    while (i < argument.size() && IsDelayBlank(argument[i]))
        ++i;
    bool negative = false;
    if (i < argument.size() && (argument[i] == '+' || argument[i] == '-')) negative = argument[i++] == '-';
    int64_t value = 0;
    for (; i < argument.size() && argument[i] >= '0' && argument[i] <= '9'; ++i) {
        if (value <= limit) value = value * 10 + (argument[i] - '0');
    }
    if (value > limit) value = limit;
    return static_cast<int32_t>(negative ? -value : value);
}

LabelCheck CheckLabels(const ScriptLines& script, LabelMap& labels) {
    labels.clear();
    const int32_t count = script.LineCount();
    for (int32_t i = 0; i < count; ++i) {
        ScriptLine line = ClassifyScriptLine(script.Line(i));
        if (line.kind != ScriptLineKind::Label) continue;
        if (!labels.emplace(line.argument, i).second)
            return {false, i, "Duplicate label " + line.argument + " in line " + std::to_string(i + 1)};
    }
    for (int32_t i = 0; i < count; ++i) {
        ScriptLine line = ClassifyScriptLine(script.Line(i));
        if (line.kind == ScriptLineKind::Goto && !labels.contains(line.argument))
            return {false, i, "Non-existing goto " + line.argument + " in line " + std::to_string(i + 1)};
    }
    return {};
}

std::string ScriptLineProblem(const std::string& problem, int32_t index) {
    return problem + " (line " + std::to_string(index + 1) + ")";
}

LabelCheck CheckScript(const ScriptLines& script, LabelMap& labels) {
    LabelCheck check = CheckLabels(script, labels);
    const int32_t count = script.LineCount();
    for (int32_t i = 0; i < count && check.ok; ++i) {
        const ScriptLine line = ClassifyScriptLine(script.Line(i));
        std::string problem;
        ExpectLine expect;
        uint32_t ms = 0;
        if ((line.kind == ScriptLineKind::Expect && !ParseExpectLine(line.argument, expect, problem)) ||
            (line.kind == ScriptLineKind::Break && !ParseBreakLength(line.argument, ms, problem)))
            check = {false, i, ScriptLineProblem(problem, i)};
    }
    return check;
}

bool ReadScriptFile(const std::string& path, std::vector<std::string>& lines, std::string& error) {
    int code = 0;
    bool opened = false;
    if (ReadTextLines(path, lines, code, &opened)) return true;
    error = FileError(opened ? "Cannot read file" : "Cannot open file", path, code);
    return false;
}

bool HoldsNulBytes(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        if (line.find('\0') != std::string::npos) return true;
    }
    return false;
}

bool WriteScriptFile(const std::string& path, const std::vector<std::string>& lines, std::string& error) {
    int code = 0;
    bool created = false;
    if (WriteTextLines(path, lines, code, &created)) return true;
    error = FileError(created ? "Cannot write file" : "Cannot create file", path, code);
    return false;
}
