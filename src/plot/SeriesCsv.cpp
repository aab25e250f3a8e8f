#include "plot/SeriesCsv.h"

#include "plot/PlotTime.h"
#include "plot/ReplySeries.h"
#include "text/Strtools.h"

#include <cerrno>
#include <charconv>
#include <limits>

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

bool WriteAll(std::FILE* file, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

std::string WriteFailure(int code) {
    return GetSystemErrorText(code);
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

bool ExportCsv(const ReplySeries& series, const std::string& path, std::string& reason) {
    CsvStream csv;
    std::vector<std::string> names;
    for (const SeriesDefinition& d : series.Definitions())
        names.push_back(d.name);
    if (!csv.Open(path, names, reason)) return false;
    std::vector<size_t> next(series.Count(), 0);
    std::vector<std::optional<double>> row(series.Count());
    std::string text;
    while (std::optional<int64_t> time = NextTime(series, next)) {
        for (size_t i = 0; i < series.Count(); ++i) {
            const SeriesStore& points = series.Points(i);
            row[i].reset();
            if (next[i] < points.Size() && points.At(next[i]).timeMs == *time)
                row[i] = points.At(next[i]++).value;
        }
        text += CsvRow(*time, row);
        if (text.size() < ExportBlockBytes) continue;
        if (!csv.Write(text, reason)) return false;
        text.clear();
    }
    return text.empty() || csv.Write(text, reason);
}

CsvStream::~CsvStream() {
    Close();
}

bool CsvStream::Open(const std::string& path, const std::vector<std::string>& names, std::string& reason) {
    Close();
    path_ = path;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        reason = WriteFailure(errno);
        return false;
    }
    return Write(CsvHeader(names), reason);
}

bool CsvStream::Write(const std::string& text, std::string& reason) {
    if (!file_) {
        reason = WriteFailure(EBADF);
        return false;
    }
    errno = 0;
    if (WriteAll(file_, text) && std::fflush(file_) == 0) return true;
    reason = WriteFailure(errno != 0 ? errno : EIO);
    Close();
    return false;
}

void CsvStream::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}
