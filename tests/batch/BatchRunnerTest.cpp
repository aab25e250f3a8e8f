// The step machine without a window: a recording host stands in for the batch window and the
// console, and every tick is given by the test.
#include "batch/BatchRunner.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace {
class RecordingHost : public BatchHost {
public:
    int32_t LineCount() const override { return static_cast<int32_t>(lines.size()); }
    std::string Line(int32_t index) const override { return lines.at(static_cast<size_t>(index)); }
    void HighlightLine(int32_t index) override { highlighted.push_back(index); }
    void SendLine(const std::string& text) override {
        sent.push_back(text);
        if (onSend) onSend(text);
    }
    void Log(const std::string& text, uint32_t colour) override {
        logged.push_back(text);
        colours.push_back(colour);
    }
    bool Confirm(const std::string& text) override {
        prompts.push_back(text);
        if (duringPrompt) duringPrompt();
        bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    void ShowRunning(bool running) override { looks.push_back(running); }
    void PostDeferredStep() override { ++posted; }
    std::string SendBreak(uint32_t ms) override {
        breaks.push_back(ms);
        return breakFailure;
    }

    std::vector<std::string> lines;
    std::vector<int32_t> highlighted;
    std::vector<std::string> sent, logged, prompts, errors;
    std::vector<uint32_t> colours;
    std::vector<bool> looks;
    std::deque<bool> answers;
    std::function<void(const std::string&)> onSend;
    std::function<void()> duringPrompt;
    int posted = 0;
    std::vector<uint32_t> breaks;
    std::string breakFailure;
};

using Texts = std::vector<std::string>;

class Runner : public testing::Test {
protected:
    // Starts at tick now with the given script.
    void Start(Texts script, uint32_t at = 10000) {
        host.lines = std::move(script);
        now = at;
        ASSERT_TRUE(runner.Start(now));
    }
    // One received line, a millisecond after the previous event.
    void Reply(const std::string& line = "OK") { runner.NotifyRxLine(++now, line); }
    void Replies(int n) {
        for (int i = 0; i < n; ++i)
            Reply();
    }

