#pragma once
// The batch runner's step machine: one script line per step, a step triggered by a received
// line, by the drive timer once the wait is over, or by the operator's Next. It decides; the host
// (the batch window) reads the editor, shows, asks and sends.
//
// Every entry point runs on the UI thread and takes the current millisecond tick as now, so the
// waits can be tested with a clock the test controls. Ticks wrap after about 49.7 days; a wait is
// over when the signed difference now - DueTick is positive, which stays right across the wrap
// for waits up to 2^31 - 1 ms.
//
// Nesting: a step can be re-entered from inside itself, because the host's send path may read the
// reply at once and report it (the console's GPIB read with Expect Reply) before the step has
// moved on, and because the prompt box runs a nested event loop. A step never runs inside a step:
// a line received during a prompt is dropped (the operator answers first), and a line received
// while a step is sending is owed; once the step has finished the host is asked to call
// DeferredStep from the event loop, so the run advances exactly as if the line had come a moment
// later, without recursion and without holding the event loop for a whole script.
#include "batch/BatchScript.h"
#include "log/LogColours.h"

#include <cstdint>
#include <deque>
#include <string>

// What the runner needs from the batch window.
class BatchHost : public ScriptLines {
public:
    // Selects line index (untrimmed extent); ignored past the last line.
    virtual void HighlightLine(int32_t index) = 0;
    // Sends one command through the console's send path (not told whether it went out).
    virtual void SendLine(const std::string& text) = 0;
    // Writes a line to the console's log, with its time stamp.
    virtual void Log(const std::string& text, uint32_t colour) = 0;
    // The prompt's Yes/No box; true for Yes. Runs a nested event loop.
    virtual bool Confirm(const std::string& text) = 0;
    // An error box with OK.
    virtual void ShowError(const std::string& text) = 0;
    // The look of a run: editor read-only on the button face, Stop caption, Next and the timer
    // enabled (true); or the idle look (false).
    virtual void ShowRunning(bool running) = 0;
    // Asks for one call of DeferredStep on a later turn of the event loop.
    virtual void PostDeferredStep() = 0;
    // An #EXPECT line's text did not come in time; the run stops after this. text is the red
    // line that says so.
    virtual void ExpectFailed(const std::string& text) { Log(text, LogColours::Error); }
    // Starts a break of ms (1 to MaxBreakMs) on the serial line, which the host ends after ms
    // without holding the event loop meanwhile. Empty when it started, else why no break was sent
    // (not a serial port, the port's reason): the run stops then, as a reset sequence that could
    // not run must not look as if it had.
    virtual std::string SendBreak(uint32_t ms) = 0;
    // A #BREAK line sent no break; the run stops after this. text is the red line that says so.
    virtual void BreakFailed(const std::string& text) { Log(text, LogColours::Error); }
};

// How a run ended, for the line that closes it in the log.
enum class BatchEnd {
    Done,    //!< "#End Batch.": the script ran to its end or to #END
    Stopped, //!< "#End Batch: stopped.": the operator (Stop, a prompt answered No) or a signal
    Failed,  //!< "#End Batch: failed.": after the line that says why
};

class TBatchRunner {
public:
    static constexpr uint32_t StepWaitMs = 1000;

    explicit TBatchRunner(BatchHost& host) : host_(host) {}

    // Start: rebuilds the labels and checks them and every #EXPECT and #BREAK line (CheckScript;
    // error box, offending line highlighted, run not begun, false), then runs from the first non-blank line,
    // whose step is due a second later. Logs "#Begin Batch." also when the script holds no line to run.
    bool Start(uint32_t now);
    // One step: executes the current line and moves on. Nothing happens while idle or inside a step.
    void Step(uint32_t now);
    // The drive timer's tick: a step once the wait is over, unless a prompt is open.
    void TimerTick(uint32_t now);
    // A received line: a step at once, unless a prompt is open or a #BREAK is held (a command
    // sent during the break would be lost in it). While an #EXPECT line waits, only
    // a line that holds its text steps the script, past the #EXPECT line to the one after it.
    void NotifyRxLine(uint32_t now, const std::string& line);
    // The step owed to a line received while a step was sending.
    void DeferredStep(uint32_t now);
    // Moves CurrentLine to the first non-blank line; at the end of the script the run ends (Done).
    // True when a line was found.
    bool SkipBlankLines();
    // Back to idle at the first line. Logs nothing.
    void StopRun();
    // The same, closing an active run with its line in the log as Start opened it.
    void EndRun(BatchEnd how);
    // The console shows the hidden window again: an active run goes on from the first line, and
    // an #EXPECT that was waiting waits no more (the first line's own #EXPECT is armed anew).
    void RewindToFirstLine(uint32_t now);

    bool Running() const { return running_; }
    bool Prompting() const { return prompting_; }
    bool Expecting() const { return expecting_; }
    int32_t CurrentLine() const { return currentLine_; }
    uint32_t DueTick() const { return dueTick_; }
    const LabelMap& Labels() const { return labels_; }

    // True when now is past due (wrapping tick arithmetic).
    static bool IsPast(uint32_t now, uint32_t due) { return static_cast<int32_t>(now - due) > 0; }

private:
    // Executes a control line; false when the step ends here without moving on.
    bool ExecuteControl(const ScriptLine& line, uint32_t now);
    bool AskPrompt(const std::string& text);
    // Moves on from the current line to the next non-blank one, and arms it when it is an
    // #EXPECT line: its wait starts as the line before it has been done.
    void Advance(uint32_t now);
    void ArmExpect(uint32_t now);
    // A control line whose argument can no longer be read (the script was edited during the run):
    // the error box names it and the run stops.
    void StopAtUnreadableLine(const std::string& problem);
    bool BreakHeld(uint32_t now);
    // A received line while an #EXPECT line waits.
    void MatchExpect(uint32_t now, const std::string& line);

    BatchHost& host_;
    LabelMap labels_;
    uint32_t dueTick_ = 0;
    bool running_ = false;
    bool prompting_ = false;
    int32_t currentLine_ = 0;
    bool inStep_ = false;               // a step is executing (possibly waiting in a prompt)
    std::deque<std::string> owedLines_; // lines received while a step was sending
    bool deferPosted_ = false;          // a DeferredStep call is on its way
    bool expecting_ = false;            // the current line is an #EXPECT that waits
    ExpectLine expect_;
    uint32_t expectDue_ = 0; // when the wait for expect_ is over
    bool breakHeld_ = false; // a #BREAK's break is on until breakEnd_
    uint32_t breakEnd_ = 0;
};
