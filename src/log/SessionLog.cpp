#include "log/SessionLog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
void AppendUtf8(std::string& utf8, const std::string& latin1) {
    for (char ch : latin1) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x80) {
            utf8.push_back(ch);
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
}
} // namespace

std::string Latin1ToUtf8(const std::string& latin1) {
    std::string utf8;
    utf8.reserve(latin1.size() + latin1.size() / 8);
    AppendUtf8(utf8, latin1);
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
    vanished_ = false;
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        failure_ = std::strerror(errno);
        return false;
    }
    failure_.clear();
    return true;
}

void SessionLog::Close() {
    Flush();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    Drop();
}

void SessionLog::Drop() {
    queued_.clear();
    lineEnds_.clear();
}

void SessionLog::Queue(const std::string& line) {
    if (fd_ < 0) return;
    AppendUtf8(queued_, line);
    queued_ += "\r\n";
    lineEnds_.push_back(queued_.size());
}

bool SessionLog::WriteLine(const std::string& line) {
    if (fd_ < 0) return false;
    Queue(line);
    return Flush();
}

bool SessionLog::Flush() {
    if (fd_ < 0 || queued_.empty()) return true;
    // A file deleted under it still takes every write, into an inode no one can read any more:
    // that is a failure too, said like one. Asked once per batch, as a stat per line would cost
    // as much as the writing.
    struct stat status {};
    if (::fstat(fd_, &status) == 0 && status.st_nlink == 0) {
        failure_ = std::strerror(ENOENT);
        vanished_ = true;
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    size_t done = 0;
    while (done < queued_.size()) {
        const ssize_t n = ::write(fd_, queued_.data() + done, queued_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        // A write that makes no progress without an error would loop for ever: call it full.
        if (n <= 0) return Fail(n < 0 ? errno : ENOSPC, done);
        done += static_cast<size_t>(n);
    }
    Drop();
    return true;
}

bool SessionLog::Fail(int error, size_t written) {
    failure_ = std::strerror(error);
    const auto whole = std::upper_bound(lineEnds_.begin(), lineEnds_.end(), written);
    TakeBack(written - (whole == lineEnds_.begin() ? 0 : *(whole - 1)));
    ::close(fd_);
    fd_ = -1;
    Drop();
    return false;
}

bool SessionLog::Reopen(const std::string& firstLine) {
    std::string kept = std::move(queued_);
    std::vector<size_t> keptEnds = std::move(lineEnds_);
    Drop();
    vanished_ = false;
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        failure_ = std::strerror(errno);
        return false;
    }
    failure_.clear();
    Queue(firstLine);
    const size_t base = queued_.size();
    queued_ += kept;
    for (size_t end : keptEnds)
        lineEnds_.push_back(base + end);
    return Flush();
}

// The part of a line that did get in goes again, so the file always ends at a line end and the
// next session's separator starts a line of its own. Appends went to the end: the part is there.
void SessionLog::TakeBack(size_t written) {
    struct stat status {};
    if (written == 0 || ::fstat(fd_, &status) != 0 || status.st_size < static_cast<off_t>(written)) return;
    while (::ftruncate(fd_, status.st_size - static_cast<off_t>(written)) < 0 && errno == EINTR) {
    }
}
