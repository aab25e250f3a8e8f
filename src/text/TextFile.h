#pragma once
// Plain 8-bit text files as every window of Corvane reads and writes them: lines end in CR LF,
// LF or CR when read and in CR LF when written. Failures are results with errno kept.
#include <string>
#include <vector>

// Splits text into lines at CR LF, LF and CR; a line end at the very end opens no further line.
std::vector<std::string> SplitTextLines(const std::string& text);
// The lines, each followed by CR LF.
std::string JoinTextLines(const std::vector<std::string>& lines);

// On failure the result is false and errorCode holds errno; opened (when given) tells whether the
// file itself could be opened, so a message can say which step failed.
bool ReadTextLines(const std::string& path, std::vector<std::string>& lines, int& errorCode,
                   bool* opened = nullptr);
// Creates or replaces the file; a failure at close (a full disk, a network share) counts.
bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines, int& errorCode,
                    bool* created = nullptr);
