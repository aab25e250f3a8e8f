#pragma once
// The session log file: every log line appended to a file as it is logged, so a crash or a power
// cut loses nothing that was on screen. Each line goes out with one write(2) (no stdio buffer),
// so a process that is killed leaves every line it logged in the file. The file is opened for
// appending and never truncated. Lines are Latin-1 instrument text; the file holds UTF-8, CR LF.
//
// Threads: one thread at a time (the console's UI thread).
#include <string>

// The UTF-8 form of Latin-1 text.
std::string Latin1ToUtf8(const std::string& latin1);

// The line that starts a session in the file: its date and time and the connection string.
std::string SessionSeparator(const std::string& dateTime, const std::string& connection);

class SessionLog {
public:
    SessionLog() = default;
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    // Opens path for appending (created when missing). False when it cannot: Failure() says why.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // The file being written, or the one last tried.
    const std::string& Path() const { return path_; }

    // Appends one line (Latin-1, without its line end). False when it could not be written whole:
    // what of it got in is taken back, the file is closed and Failure() gives the system's reason. A file
    // deleted meanwhile fails too ("No such file or directory"), within LinesPerCheck lines. Nothing is
    // written while closed (false, Failure() unchanged).
    bool WriteLine(const std::string& line);
    const std::string& Failure() const { return failure_; }
    static constexpr int LinesPerCheck = 256;

private:
    void TakeBack(size_t written);

    int fd_ = -1;
    std::string path_;
    std::string failure_;
    int linesUntilCheck_ = 0;
};
