#include "batch/HeadlessOutput.h"

#include "platform/System.h"
#include "platform/Tick.h"

#include <chrono>
#include <optional>

void HeadlessOutput::Line(const std::string& line) {
    if (broken_) return;
    text_ += line;
    text_ += '\n';
}

void HeadlessOutput::SayError(const std::string& text) {
    err_.Queue("corvane: " + text + "\n");
}

std::string HeadlessOutput::Flush() {
    flushTick_ = GetTickCount();
    if (broken_) return {};
    out_.Queue(text_);
    text_.clear();
    if (const int error = out_.Error()) return GetSystemErrorText(error);
    if (out_.Waiting() > MaxWaitingOutput)
        return "its reader has stopped reading (" + std::to_string(MaxWaitingOutput >> 20) +
               " MiB of the log are waiting)";
    return {};
}

std::function<bool()> HeadlessOutput::GiveUpAfterEnd(const std::function<bool()>& ended) {
    return [ended, since = std::optional<std::chrono::steady_clock::time_point>()]() mutable {
        if (!ended()) return false;
        const auto now = std::chrono::steady_clock::now();
        if (!since) since = now;
        return now - *since >= std::chrono::milliseconds(LastLinesMs);
    };
}

std::string HeadlessOutput::Finish(const std::function<bool()>& ended, bool& stalled) {
    stalled = !out_.Drain(GiveUpAfterEnd(ended));
    if (stalled) return {};
    const int error = out_.Error();
    return error != 0 && !broken_ ? GetSystemErrorText(error) : std::string();
}

void HeadlessOutput::SayStalled() {
    SayError("standard output stalled: " + std::to_string(out_.Waiting()) +
             " bytes of the log were not written.");
}

void HeadlessOutput::FinishErrors(const std::function<bool()>& ended) {
    err_.Drain(GiveUpAfterEnd(ended));
}
