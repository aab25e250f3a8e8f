#include "log/SessionLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string Latin1ToUtf8(const std::string& latin1) {
    std::string utf8;
    utf8.reserve(latin1.size() + latin1.size() / 8);
    for (char ch : latin1) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x80) {
            utf8.push_back(ch);
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return utf8;
}

std::string SessionSeparator(const std::string& dateTime, const std::string& connection) {
    return "===== " + dateTime + " " + connection + " =====";
}

SessionLog::~SessionLog() {
    Close();
}

bool SessionLog::Open(const std::string& path) {
    Close();
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        failure_ = std::strerror(errno);
        return false;
    }
    failure_.clear();
    linesUntilCheck_ = 0;
    return true;
}

void SessionLog::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

// The part of a line that did get in goes again, so the file always ends at a line end and the
// next session's separator starts a line of its own. Appends went to the end: the part is there.
void SessionLog::TakeBack(size_t written) {
    struct stat status {};
    if (written == 0 || ::fstat(fd_, &status) != 0 || status.st_size < static_cast<off_t>(written)) return;
    while (::ftruncate(fd_, status.st_size - static_cast<off_t>(written)) < 0 && errno == EINTR) {
    }
}

bool SessionLog::WriteLine(const std::string& line) {
    if (fd_ < 0) return false;
    // A file deleted under it still takes every write, into an inode no one can read any more:
    // that is a failure too, said like one. Asked every so many lines, as a stat per line would
    // double the cost of logging.
    if (linesUntilCheck_-- == 0) {
        linesUntilCheck_ = LinesPerCheck - 1;
        struct stat status {};
        if (::fstat(fd_, &status) == 0 && status.st_nlink == 0) {
            failure_ = std::strerror(ENOENT);
            Close();
            return false;
        }
    }
    const std::string bytes = Latin1ToUtf8(line) + "\r\n";
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A write that makes no progress without an error would loop for ever: call it full.
            failure_ = std::strerror(n < 0 ? errno : ENOSPC);
            TakeBack(done);
            Close();
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}
