#include "log/SessionLog.h"

#include "text/Strtools.h"

#include <algorithm>
#include <cerrno>

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
    if (const int error = file_.Open(path)) {
        failure_ = GetSystemErrorText(error);
        return false;
    }
    failure_.clear();
    return true;
}

void SessionLog::Close() {
    Flush();
    file_.Close();
    Drop();
}

void SessionLog::Drop() {
    queued_.clear();
    lineEnds_.clear();
}

void SessionLog::Queue(const std::string& line) {
    if (!file_.IsOpen()) return;
    AppendUtf8(queued_, line);
    queued_ += "\r\n";
    lineEnds_.push_back(queued_.size());
}

bool SessionLog::WriteLine(const std::string& line) {
    if (!file_.IsOpen()) return false;
    Queue(line);
    return Flush();
}

bool SessionLog::Flush() {
    if (!file_.IsOpen() || queued_.empty()) return true;
    // A file deleted under it still takes every write, where no one can read them any more: that
    // is a failure too, said like one. Asked once per batch, as asking per line would cost as
    // much as the writing.
    if (file_.Deleted()) {
        failure_ = GetSystemErrorText(ENOENT);
        vanished_ = true;
        file_.Close();
        return false;
    }
    size_t done = 0;
    if (const int error = file_.Write(queued_.data(), queued_.size(), done)) return Fail(error, done);
    Drop();
    return true;
}

bool SessionLog::Fail(int error, size_t written) {
    failure_ = GetSystemErrorText(error);
    const auto whole = std::upper_bound(lineEnds_.begin(), lineEnds_.end(), written);
    // The part of a line that did get in goes again, so the file always ends at a line end and
    // the next session's separator starts a line of its own.
    file_.TakeBack(written - (whole == lineEnds_.begin() ? 0 : *(whole - 1)));
    file_.Close();
    Drop();
    return false;
}

bool SessionLog::Reopen(const std::string& firstLine) {
    std::string kept = std::move(queued_);
    std::vector<size_t> keptEnds = std::move(lineEnds_);
    Drop();
    vanished_ = false;
    if (const int error = file_.Open(path_)) {
        failure_ = GetSystemErrorText(error);
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
