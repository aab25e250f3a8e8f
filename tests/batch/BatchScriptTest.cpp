// The script language: line kinds, "#DELAY " numbers, label checks and script files.
#include "batch/BatchScript.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace {
struct LineCase {
    const char* line;
    ScriptLineKind kind;
    const char* argument;
};

class ScriptLineKinds : public testing::TestWithParam<LineCase> {};

TEST_P(ScriptLineKinds, AreReadFromTheTrimmedLine) {
    ScriptLine line = ClassifyScriptLine(GetParam().line);
    EXPECT_EQ(line.kind, GetParam().kind);
    EXPECT_EQ(line.argument, GetParam().argument);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ScriptLineKinds,
    testing::Values(
        LineCase{"", ScriptLineKind::Blank, ""}, LineCase{" \t\r\x01 ", ScriptLineKind::Blank, ""},
        LineCase{"  STATUS? \t", ScriptLineKind::Command, "STATUS?"},
        LineCase{"SET <?Power?> dBm", ScriptLineKind::Command, "SET <?Power?> dBm"},
        LineCase{"#PROMPT Switch the load on", ScriptLineKind::Prompt, "Switch the load on"},
        LineCase{"#LABEL top", ScriptLineKind::Label, "top"},
        LineCase{"#LABEL  two blanks", ScriptLineKind::Label, " two blanks"},
        LineCase{"#GOTO top", ScriptLineKind::Goto, "top"},
        LineCase{"\t#DELAY 250 ", ScriptLineKind::Delay, "250"}, LineCase{"#END", ScriptLineKind::End, ""},
        LineCase{"#END   \t", ScriptLineKind::End, ""}, LineCase{"#END now", ScriptLineKind::Comment, ""},
        LineCase{"#end", ScriptLineKind::Comment, ""}, LineCase{"#goto top", ScriptLineKind::Comment, ""},
        LineCase{"#DELAY ", ScriptLineKind::Comment, ""}, // the trailing blank is trimmed away
        LineCase{"#GOTO", ScriptLineKind::Comment, ""}, LineCase{"# note", ScriptLineKind::Comment, ""},
        LineCase{"#EXPECT STATUS OK 2000", ScriptLineKind::Expect, "STATUS OK 2000"}));

TEST(ExpectLine, ALastNumberIsTheTimeAndAQuotedTextIsTakenAsItStands) {
    auto parsed = [](std::string_view argument) {
        ExpectLine line;
        std::string problem;
        const bool ok = ParseExpectLine(argument, line, problem);
        return ok ? line.text + "|" + std::to_string(line.ms) : "refused: " + problem.substr(0, 23);
    };
    EXPECT_EQ(parsed("STATUS OK 2000"), "STATUS OK|2000");
    EXPECT_EQ(parsed("STATUS OK"), "STATUS OK|5000");
    EXPECT_EQ(parsed("42"), "42|5000");
    EXPECT_EQ(parsed("READY 2000x"), "READY 2000x|5000");
    EXPECT_EQ(parsed("\"text with spaces 3\" 2000"), "text with spaces 3|2000");
    EXPECT_EQ(parsed("\"OK -5\""), "OK -5|5000");
    EXPECT_EQ(parsed("READY 2147483647"), "READY|2147483647");
    for (const char* refused : {"MULTI 3", "OK -5", "OK 2.5", "READY 9", "READY 2147483648", "\"OK\" soon"})
        EXPECT_EQ(parsed(refused), "refused: #EXPECT wants a time of") << refused;
    EXPECT_EQ(parsed("\"OK"), "refused: #EXPECT's quoted text h");
}

TEST(BreakLength, IsAWholeNumberOfMillisecondsFromOneTo5000) {
    uint32_t ms = 0;
    std::string problem;
    EXPECT_TRUE(ParseBreakLength(" 250 ", ms, problem));
    EXPECT_EQ(ms, 250u);
    for (const char* refused : {"2.5", "0", "5001", "-5", "", "250ms"})
        EXPECT_FALSE(ParseBreakLength(refused, ms, problem)) << refused;
    EXPECT_EQ(problem, "#BREAK wants 1 to 5000 ms, not \"250ms\"");
}

