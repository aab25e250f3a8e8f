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
    LabelCheck check = CheckLabels(host_, labels_);
    if (!check.ok) {
        host_.HighlightLine(check.line);
        host_.ShowError(check.message);
        return false;
    }
    currentLine_ = 0;
    running_ = true;
    prompting_ = false;
    owedSteps_ = 0;
    host_.ShowRunning(true);
    dueTick_ = now + StepWaitMs;
    SkipBlankLines();
    host_.Log("#Begin Batch.", LogColours::WindowText);
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
        ++currentLine_;
        SkipBlankLines();
    }
    if (owedSteps_ > 0 && running_ && !deferPosted_) {
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
        StopRun();
        return false;
    default:
        return true;
    }
}

bool TBatchRunner::AskPrompt(const std::string& text) {
    prompting_ = true;
    host_.Log(text, LogColours::Status);
    bool yes = host_.Confirm(text);
    prompting_ = false;
    if (!yes) StopRun();
    return yes && running_;
}

void TBatchRunner::TimerTick(uint32_t now) {
    if (running_ && !prompting_ && IsPast(now, dueTick_)) Step(now);
}

void TBatchRunner::NotifyRxLine(uint32_t now) {
    if (!running_ || prompting_) return;
    if (inStep_) {
        ++owedSteps_;
        return;
    }
    Step(now);
}

void TBatchRunner::DeferredStep(uint32_t now) {
    deferPosted_ = false;
    if (owedSteps_ == 0) return;
    --owedSteps_;
    if (running_ && !prompting_) Step(now);
}

bool TBatchRunner::SkipBlankLines() {
    const int32_t count = host_.LineCount();
    while (currentLine_ < count) {
        if (!TrimScriptLine(host_.Line(currentLine_)).empty()) return true;
        ++currentLine_;
    }
    StopRun();
    return false;
}

void TBatchRunner::StopRun() {
    running_ = false;
    currentLine_ = 0;
    owedSteps_ = 0;
    host_.ShowRunning(false);
}
