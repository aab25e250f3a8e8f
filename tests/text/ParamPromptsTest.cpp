#include "text/Strtools.h"

#include <deque>
#include <gtest/gtest.h>
#include <optional>
#include <utility>
#include <vector>

namespace {
using Asked = std::vector<std::pair<std::string, std::string>>; // name, offered value

// Answers from a script (nullopt or an exhausted script cancels) and records what it was shown.
class ScriptedUi : public ParamPromptUi {
public:
    explicit ScriptedUi(std::vector<std::optional<std::string>> answers)
        : answers_(answers.begin(), answers.end()) {}
    bool AskValue(const std::string& command, const std::string& name, std::string& value) override {
        commands.push_back(command);
        asked.emplace_back(name, value);
        if (answers_.empty() || !answers_.front()) return false;
        value = *answers_.front();
        answers_.pop_front();
        return true;
    }
    void ShowError(const std::string& message) override { errors.push_back(message); }

    Asked asked;
    std::vector<std::string> commands;
    std::vector<std::string> errors;

private:
    std::deque<std::optional<std::string>> answers_;
};

const std::string kUnterminated = "Unterminated <?...> Sequence!";

struct ResolveCase {
    std::string text;
    ParamMemory memory;
    std::vector<std::optional<std::string>> answers;
    Asked asked;
    bool ok;
    std::string result;
    bool unterminated = false;
};

void PrintTo(const ResolveCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

class ResolveParamPromptsTest : public testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveParamPromptsTest, AsksInOrderAndReplaces) {
    const ResolveCase& c = GetParam();
    ParamMemory memory = c.memory;
    ScriptedUi ui(c.answers);
    std::string text = c.text;
    EXPECT_EQ(ResolveParamPrompts(text, memory, ui), c.ok);
    EXPECT_EQ(ui.asked, c.asked);
    EXPECT_EQ(text, c.result);
    EXPECT_EQ(ui.errors,
              c.unterminated ? std::vector<std::string>{kUnterminated} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, ResolveParamPromptsTest,
    testing::Values(
        ResolveCase{"STATUS?", {}, {}, {}, true, "STATUS?"},
        ResolveCase{"SET <?Freq:100> <?Freq:100>", {}, {"250"}, {{"Freq", "100"}}, true, "SET 250 250"},
        ResolveCase{"SET <?Freq:100>", {{"Freq", "250"}}, {"1"}, {{"Freq", "250"}}, true, "SET 1"},
        ResolveCase{"<?Freq:100>", {{"freq", "1"}}, {"2"}, {{"Freq", "100"}}, true, "2"},
        ResolveCase{"SET <?a> <?b>", {}, {"1", "2"}, {{"a", ""}, {"b", ""}}, true, "SET 1 2"},
        ResolveCase{"A <?x> B:C", {}, {"7"}, {{"x", ""}}, true, "A 7 B:C"},
        ResolveCase{"<?a:b:c>", {}, {"q"}, {{"a", "b:c"}}, true, "q"},
        ResolveCase{"<?:5> <?>", {}, {"x", "y"}, {{"", "5"}, {"", "x"}}, true, "x y"},
        ResolveCase{"<?a<?b>>", {}, {"v"}, {{"a<?b", ""}}, true, "v>"},
        ResolveCase{"<?f:100> <?f>", {}, {"5", "6"}, {{"f", "100"}, {"f", "5"}}, true, "5 6"},
        ResolveCase{"<?a> <?a>", {}, {"<?z>!", "9"}, {{"a", ""}, {"z", ""}}, true, "9! 9!"},
        ResolveCase{"<?b> x <?a<?b>", {}, {"1"}, {{"b", ""}}, false, "1 x <?a1", true},
        ResolveCase{"X <?y", {}, {}, {}, false, "X <?y", true},
        ResolveCase{"<?v> <?w", {}, {"1"}, {{"v", ""}}, false, "1 <?w", true},
        ResolveCase{"<?a> <?b>", {}, {"1", std::nullopt}, {{"a", ""}, {"b", ""}}, false, "1 <?b>"}));

// A prompt the operator cancelled has still claimed its name, so its default no longer applies.
TEST(ResolveParamPromptsMemory, CancelledNameIsRememberedEmpty) {
    ParamMemory memory;
    std::string first = "<?a:3> <?n>";
    ScriptedUi cancelled({"8", std::nullopt});
    EXPECT_FALSE(ResolveParamPrompts(first, memory, cancelled));
    EXPECT_EQ(memory, (ParamMemory{{"a", "8"}, {"n", ""}}));

    std::string second = "<?n:7>";
    ScriptedUi ui({"9"});
    EXPECT_TRUE(ResolveParamPrompts(second, memory, ui));
    EXPECT_EQ(ui.asked, (Asked{{"n", ""}}));
    EXPECT_EQ(memory["n"], "9");
}

// The operator is told which command asks: the stored one, also after an earlier answer.
TEST(ResolveParamPromptsCommand, EveryQuestionNamesTheStoredCommand) {
    ParamMemory memory;
    std::string text = "SET <?f:100> <?level>";
    ScriptedUi ui({"200", "3"});
    EXPECT_TRUE(ResolveParamPrompts(text, memory, ui));
    EXPECT_EQ(ui.commands, (std::vector<std::string>{"SET <?f:100> <?level>", "SET <?f:100> <?level>"}));
}

struct MaskCase {
    std::string text;
    std::string mask;
    std::string result;
};

void PrintTo(const MaskCase& c, std::ostream* out) {
    *out << '"' << c.text << "\" / \"" << c.mask << '"';
}

class MaskParamPromptsTest : public testing::TestWithParam<MaskCase> {};

TEST_P(MaskParamPromptsTest, Masks) {
    EXPECT_EQ(MaskParamPrompts(GetParam().text, GetParam().mask), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Sequences, MaskParamPromptsTest,
                         testing::Values(MaskCase{"F <?f:1> G <?g>", "...", "F ... G ..."},
                                         MaskCase{"X <?y", "...", "X <?y"},
                                         MaskCase{"<?a> <?b", "...", "... <?b"},
                                         MaskCase{"<?b> x <?a<?b>", "#", "# x <?a#"},
                                         MaskCase{"<<?a>?b>", "", ""}, MaskCase{"<?x>", "<?>", "<?>"}));
} // namespace
