#pragma once
// The console's run of a test script: the window program runs itself headless as a child process
// (a script that waits or loops never holds the window), on the console's connection with its
// line ends, and shows the child's log lines in the console's log as they come, each in the colour
// of its kind. Plain C++.
#include "connection/LineEnds.h"

#include <cstdint>
#include <string>
#include <vector>

// The arguments after the program's name.
std::vector<std::string> TestRunArguments(const std::string& script, const std::string& connection,
                                          const LineEnds& ends, bool escapes);
// The colour of a line the run logged ("[hh:nn:ss.zzz] dut: Tx: FWD?"): sent and received lines as
// the console's own, a failure in red, everything else as a status line.
uint32_t RunLineColour(const std::string& line);
// The line the console logs when the run has ended with exitCode (-1: it crashed or could not
// start).
std::string TestRunEndText(int exitCode);
