#include "log/SessionLog.h"
#include "text/TextFile.h"

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

std::string SessionSeparator(const std::string& dateTime, const std::string& connection) {
    return "===== " + dateTime + " " + connection + " =====";
}

void SessionLog::Queue(const std::string& line) {
    if (!file_.IsOpen()) return;
    utf8_.clear();
    AppendUtf8(utf8_, line);
    utf8_ += "\r\n";
    file_.Queue(utf8_);
}

bool SessionLog::WriteLine(const std::string& line) {
    if (!file_.IsOpen()) return false;
    Queue(line);
    return Flush();
}

bool SessionLog::Reopen(const std::string& firstLine) {
    return file_.Reopen(Latin1ToUtf8(firstLine) + "\r\n");
}