TEST(DelayMilliseconds, ReadsALeadingDecimalInteger) {
    EXPECT_EQ(DelayMilliseconds("250"), 250);
    EXPECT_EQ(DelayMilliseconds("7x"), 7);
    EXPECT_EQ(DelayMilliseconds("-5"), -5);
    EXPECT_EQ(DelayMilliseconds(""), 0);
    EXPECT_EQ(DelayMilliseconds("x7"), 0);
    EXPECT_EQ(DelayMilliseconds(" \t+42 ms"), 42);
    EXPECT_EQ(DelayMilliseconds("-"), 0);
    EXPECT_EQ(DelayMilliseconds("99999999999999999999"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(DelayMilliseconds("-99999999999"), -std::numeric_limits<int32_t>::max());
}

class Lines : public ScriptLines {
public:
    explicit Lines(std::vector<std::string> lines) : lines_(std::move(lines)) {}
    int32_t LineCount() const override { return static_cast<int32_t>(lines_.size()); }
    std::string Line(int32_t index) const override { return lines_.at(static_cast<size_t>(index)); }

private:
    std::vector<std::string> lines_;
};

TEST(CheckLabels, RecordsEveryLabelWithItsLine) {
    LabelMap labels{{"stale", 9}};
    LabelCheck check =
        CheckLabels(Lines({"#GOTO b c", "", "#LABEL a", "X", "  #LABEL b c", "#GOTO a"}), labels);
    EXPECT_TRUE(check.ok);
    EXPECT_EQ(labels, (LabelMap{{"a", 2}, {"b c", 4}}));
}

TEST(CheckLabels, ReportsTheFirstFaultWithItsLineNumberCountingBlankLines) {
    LabelMap labels;
    LabelCheck duplicate = CheckLabels(Lines({"#LABEL a", "", "#GOTO missing", "#LABEL a"}), labels);
    EXPECT_FALSE(duplicate.ok);
    EXPECT_EQ(duplicate.line, 3);
    EXPECT_EQ(duplicate.message, "Duplicate label a in line 4");

    // Two blanks after #LABEL make a name that begins with a blank; the #GOTO does not find it.
    LabelCheck missing = CheckLabels(Lines({"", "#LABEL  loop", "X", "#GOTO loop"}), labels);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.line, 3);
    EXPECT_EQ(missing.message, "Non-existing goto loop in line 4");
}

class ScriptFiles : public testing::Test {
protected:
    std::string Path(const char* name) { return (dir.Path() / name).string(); }
    TempDir dir;
};

TEST_F(ScriptFiles, ReadAnyLineEndAndWriteCrLf) {
    {
        std::ofstream out(Path("in.txt"), std::ios::binary);
        out << "A\r\nB\nC\rD\r\n\r\nE";
    }
    std::vector<std::string> lines;
    std::string error;
    ASSERT_TRUE(ReadScriptFile(Path("in.txt"), lines, error)) << error;
    EXPECT_EQ(lines, (std::vector<std::string>{"A", "B", "C", "D", "", "E"}));
    ASSERT_TRUE(WriteScriptFile(Path("out.txt"), {"x", "", "\xe9"}, error)) << error;
    std::ifstream in(Path("out.txt"), std::ios::binary);
    std::stringstream written;
    written << in.rdbuf();
    EXPECT_EQ(written.str(), "x\r\n\r\n\xe9\r\n");
}

TEST_F(ScriptFiles, FailuresCarryTheSystemsReason) {
    std::vector<std::string> lines{"kept"};
    std::string error;
    EXPECT_FALSE(ReadScriptFile(Path("missing.txt"), lines, error));
    EXPECT_EQ(lines, std::vector<std::string>{"kept"});
    EXPECT_NE(error.find("missing.txt"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(WriteScriptFile("", {"x"}, error));
    EXPECT_EQ(error.rfind("Cannot create file \"\".", 0), 0u) << error;
}
} // namespace
