#include "plot/SeriesCsv.h"

#include "plot/PlotTime.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string CsvHeader(const std::vector<std::string>& names) {
    std::string header = "Time";
    for (const std::string& name : names)
        header += "," + CsvField(name);
    return header + "\r\n";
}

std::string CsvRow(int64_t timeMs, const std::vector<std::optional<double>>& values) {
    std::string row = FormatStampDateTime(timeMs);
    char number[std::numeric_limits<double>::max_digits10 + 16];
    for (const std::optional<double>& value : values) {
        row += ',';
        if (!value) continue;
        auto [end, error] = std::to_chars(number, number + sizeof number, *value);
        if (error == std::errc()) row.append(number, end);
    }
    return row + "\r\n";
}

namespace {
// Longer than any header of ours: a line that does not end by then holds other columns.
constexpr std::streamsize MaxHeaderBytes = 1 << 16;

// The first line of a regular file that is there and not empty (without its line end); none
// otherwise. A device has no header to keep, and /dev/full reads zeros for ever.
std::optional<std::string> FirstLine(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::string start(MaxHeaderBytes, '\0');
    in.read(start.data(), MaxHeaderBytes);
    start.resize(static_cast<size_t>(in.gcount()));
    if (start.empty()) return std::nullopt;
    std::string line = start.substr(0, start.find('\n'));
    if (line.ends_with('\r')) line.pop_back();
    return line;
}
} // namespace

CsvStream::Opened CsvStream::Open(const std::string& path, const std::vector<std::string>& names,
                                  std::string& reason) {
    return OpenWithHeader(path, CsvHeader(names), reason);
}

CsvStream::Opened CsvStream::OpenWithHeader(const std::string& path, const std::string& header,
                                            std::string& reason) {
    header_ = header;
    // A FIFO is not read for its header: it could wait for a writer for ever.
    reason = OutputFileProblem(path);
    if (!reason.empty()) return Opened::Refused;
    const std::optional<std::string> first = FirstLine(path);
    if (first && *first + "\r\n" != header_) {
        reason = "it holds other columns (\"" + *first + "\"); name a new file, or move that one away";
        return Opened::Refused;
    }
    if (!file_.Open(path)) {
        reason = file_.Failure();
        return Opened::Refused;
    }
    if (first || file_.WriteLine(header_)) return Opened::Yes;
    reason = file_.Failure();
    return Opened::WriteFailed;
}

CsvStream::Written CsvStream::Write(const std::string& row, std::string& reason) {
    if (file_.WriteLine(row)) return Written::Yes;
    if (file_.Vanished() && file_.Reopen(header_)) return Written::Reopened;
    reason = file_.Failure();
    return Written::Failed;
}
