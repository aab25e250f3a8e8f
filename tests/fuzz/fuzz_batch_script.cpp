// The batch script reader on arbitrary text: script files split at CR LF, LF and CR and write
// back to the same lines; every line classifies as a plain reading of the trimmed line says;
// "#DELAY " values stay within the tick arithmetic; and the label check agrees with a direct
// count of labels and gotos.
#include "batch/BatchScript.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
void Check(bool condition) {
    if (!condition) std::abort();
}

class Lines : public ScriptLines {
public:
    explicit Lines(const std::vector<std::string>& lines) : lines_(lines) {}
    int32_t LineCount() const override { return static_cast<int32_t>(lines_.size()); }
    std::string Line(int32_t index) const override { return lines_.at(static_cast<size_t>(index)); }

private:
    const std::vector<std::string>& lines_;
};

// One file for the whole run, in memory where there is such a folder (a disk makes the run crawl),
// removed at the end.
struct Scratch {
    std::string path;
    Scratch() {
        std::error_code ignored;
        std::filesystem::path folder = std::filesystem::is_directory("/dev/shm", ignored)
                                           ? "/dev/shm"
                                           : std::filesystem::temp_directory_path();
        path = (folder / ("corvane-fuzz-script-" + std::to_string(::getpid()))).string();
    }
    ~Scratch() { std::remove(path.c_str()); }
};

const std::string& ScratchFile() {
    static Scratch scratch;
    return scratch.path;
}

std::vector<std::string> ReadBack(const std::string& text) {
    std::string error;
    {
        std::vector<std::string> one{text};
        // Written as one line plus CR LF; read back below as the lines it holds.
        Check(WriteScriptFile(ScratchFile(), one, error));
    }
    std::vector<std::string> lines;
    Check(ReadScriptFile(ScratchFile(), lines, error));
    return lines;
}

void CheckLine(const std::string& raw) {
    ScriptLine line = ClassifyScriptLine(raw);
    const std::string trimmed = TrimScriptLine(raw);
    Check(trimmed.empty() || (static_cast<unsigned char>(trimmed.front()) > 32 &&
                              static_cast<unsigned char>(trimmed.back()) > 32));
    auto after = [&](const std::string& prefix) {
        return trimmed.rfind(prefix, 0) == 0 && line.argument == trimmed.substr(prefix.size());
    };
    switch (line.kind) {
    case ScriptLineKind::Blank:
        Check(trimmed.empty() && line.argument.empty());
        break;
    case ScriptLineKind::Command:
        Check(!trimmed.empty() && trimmed[0] != '#' && line.argument == trimmed);
        break;
    case ScriptLineKind::Prompt:
        Check(after("#PROMPT "));
        break;
    case ScriptLineKind::Label:
        Check(after("#LABEL "));
        break;
    case ScriptLineKind::Goto:
        Check(after("#GOTO "));
        break;
    case ScriptLineKind::Delay: {
        Check(after("#DELAY "));
        int32_t ms = DelayMilliseconds(line.argument);
        Check(ms != std::numeric_limits<int32_t>::min());
        break;
    }
    case ScriptLineKind::Expect: {
        ExpectLine expect;
        std::string problem;
        // A time that is read is one a run can wait; a refusal always says why.
        if (ParseExpectLine(line.argument, expect, problem))
            Check(expect.ms >= ExpectLine::MinExpectMs && expect.ms <= ExpectLine::MaxExpectMs);
        else
            Check(!problem.empty());
        break;
    }
    case ScriptLineKind::Break: {
        uint32_t ms = 0;
        std::string problem;
        Check(ParseBreakLength(line.argument, ms, problem) ? ms >= 1 && ms <= MaxBreakMs : !problem.empty());
        break;
    }
    case ScriptLineKind::End:
        Check(trimmed == "#END" && line.argument.empty());
        break;
    case ScriptLineKind::Comment:
        Check(trimmed[0] == '#' && trimmed != "#END" && line.argument.empty());
        for (const char* prefix : {"#PROMPT ", "#LABEL ", "#GOTO ", "#DELAY "})
            Check(trimmed.rfind(prefix, 0) != 0);
        break;
    }
}

void CheckLabelsAgree(const std::vector<std::string>& lines) {
    std::map<std::string, int32_t> first;
    int32_t duplicate = -1;
    std::set<std::string> gotos;
    for (size_t i = 0; i < lines.size(); ++i) {
        ScriptLine line = ClassifyScriptLine(lines[i]);
        if (line.kind == ScriptLineKind::Label &&
            !first.emplace(line.argument, static_cast<int32_t>(i)).second && duplicate < 0)
            duplicate = static_cast<int32_t>(i);
        if (line.kind == ScriptLineKind::Goto) gotos.insert(line.argument);
    }
    LabelMap labels{{"stale", 99}};
    LabelCheck check = CheckLabels(Lines(lines), labels);
    if (duplicate >= 0) {
        Check(!check.ok && check.line == duplicate && check.message.rfind("Duplicate label ", 0) == 0);
        Check(check.message.ends_with(" in line " + std::to_string(duplicate + 1)));
        return;
    }
    bool missing = false;
    for (const std::string& name : gotos)
        missing = missing || !first.contains(name);
    Check(check.ok == !missing);
    if (!check.ok) {
        Check(check.line >= 0 && static_cast<size_t>(check.line) < lines.size());
        Check(check.message.rfind("Non-existing goto ", 0) == 0);
        Check(ClassifyScriptLine(lines[static_cast<size_t>(check.line)]).kind == ScriptLineKind::Goto);
        return;
    }
    Check(labels == LabelMap(first.begin(), first.end()));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines = ReadBack(text);
    for (const std::string& line : lines)
        Check(line.find_first_of("\r\n") == std::string::npos);
    // Lines without line ends write and read back as they are.
    std::string error;
    Check(WriteScriptFile(ScratchFile(), lines, error));
    std::vector<std::string> again;
    Check(ReadScriptFile(ScratchFile(), again, error) && again == lines);

    for (const std::string& line : lines)
        CheckLine(line);
    CheckLabelsAgree(lines);
    return 0;
}
