#pragma once
// Series as CSV: a header "Time,<name>,...", then one row per received line that gave numbers, its
// arrival stamp as in the log ("hh:nn:ss.zzz") and each series' number or an empty field. Numbers
// are written in the shortest form that reads back as the same value, with a point as the decimal
// separator; names with a comma or a quote are quoted. CR LF line ends, as every file we write.
// Plain C++; one thread at a time.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

class ReplySeries;

std::string CsvHeader(const std::vector<std::string>& names);
std::string CsvRow(int64_t timeMs, const std::vector<std::optional<double>>& values);

// Writes every stored point of series to path, the series merged by time: points of different
// series with the same time share a row. False when the file cannot be written: reason gives the
// system's reason.
bool ExportCsv(const ReplySeries& series, const std::string& path, std::string& reason);

// A CSV file written row by row while lines come in; each row is flushed, so a run that is killed
// leaves every row it wrote.
class CsvStream {
public:
    CsvStream() = default;
    ~CsvStream();
    CsvStream(const CsvStream&) = delete;
    CsvStream& operator=(const CsvStream&) = delete;

    // Creates (or empties) path and writes the header. False with reason when it cannot.
    bool Open(const std::string& path, const std::vector<std::string>& names, std::string& reason);
    // False with reason when the row could not be written; the file is closed then.
    bool Write(const std::string& text, std::string& reason);
    const std::string& Path() const { return path_; }

private:
    void Close();
    std::FILE* file_ = nullptr;
    std::string path_;
};
