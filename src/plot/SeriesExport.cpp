#include "plot/SeriesExport.h"

#include "log/AppendFile.h"
#include "platform/System.h"
#include "plot/PlotTime.h"
#include "plot/ReplySeries.h"
#include "plot/SeriesCsv.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <utility>

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

std::string SuggestedExportName(int64_t timeMs) {
    const std::string time = FormatStampTime(timeMs);
    return "corvane-plot-" + FormatDate(timeMs) + "-" + time.substr(0, 2) + time.substr(3, 2) + ".csv";
}
