#include "plot/SeriesCsv.h"

#include "platform/System.h"
#include "plot/PlotTime.h"
#include "plot/ReplySeries.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <limits>
#include <utility>

namespace {
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

} // namespace

std::string CsvHeader(const std::vector<std::string>& names) {
    std::string header = "Time";
    for (const std::string& name : names)
        header += "," + CsvField(name);
    return header + "\r\n";
}

std::string CsvRow(int64_t timeMs, const std::vector<std::optional<double>>& values) {
    std::string row = FormatStampTime(timeMs);
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
// The earliest time of the points still to write; none when all are written.
std::optional<int64_t> NextTime(const ReplySeries& series, const std::vector<size_t>& next) {
    std::optional<int64_t> time;
    for (size_t i = 0; i < series.Count(); ++i) {
        if (next[i] < series.Points(i).Size()) {
            const int64_t t = series.Points(i).At(next[i]).timeMs;
            if (!time || t < *time) time = t;
        }
    }
    return time;
}

// Written in blocks: a flushed write per row would make a soak's export crawl.
constexpr size_t ExportBlockBytes = 1 << 16;
} // namespace

namespace {
// The export's file: replaced, written in blocks, closed with its result.
class ExportFile {
public:
    ~ExportFile() {
        if (file_) std::fclose(file_);
    }
    bool Open(const std::string& path, std::string& reason) {
        reason = OutputFileProblem(path);
        if (!reason.empty()) return false;
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) reason = GetSystemErrorText(errno);
        return file_ != nullptr;
    }
    bool Write(const std::string& text, std::string& reason) {
        errno = 0;
        if (std::fwrite(text.data(), 1, text.size(), file_) == text.size()) return true;
        reason = GetSystemErrorText(errno != 0 ? errno : EIO);
        return false;
    }
    bool Close(std::string& reason) {
        errno = 0;
        const bool closed = std::fclose(std::exchange(file_, nullptr)) == 0;
        if (!closed) reason = GetSystemErrorText(errno != 0 ? errno : EIO);
        return closed;
    }

private:
    std::FILE* file_ = nullptr;
};

std::vector<std::string> SeriesNames(const ReplySeries& series) {
    std::vector<std::string> names;
    for (const SeriesDefinition& d : series.Definitions())
        names.push_back(d.name);
    return names;
}

// Longer than any header of ours: a line that does not end by then holds other columns.
constexpr std::streamsize MaxHeaderBytes = 1 << 16;

// The first line of a regular file that is there and not empty (without its line end); none
// otherwise (a sink device reads as endless zeros, or as nothing).
std::optional<std::string> FirstLine(const std::string& path) {
    if (IsSinkDevice(path)) return std::nullopt;
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

bool ExportCsv(const ReplySeries& series, const std::string& path, std::string& reason) {
    ExportFile file;
    if (!file.Open(path, reason)) return false;
    std::vector<size_t> next(series.Count(), 0);
    std::vector<std::optional<double>> row(series.Count());
    std::string text = CsvHeader(SeriesNames(series));
    while (std::optional<int64_t> time = NextTime(series, next)) {
        for (size_t i = 0; i < series.Count(); ++i) {
            const SeriesStore& points = series.Points(i);
            row[i].reset();
            if (next[i] < points.Size() && points.At(next[i]).timeMs == *time)
                row[i] = points.At(next[i]++).value;
        }
        text += CsvRow(*time, row);
        if (text.size() < ExportBlockBytes) continue;
        if (!file.Write(text, reason)) return false;
        text.clear();
    }
    return file.Write(text, reason) && file.Close(reason);
}

CsvStream::Opened CsvStream::Open(const std::string& path, const std::vector<std::string>& names,
                                  std::string& reason) {
    header_ = CsvHeader(names);
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
