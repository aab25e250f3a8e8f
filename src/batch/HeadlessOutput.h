#pragma once
// Standard output and error of a run without windows. Log lines are gathered and handed to a
// writer thread once per turn of the run's loop (QueuedStream), so a reader that stops reading
// never holds the run: a signal or --max-seconds still ends it, and the lines that cannot go out
// are given up and named.
//
// Threads: the run's one thread; the writers are the streams' own.
#include "log/QueuedStream.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

class HeadlessOutput {
public:
    // Standard output that has taken nothing of this much has stopped reading: the run ends.
    static constexpr size_t MaxWaitingOutput = 64u << 20;
    // How long the last lines may take to go out once a signal or --max-seconds ends the run.
    static constexpr uint32_t LastLinesMs = 50;

    // out and err stay the caller's and must outlive the object.
    HeadlessOutput(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

    // A log line for standard output, at the next Flush; nothing once the output has failed.
    void Line(const std::string& line);
    // "corvane: text" on the error stream.
    void SayError(const std::string& text);
    // Hands the lines so far to the writer. Empty, or why standard output failed (it takes
    // nothing more then).
    std::string Flush();
    // When Flush last ran (GetTickCount).
    uint32_t FlushTick() const { return flushTick_; }
    bool Broken() const { return broken_; }
    void SetBroken() { broken_ = true; }

    // The end of a run: waits until standard output has taken everything. A reader that is merely
    // slow gets it all; once ended (a signal, --max-seconds) says so, the last lines get
    // LastLinesMs, and what is still waiting then is given up (stalled). Empty, or why standard
    // output failed.
    std::string Finish(const std::function<bool()>& ended, bool& stalled);
    // Names on the error stream what a stalled Finish left.
    void SayStalled();
    // The same wait for the error stream, last.
    void FinishErrors(const std::function<bool()>& ended);

private:
    static std::function<bool()> GiveUpAfterEnd(const std::function<bool()>& ended);

    QueuedStream out_;
    QueuedStream err_;
    std::string text_; //!< Log lines not yet handed to out_.
    bool broken_ = false;
    uint32_t flushTick_ = 0;
};
