#pragma once
// The stored points of every series written to a CSV file at once, in the format of SeriesCsv.h.
// Plain C++; the thread that owns the series.
#include <cstdint>
#include <string>

class ReplySeries;

// Writes every stored point of series to path (replacing the file), the series merged by time:
// points of different series with the same time share a row. False when the file cannot be
// written: reason gives the system's reason.
bool ExportCsv(const ReplySeries& series, const std::string& path, std::string& reason);
// The file name an export suggests for a local time (PlotTime.h): "corvane-plot-yyyy-mm-dd-hhnn.csv".
std::string SuggestedExportName(int64_t timeMs);
