#include "batch/BatchRunner.h"

namespace {
// Marks a step as executing for its whole length, also when it ends early.
class StepScope {
public:
    explicit StepScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~StepScope() { flag_ = false; }
    StepScope(const StepScope&) = delete;
    StepScope& operator=(const StepScope&) = delete;

private:
    bool& flag_;
};
} // namespace

bool TBatchRunner::Start(uint32_t now) {
    LabelCheck check = CheckScript(host_, labels_);
    if (!check.ok) {
        host_.HighlightLine(check.line);
        host_.ShowError(check.message);
        return false;
    }
    currentLine_ = 0;
    running_ = true;
    prompting_ = false;
    owedLines_.clear();
    expecting_ = false;
    host_.ShowRunning(true);
    dueTick_ = now + StepWaitMs;
    host_.Log("#Begin Batch.", LogColours::WindowText);
    if (SkipBlankLines()) ArmExpect(now);
    return true;
}

void TBatchRunner::Step(uint32_t now) {
    if (!running_ || inStep_) return;
    {
        StepScope scope(inStep_);
        host_.HighlightLine(currentLine_);
        ScriptLine line =
            ClassifyScriptLine(currentLine_ < host_.LineCount() ? host_.Line(currentLine_) : "");
        dueTick_ = now + StepWaitMs;
        if (line.kind == ScriptLineKind::Command) {
            host_.SendLine(line.argument);
        } else if (!ExecuteControl(line, now)) {
            return;
        }
        // Something inside the send path may have stopped the run; idle stays at the first line.
        if (!running_) return;
        Advance(now);
    }
    if (!owedLines_.empty() && running_ && !deferPosted_) {
        deferPosted_ = true;
        host_.PostDeferredStep();
    }
}

bool TBatchRunner::ExecuteControl(const ScriptLine& line, uint32_t now) {
    switch (line.kind) {
    case ScriptLineKind::Delay:
        dueTick_ = now + static_cast<uint32_t>(DelayMilliseconds(line.argument));
        host_.Log("Delaying " + line.argument + " ms...", LogColours::Status);
        return true;
    case ScriptLineKind::Goto:
        if (auto label = labels_.find(line.argument); label != labels_.end()) currentLine_ = label->second;
        return true;
    case ScriptLineKind::Prompt:
        return AskPrompt(line.argument);
    case ScriptLineKind::End:
        EndRun(BatchEnd::Done);
        return false;
    case ScriptLineKind::Break: {
        uint32_t ms = 0;
        std::string problem;
        if (!ParseBreakLength(line.argument, ms, problem)) {
            StopAtUnreadableLine(problem);
            return false;
        }
        if (const std::string failure = host_.SendBreak(ms); !failure.empty()) {
            host_.BreakFailed("Batch stopped: no break sent: " + failure);
            EndRun(BatchEnd::Failed);
            return false;
        }
        // The next line follows the usual second after the break has ended.
        breakEnd_ = now + ms;
        breakHeld_ = true;
        dueTick_ = breakEnd_ + StepWaitMs;
        return true;
    }
    case ScriptLineKind::Expect:
        // Reached by Next: the operator does not wait for the text.
        expecting_ = false;
        return true;
    default:
        return true;
    }
}

bool TBatchRunner::AskPrompt(const std::string& text) {
    prompting_ = true;
    host_.Log(text, LogColours::Status);
    bool yes = host_.Confirm(text);
    prompting_ = false;
    if (!yes) EndRun(BatchEnd::Stopped);
    return yes && running_;
}

void TBatchRunner::Advance(uint32_t now) {
    ++currentLine_;
    if (SkipBlankLines()) ArmExpect(now);
}

