#pragma once
// Series as CSV: a header "Time,<name>,...", then one row per reply that gave numbers (ReplySeries.h
// says what one reply is), its local date and time ("yyyy-mm-dd hh:nn:ss.zzz", the log's stamp
// behind the date) and each series' number or an empty field. Numbers
// are written in the shortest form that reads back as the same value, with a point as the decimal
// separator; names with a comma or a quote are quoted. CR LF line ends, as every file we write.
// Plain C++; one thread at a time.
#include "log/LineFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A field as it is, or quoted (RFC 4180) when it holds a comma, a quote, CR or LF.
std::string CsvField(const std::string& text);
std::string CsvHeader(const std::vector<std::string>& names);
std::string CsvRow(int64_t timeMs, const std::vector<std::optional<double>>& values);

// A CSV file written row by row while lines come in; each row is flushed, so a run that is killed
// leaves every row it wrote, and a row is whole or absent when the disk fills up. An existing file
// is never emptied: rows are appended to one that has the same columns.
class CsvStream {
public:
    enum class Opened {
        Yes,
        Refused,     //!< It cannot be made, holds other columns, or is no regular file.
        WriteFailed, //!< It was opened, but took not even the header (a full disk).
    };
    enum class Written { Yes, Reopened, Failed };

    // Appends to path when its header is this one; creates it, or fills an empty one, with the
    // header first. reason says why when not Yes.
    Opened Open(const std::string& path, const std::vector<std::string>& names, std::string& reason);
    // The same for a header of other columns (with its line end).
    Opened OpenWithHeader(const std::string& path, const std::string& header, std::string& reason);
    // Writes one row. Reopened: the file had been deleted and was made again, header first, with
    // the row. Failed: reason says why, and the file is closed.
    Written Write(const std::string& row, std::string& reason);
    const std::string& Path() const { return file_.Path(); }

private:
    LineFile file_;
    std::string header_;
};
