#pragma once
// The texts of the console's extra tools: the signature line of a saved log, the proposed log file
// name, the C-array number list and the service channel list. No state; any thread.
#include <ctime>
#include <string>

// user + "@" + DNS domain + "\" + computer + ", " + date-time stamp + ", Connection=" + connection.
std::string SignatureLine(const std::string& user, const std::string& dnsDomain, const std::string& computer,
                          const std::string& dateTimeStamp, const std::string& connection);
// The same for this machine, its user and the current local time.
std::string SignatureLine(const std::string& connection);

// "RemoteControlTest_" + kind ("Serial", "LAN", "GPIB") + "_" + "yyyy-mm-dd-hh-nn-ss" + ".txt".
std::string ProposedLogFileName(const std::string& connectionKindName, const std::tm& localTime);
// The same at the current local time.
std::string ProposedLogFileName(const std::string& connectionKindName);

// Writes text to the file at path, replacing it only once all of it is on the disk (WriteTextData).
// False with the reason in error (the path and the system's error text) when the file cannot be
// made or written or the data does not reach it; the file that was there is then untouched.
bool WriteTextFile(const std::string& path, const std::string& text, std::string& error);

// Lines (CR LF, LF or CR) holding an unsigned and a signed integer, as copied from two spreadsheet
// columns, become "{%5d, %5d }, \" + CR LF each; other lines are left out.
std::string FormatNumberList(const std::string& text);

// Expands a channel list as written in the firmware's configuration ("1A3 12B2 #xyz C1"): each
// entry of an optional one- or two-digit group (kept for the next entries; 1 at first), a letter
// and a count gives count query lines "DIAG CHAN_<group><letter><1..count>?" + CR LF. Blanks
// separate entries; "#" and the three characters after it are skipped. The scan stops at the end of
// the input wherever that falls, an entry cut short giving nothing.
std::string GenerateChannelList(const std::string& input);

// The explanation Format Number List shows once per run.
inline constexpr char NumberListExplanation[] =
    "In the next window, enter a number list copied from Excel.\r\nThis list is reformatted as {C-Array} and "
    "copied to the clipboard.";

// The stand-alone project-folder tool that GotoProject starts, found by name on the program search
// path as every program is.
inline constexpr char ProjectToolProgram[] = "telvarn";