void TBatchRunner::ArmExpect(uint32_t now) {
    const ScriptLine line = ClassifyScriptLine(host_.Line(currentLine_));
    expecting_ = line.kind == ScriptLineKind::Expect;
    if (!expecting_) return;
    std::string problem;
    if (!ParseExpectLine(line.argument, expect_, problem)) {
        StopAtUnreadableLine(problem);
        return;
    }
    expectDue_ = now + expect_.ms;
    host_.HighlightLine(currentLine_);
    host_.Log("Expecting \"" + expect_.text + "\" for " + std::to_string(expect_.ms) + " ms...",
              LogColours::Status);
}

void TBatchRunner::StopAtUnreadableLine(const std::string& problem) {
    expecting_ = false;
    host_.HighlightLine(currentLine_);
    host_.ShowError(ScriptLineProblem(problem, currentLine_));
    EndRun(BatchEnd::Failed);
}

void TBatchRunner::RewindToFirstLine(uint32_t now) {
    currentLine_ = 0;
    expecting_ = false;
    if (running_ && !inStep_ && SkipBlankLines()) ArmExpect(now);
}

void TBatchRunner::MatchExpect(uint32_t now, const std::string& line) {
    if (line.find(expect_.text) == std::string::npos) return;
    // The matching line steps the script as a reply does: the line after the #EXPECT runs now.
    expecting_ = false;
    Advance(now);
    if (running_ && !expecting_) Step(now);
}

void TBatchRunner::TimerTick(uint32_t now) {
    if (!running_ || prompting_) return;
    if (!expecting_) {
        if (IsPast(now, dueTick_)) Step(now);
        return;
    }
    if (!IsPast(now, expectDue_)) return;
    expecting_ = false;
    host_.HighlightLine(currentLine_);
    host_.ExpectFailed("Batch stopped: no line with \"" + expect_.text + "\" came within " +
                       std::to_string(expect_.ms) + " ms.");
    EndRun(BatchEnd::Failed);
}

void TBatchRunner::NotifyRxLine(uint32_t now, const std::string& line) {
    if (!running_ || prompting_ || BreakHeld(now)) return;
    if (inStep_) {
        owedLines_.push_back(line);
        return;
    }
    if (expecting_) {
        MatchExpect(now, line);
        return;
    }
    Step(now);
}

void TBatchRunner::DeferredStep(uint32_t now) {
    deferPosted_ = false;
    if (owedLines_.empty()) return;
    const std::string line = std::move(owedLines_.front());
    owedLines_.pop_front();
    NotifyRxLine(now, line);
    // More owed lines than one step takes: each gets its own turn of the event loop.
    if (!owedLines_.empty() && running_ && !deferPosted_ && !inStep_) {
        deferPosted_ = true;
        host_.PostDeferredStep();
    }
}

bool TBatchRunner::SkipBlankLines() {
    const int32_t count = host_.LineCount();
    while (currentLine_ < count) {
        if (!TrimScriptLine(host_.Line(currentLine_)).empty()) return true;
        ++currentLine_;
    }
    EndRun(BatchEnd::Done);
    return false;
}

bool TBatchRunner::BreakHeld(uint32_t now) {
    if (breakHeld_ && !IsPast(now, breakEnd_)) return true;
    breakHeld_ = false;
    return false;
}

void TBatchRunner::StopRun() {
    running_ = false;
    breakHeld_ = false;
    currentLine_ = 0;
    owedLines_.clear();
    expecting_ = false;
    host_.ShowRunning(false);
}

void TBatchRunner::EndRun(BatchEnd how) {
    const bool wasRunning = running_;
    // Idle first: a host whose log fails may end the run again from inside Log.
    StopRun();
    if (!wasRunning) return;
    switch (how) {
    case BatchEnd::Done:
        host_.Log("#End Batch.", LogColours::WindowText);
        break;
    case BatchEnd::Stopped:
        host_.Log("#End Batch: stopped.", LogColours::WindowText);
        break;
    case BatchEnd::Failed:
        host_.Log("#End Batch: failed.", LogColours::Error);
        break;
    }
}
