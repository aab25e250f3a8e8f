#pragma once
// The session log file: every log line appended to a file, so a crash or a power cut loses
// nothing that was on screen. Lines are queued and go out together at Flush, in one write (no stdio
// buffer): the face flushes before it paints what it was given, so a process that is killed
// leaves in the file every line it showed, at one system call per repaint rather than per line.
// The file is opened for appending and never truncated. Lines are Latin-1 instrument text; the
// file holds UTF-8, CR LF.
//
// Threads: one thread at a time (the console's UI thread).
#include "log/AppendFile.h"

#include <string>
#include <vector>

// The UTF-8 form of Latin-1 text.
std::string Latin1ToUtf8(const std::string& latin1);

// The line that starts a session in the file: its date and time and the connection string.
std::string SessionSeparator(const std::string& dateTime, const std::string& connection);

class SessionLog {
public:
    SessionLog() = default;
    // Flushes what is queued.
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    // Opens path for appending (created when missing), after closing the file before. False when
    // it cannot: Failure() says why.
    bool Open(const std::string& path);
    // Flushes what is queued, then closes.
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }
    // The file being written, or the one last tried.
    const std::string& Path() const { return path_; }

    // Queues one line (Latin-1, without its line end) for the next Flush. Nothing while closed.
    void Queue(const std::string& line);
    // Writes every queued line. False when they could not all be written: the lines written whole
    // stay, the part of a line that got in is taken back, the file is closed and Failure() gives
    // the system's reason. A file deleted meanwhile fails too ("No such file or directory") and
    // Vanished() is then true: its queued lines are kept for Reopen. True with nothing queued
    // or while closed.
    bool Flush();
    // Queue and Flush.
    bool WriteLine(const std::string& line);
    const std::string& Failure() const { return failure_; }
    bool Vanished() const { return vanished_; }

    // After a Flush that found the file deleted: creates it again at the same path and writes
    // firstLine (a separator) and the lines kept. False when it cannot, with Failure(); the kept
    // lines are dropped then.
    bool Reopen(const std::string& firstLine);

private:
    bool Fail(int error, size_t written);
    void Drop();

    AppendFile file_;
    std::string path_;
    std::string failure_;
    bool vanished_ = false;
    std::string queued_;           //!< UTF-8 lines with their CR LF, back to back.
    std::vector<size_t> lineEnds_; //!< Where each queued line ends in queued_.
};
