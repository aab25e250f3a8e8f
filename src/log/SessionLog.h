#pragma once
// The session log file: every log line appended to a file, so a crash or a power cut loses
// nothing that was on screen. Lines are queued and go out together at Flush, in one write (no stdio
// buffer): the face flushes before it paints what it was given, so a process that is killed
// leaves in the file every line it showed, at one system call per repaint rather than per line.
// The file is opened for appending and never truncated. Lines are Latin-1 instrument text; the
// file holds UTF-8, CR LF.
//
// Threads: one thread at a time (the console's UI thread).
#include "log/LineFile.h"

#include <string>

// The line that starts a session in the file: its date and time and the connection string.
std::string SessionSeparator(const std::string& dateTime, const std::string& connection);

class SessionLog {
public:
    // Opens path for appending (created when missing), after closing the file before. False when
    // it cannot (a FIFO or a device is refused): Failure() says why.
    bool Open(const std::string& path) { return file_.Open(path); }
    // Flushes what is queued, then closes.
    void Close() { file_.Close(); }
    bool IsOpen() const { return file_.IsOpen(); }
    // The file being written, or the one last tried.
    const std::string& Path() const { return file_.Path(); }

    // Queues one line (Latin-1, without its line end) for the next Flush. Nothing while closed.
    void Queue(const std::string& line);
    // Writes every queued line; as LineFile::Flush.
    bool Flush() { return file_.Flush(); }
    // Queue and Flush.
    bool WriteLine(const std::string& line);
    const std::string& Failure() const { return file_.Failure(); }
    bool Vanished() const { return file_.Vanished(); }

    // After a Flush that found the file deleted: creates it again, with firstLine (a separator)
    // before the lines kept; as LineFile::Reopen.
    bool Reopen(const std::string& firstLine);

private:
    LineFile file_;
    std::string utf8_; //!< The line being queued, reused to spare allocations.
};
