#pragma once
// What the runner benchmarks share: the Python loop a test engineer would write instead of a
// script (pyvisa-py over a raw socket), running a child with its output in a file, and the steady
// rate of a run from its own log's stamps.
#include <string>
#include <vector>

// The distribution's interpreter, which python3-pyvisa-py installs into.
inline constexpr char DistributionPython[] = "/usr/bin/python3";

// pyvisa-py, one STATUS? at a time: `python3 loop.py PORT COUNT` prints the seconds from the start of
// its first query to the start of its last.
extern const char PyVisaStatusLoop[];

// Runs args with standard output into outPath; true when it exited with 0.
bool RunChild(const std::vector<std::string>& args, const std::string& outPath);
std::string ReadWhole(const std::string& path);

// Seconds from the first "Tx:" line of a runner's log to its last, by the log's own stamps (a test
// script's lines name the instrument before "Tx:"); the count of Tx lines in count. 0 when there
// are fewer than two.
double TxSpan(const std::string& log, int& count);