    RecordingHost host;
    TBatchRunner runner{host};
    uint32_t now = 0;
};

TEST_F(Runner, AnEmptyOrBlankScriptLogsItsBeginAndIsIdleAtOnce) {
    for (const Texts& script : {Texts{}, Texts{"", "  ", "\t\r"}}) {
        host = RecordingHost{};
        Start(script);
        EXPECT_FALSE(runner.Running());
        EXPECT_EQ(runner.CurrentLine(), 0);
        EXPECT_EQ(host.logged, (Texts{"#Begin Batch.", "#End Batch."}));
        EXPECT_EQ(host.colours, (std::vector<uint32_t>{LogColours::WindowText, LogColours::WindowText}));
        EXPECT_EQ(host.looks, (std::vector<bool>{true, false}));
    }
}

// The log closes every run as it opened it, saying whether the script ran out, the operator
// stopped it or it failed; a run that is idle already logs nothing more.
TEST_F(Runner, EveryRunEndsWithALineThatSaysHow) {
    struct Case {
        Texts script;
        std::function<void()> drive;
        std::string last;
        uint32_t colour;
    };
    const std::vector<Case> cases{
        {{"A"}, [this] { Reply(); }, "#End Batch.", LogColours::WindowText},
        {{"#END", "B"}, [this] { Reply(); }, "#End Batch.", LogColours::WindowText},
        {{"#PROMPT Go?", "B"},
         [this] {
             host.answers = {false};
             Reply();
         },
         "#End Batch: stopped.",
         LogColours::WindowText},
        {{"A"}, [this] { runner.EndRun(BatchEnd::Stopped); }, "#End Batch: stopped.", LogColours::WindowText},
        {{"#EXPECT OK 100"},
         [this] { runner.TimerTick(now + 101); },
         "#End Batch: failed.",
         LogColours::Error},
    };
    for (const Case& c : cases) {
        host = RecordingHost{};
        Start(c.script);
        c.drive();
        EXPECT_FALSE(runner.Running());
        ASSERT_FALSE(host.logged.empty());
        EXPECT_EQ(host.logged.back(), c.last) << c.script.front();
        EXPECT_EQ(host.colours.back(), c.colour) << c.script.front();
        runner.EndRun(BatchEnd::Failed);
        EXPECT_EQ(host.logged.back(), c.last) << "logged twice: " << c.script.front();
    }
}

TEST_F(Runner, RunsOneLinePerReplySkippingBlankLinesWithoutAStep) {
    Start({"", "", "STATUS?", "  # a comment", "", "#LABEL here", "\tECHO <?x?>  ", "", "*IDN?", ""});
    EXPECT_TRUE(runner.Running());
    EXPECT_EQ(runner.CurrentLine(), 2);
    EXPECT_EQ(runner.DueTick(), now + 1000);
    EXPECT_TRUE(host.sent.empty()) << "the first line waits for its step";

    Reply();
    EXPECT_EQ(host.highlighted, std::vector<int32_t>{2});
    EXPECT_EQ(host.sent, Texts{"STATUS?"});
    EXPECT_EQ(runner.CurrentLine(), 3);
    EXPECT_EQ(runner.DueTick(), now + 1000);
    Replies(2); // the comment and the label each take a step, sending nothing
    EXPECT_EQ(host.sent, Texts{"STATUS?"});
    EXPECT_EQ(runner.CurrentLine(), 6);
    Replies(2);
    EXPECT_EQ(host.sent, (Texts{"STATUS?", "ECHO <?x?>", "*IDN?"}));
    EXPECT_FALSE(runner.Running()) << "the end of the script stops the run";
    EXPECT_EQ(runner.CurrentLine(), 0);
    EXPECT_EQ(host.highlighted, (std::vector<int32_t>{2, 3, 5, 6, 8}));
    Reply();
    runner.Step(++now); // Next while idle
    EXPECT_EQ(host.sent.size(), 3u);
}

TEST_F(Runner, TheTimerStepsOnlyOnceTheWaitIsStrictlyOver) {
    Start({"A", "#DELAY 250", "B", "#DELAY 7x", "C", "#DELAY -5", "D", "#DELAY", "E"});
    const uint32_t s = now;
    runner.TimerTick(s + 1000);
    EXPECT_TRUE(host.sent.empty());
    runner.TimerTick(s + 1001);
    EXPECT_EQ(host.sent, Texts{"A"});
    runner.TimerTick(s + 2002); // the delay line itself comes after the usual second
    EXPECT_EQ(host.logged.back(), "Delaying 250 ms...");
    EXPECT_EQ(host.colours.back(), LogColours::Status);
    EXPECT_EQ(runner.DueTick(), s + 2252);
    runner.TimerTick(s + 2252);
    EXPECT_EQ(host.sent.size(), 1u);
    runner.TimerTick(s + 2253);
    EXPECT_EQ(host.sent.back(), "B");

    runner.TimerTick(s + 3254); // logs both characters, waits the digit's 7 ms
    EXPECT_EQ(host.logged.back(), "Delaying 7x ms...");
    runner.TimerTick(s + 3261);
    EXPECT_EQ(host.sent.back(), "B");
    runner.TimerTick(s + 3262);
    EXPECT_EQ(host.sent.back(), "C");

    runner.TimerTick(s + 4263); // a negative wait: the next timer tick steps
    EXPECT_EQ(host.logged.back(), "Delaying -5 ms...");
    runner.TimerTick(s + 4264);
    EXPECT_EQ(host.sent.back(), "D");

    runner.TimerTick(s + 5265); // "#DELAY" alone is a comment: no log line, the usual second
    EXPECT_EQ(host.logged.back(), "Delaying -5 ms...");
    runner.TimerTick(s + 6265);
    EXPECT_EQ(host.sent.back(), "D");
    runner.TimerTick(s + 6266);
    EXPECT_EQ(host.sent.back(), "E");
}

TEST_F(Runner, AReplyCutsADelayShort) {
    Start({"#DELAY 600000", "A"});
    Reply();
    EXPECT_EQ(runner.DueTick(), now + 600000);
    Reply();
    EXPECT_EQ(host.sent, Texts{"A"});
}

TEST_F(Runner, JumpsGoOnAfterTheirLabelForwardAndBackward) {
    Start({"#GOTO fwd", "SKIPPED", "#LABEL fwd", "A", "#LABEL back", "B", "#GOTO back"});
    Replies(12); // the jump lands after its label line, which takes no step of its own
    EXPECT_EQ(host.sent, (Texts{"A", "B", "B", "B", "B", "B"}));
    EXPECT_TRUE(runner.Running()) << "a backward jump loops until Stop";
    runner.StopRun();
    EXPECT_FALSE(runner.Running());
    EXPECT_EQ(runner.CurrentLine(), 0);
}

TEST_F(Runner, EndStopsTheRunAndLowerCaseIsAComment) {
    Start({"A", "#end", "#END now", "B", "#END  \t", "C"});
    Replies(10);
    EXPECT_EQ(host.sent, (Texts{"A", "B"}));
    EXPECT_FALSE(runner.Running());
}

TEST_F(Runner, StartRefusesDuplicateAndMissingLabelsAndStaysIdle) {
    host.lines = {"#LABEL a", "", "#LABEL a"};
    EXPECT_FALSE(runner.Start(1));
    EXPECT_EQ(host.errors, Texts{"Duplicate label a in line 3"});
    host.lines = {"#LABEL  a", "#GOTO a"};
    EXPECT_FALSE(runner.Start(1));
    EXPECT_EQ(host.errors.back(), "Non-existing goto a in line 2");
    EXPECT_EQ(host.highlighted, (std::vector<int32_t>{2, 1}));
    EXPECT_FALSE(runner.Running());
    EXPECT_TRUE(host.looks.empty());
    EXPECT_TRUE(host.logged.empty());
}

TEST_F(Runner, APromptAnsweredYesGoesOnAndNoStopsWhereItIs) {
    Start({"#PROMPT Load on?", "A", "#PROMPT Again?", "B"});
    host.answers = {true, false};
    Reply();
    EXPECT_EQ(host.prompts, Texts{"Load on?"});
    EXPECT_EQ(host.logged.back(), "Load on?");
    EXPECT_EQ(host.colours.back(), LogColours::Status);
    Replies(2);
    EXPECT_EQ(host.sent, Texts{"A"});
    EXPECT_EQ(host.prompts.size(), 2u);
    EXPECT_FALSE(runner.Running());
    EXPECT_FALSE(runner.Prompting());
    EXPECT_EQ(runner.CurrentLine(), 0);
    Reply();
    EXPECT_EQ(host.sent, Texts{"A"});
}

TEST_F(Runner, WhileAPromptIsOpenNeitherRepliesNorTheTimerStep) {
    Start({"#PROMPT Ready?", "A", "B"});
    host.answers = {true};
    host.duringPrompt = [this] {
        EXPECT_TRUE(runner.Prompting());
        runner.NotifyRxLine(now + 1, "OK");
        now += 1500; // answered late
        runner.TimerTick(now);
    };
    Reply();
    EXPECT_EQ(host.prompts.size(), 1u);
    EXPECT_TRUE(host.sent.empty());
    EXPECT_EQ(runner.CurrentLine(), 1) << "after Yes the line after the prompt is next";
    EXPECT_EQ(host.posted, 0) << "a line during a prompt is not owed";
    runner.TimerTick(now + 50); // the wait began before the box opened, so it is over
    EXPECT_EQ(host.sent, Texts{"A"});
}

TEST_F(Runner, AReplyReadInsideTheSendPathIsOwedNotNested) {
    // The console's synchronous GPIB read reports the reply before the step has moved on.
    Start({"A", "B", "#LABEL x", "C"});
    host.onSend = [this](const std::string&) { runner.NotifyRxLine(now, "OK"); };
    Reply();
    EXPECT_EQ(host.sent, Texts{"A"}) << "no step inside the step";
    EXPECT_EQ(runner.CurrentLine(), 1);
    EXPECT_EQ(host.posted, 1);
    runner.DeferredStep(++now);
    EXPECT_EQ(host.sent, (Texts{"A", "B"}));
    EXPECT_EQ(host.posted, 2);
    runner.DeferredStep(++now); // the label: no send, so nothing more is owed
    EXPECT_EQ(host.posted, 2);
    EXPECT_EQ(runner.CurrentLine(), 3);
    Reply();
    EXPECT_EQ(host.sent, (Texts{"A", "B", "C"}));
    EXPECT_FALSE(runner.Running());
    EXPECT_EQ(host.posted, 2) << "a stopped run owes nothing";
    runner.DeferredStep(++now);
    EXPECT_EQ(host.sent.size(), 3u);
}

// An #EXPECT line waits from the command before it: lines without its text are passed over, the
// one with it sends the next command at once; Next skips the wait; the time's end stops the run.
TEST_F(Runner, AnExpectLineWaitsForItsTextThenStepsOrStopsTheRunInTime) {
    Start({"MULTI? 3", "#EXPECT 3/3 500", "STATUS?", "#EXPECT NEVER 500", "#EXPECT ALSO NEVER", "LAST"});
    runner.TimerTick(now + TBatchRunner::StepWaitMs + 1);
    now += TBatchRunner::StepWaitMs + 1;
    EXPECT_TRUE(runner.Expecting());
    Reply("MULTI 1/3");
    Reply("MULTI 2/3");
    runner.TimerTick(now + 400);
    EXPECT_EQ(host.sent, Texts{"MULTI? 3"}) << "neither lines nor the step's second step it";
    Reply("MULTI 3/3");
    EXPECT_EQ(host.sent, (Texts{"MULTI? 3", "STATUS?"}));
    EXPECT_EQ(runner.CurrentLine(), 3);
    runner.Step(++now); // Next
    EXPECT_EQ(runner.CurrentLine(), 4);
    EXPECT_TRUE(runner.Expecting()) << "the next #EXPECT waits from here";
    runner.TimerTick(now + ExpectLine::DefaultMs);
    EXPECT_TRUE(runner.Running());
    runner.TimerTick(now + ExpectLine::DefaultMs + 1);
    EXPECT_FALSE(runner.Running());
    EXPECT_EQ(host.logged.end()[-2], "Batch stopped: no line with \"ALSO NEVER\" came within 5000 ms.");
    EXPECT_EQ(host.colours.end()[-2], LogColours::Error);
    EXPECT_EQ(host.sent.size(), 2u);
}

// #BREAK holds its break and the next line follows a second after it ended; a line that comes
// meanwhile takes no step (a command would be lost in the break). A break that cannot be sent
// stops the run with the reason.
TEST_F(Runner, ABreakLineHoldsItsBreakOrStopsTheRunWhenNoBreakIsSent) {
    Start({"#BREAK 300", "A", "#BREAK 20", "B"});
    runner.TimerTick(now + TBatchRunner::StepWaitMs + 1);
    now += TBatchRunner::StepWaitMs + 1;
    EXPECT_EQ(host.breaks, std::vector<uint32_t>{300});
    Reply("BOOT BANNER");
    runner.TimerTick(now + 300 + TBatchRunner::StepWaitMs - 1);
    EXPECT_TRUE(host.sent.empty());
    now += 300 + TBatchRunner::StepWaitMs;
    runner.TimerTick(now);
    EXPECT_EQ(host.sent, Texts{"A"});
    host.breakFailure = "not a serial port.";
    Reply();
    EXPECT_FALSE(runner.Running());
    EXPECT_EQ(host.logged.end()[-2], "Batch stopped: no break sent: not a serial port.");
    EXPECT_EQ(host.sent, Texts{"A"});
}

// Time values an operator would misread never start a run: the error names the line.
TEST_F(Runner, StartRefusesExpectAndBreakLinesItCannotRead) {
    for (const auto& [line, error] :
         {std::pair{"#EXPECT MULTI 3",
                    "#EXPECT wants a time of 10 to 2147483647 ms after its text, not \"3\"; "
                    "put the text in quotes if the number belongs to it (line 2)"},
          std::pair{"#BREAK 2.5", "#BREAK wants 1 to 5000 ms, not \"2.5\" (line 2)"}}) {
        host = RecordingHost{};
        host.lines = {"A", line};
        EXPECT_FALSE(runner.Start(now));
        EXPECT_EQ(host.errors, Texts{error});
        EXPECT_EQ(host.highlighted, std::vector<int32_t>{1});
    }
}

// The batch window shown again during an #EXPECT goes on from the first line, which is sent
// on the next reply rather than skipped by the old wait.
TEST_F(Runner, RewindingDuringAnExpectStartsAgainAtTheFirstLine) {
    Start({"A", "#EXPECT DONE", "B"});
    Reply();
    ASSERT_TRUE(runner.Expecting());
    runner.RewindToFirstLine(++now);
    EXPECT_FALSE(runner.Expecting());
    Reply("DONE");
    EXPECT_EQ(host.sent, (Texts{"A", "A"}));
}

TEST_F(Runner, WaitsSurviveTheTickWrapAround) {
    // Due at 0x000001E8, after the wrap: a plain unsigned comparison would step at once.
    Start({"A", "B"}, 0xFFFFFE00u);
    runner.TimerTick(0xFFFFFF00u);
    runner.TimerTick(0x000001E8u);
    EXPECT_TRUE(host.sent.empty());
    runner.TimerTick(0x000001E9u);
    EXPECT_EQ(host.sent, Texts{"A"});

    // Due at 0xFFFFFFE8, checked after the wrap: a plain comparison would wait 49 days.
    host = RecordingHost{};
    Start({"A", "B"}, 0xFFFFFC00u);
    runner.TimerTick(0x00000010u);
    EXPECT_EQ(host.sent, Texts{"A"});
}
} // namespace
