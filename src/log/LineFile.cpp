#include "log/LineFile.h"

#include "platform/System.h"

#include <algorithm>
#include <cerrno>

LineFile::~LineFile() {
    Close();
}

bool LineFile::Open(const std::string& path) {
    Close();
    path_ = path;
    vanished_ = false;
    return OpenFile();
}

bool LineFile::OpenFile() {
    if (std::string problem = OutputFileProblem(path_); !problem.empty()) {
        failure_ = std::move(problem);
        return false;
    }
    if (const int error = file_.Open(path_)) {
        failure_ = error == AppendFile::NotRegular ? "it is not a regular file" : GetSystemErrorText(error);
        return false;
    }
    failure_.clear();
    return true;
}

void LineFile::Close() {
    Flush();
    file_.Close();
    Drop();
}

void LineFile::Drop() {
    queued_.clear();
    lineEnds_.clear();
}

void LineFile::Queue(std::string_view line) {
    if (!file_.IsOpen()) return;
    queued_ += line;
    lineEnds_.push_back(queued_.size());
}

bool LineFile::WriteLine(std::string_view line) {
    if (!file_.IsOpen()) return false;
    Queue(line);
    return Flush();
}

bool LineFile::Flush() {
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

bool LineFile::Fail(int error, size_t written) {
    failure_ = GetSystemErrorText(error);
    const auto whole = std::upper_bound(lineEnds_.begin(), lineEnds_.end(), written);
    // The part of a line that did get in goes again, so the file always ends at a line end and
    // the next line starts a line of its own.
    file_.TakeBack(written - (whole == lineEnds_.begin() ? 0 : *(whole - 1)));
    file_.Close();
    Drop();
    return false;
}

bool LineFile::Reopen(std::string_view firstLine) {
    std::string kept = std::move(queued_);
    std::vector<size_t> keptEnds = std::move(lineEnds_);
    Drop();
    vanished_ = false;
    if (!OpenFile()) return false;
    Queue(firstLine);
    const size_t base = queued_.size();
    queued_ += kept;
    for (size_t end : keptEnds)
        lineEnds_.push_back(base + end);
    return Flush();
}
