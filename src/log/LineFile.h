#pragma once
// A file that takes whole lines at its end, as the session log and a CSV stream write it: lines
// are queued and go out together at Flush, in one write (no stdio buffer), so a process that is
// killed leaves every line it flushed. The file is opened for appending and never truncated; a
// write that fails leaves no part of a line behind. Only a regular file (or a sink device such as
// /dev/null) is taken (OutputFileProblem). The bytes are the caller's, line ends included.
//
// Threads: one thread at a time.
#include "log/AppendFile.h"

#include <string>
#include <string_view>
#include <vector>

class LineFile {
public:
    LineFile() = default;
    // Flushes what is queued.
    ~LineFile();
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;

    // Opens path for appending (created when missing), after closing the file before. False when
    // it cannot: Failure() says why.
    bool Open(const std::string& path);
    // Flushes what is queued, then closes.
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }
    // The file being written, or the one last tried.
    const std::string& Path() const { return path_; }

    // Queues one line, its line end included, for the next Flush. Nothing while closed.
    void Queue(std::string_view line);
    // Writes every queued line. False when they could not all be written: the lines written whole
    // stay, the part of a line that got in is taken back, the file is closed and Failure() gives
    // the system's reason. A file deleted meanwhile fails too ("No such file or directory") and
    // Vanished() is then true: its queued lines are kept for Reopen. True with nothing queued
    // or while closed.
    bool Flush();
    // Queue and Flush.
    bool WriteLine(std::string_view line);
    const std::string& Failure() const { return failure_; }
    bool Vanished() const { return vanished_; }

    // After a Flush that found the file deleted: creates it again at the same path and writes
    // firstLine (a separator, a header) and the lines kept. False when it cannot, with Failure();
    // the kept lines are dropped then.
    bool Reopen(std::string_view firstLine);

private:
    bool OpenFile();
    bool Fail(int error, size_t written);
    void Drop();

    AppendFile file_;
    std::string path_;
    std::string failure_;
    bool vanished_ = false;
    std::string queued_;           //!< Lines back to back.
    std::vector<size_t> lineEnds_; //!< Where each queued line ends in queued_.
};
