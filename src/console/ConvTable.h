#pragma once
// Conversion tables of an amplifier board: the operator's point list, the service commands that
// move one table point by point, and the replies read back. Upload and download run through a
// query function the caller passes in (the console's TIO, 1000 ms per point), so this unit knows
// no connection and no window. Everything here runs on the caller's thread (the UI thread in the
// program); nothing is shared.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// A table holds at most this many points; a download always reads exactly this many.
inline constexpr std::size_t ConvTablePoints = 20;
// How long each point waits for its reply.
inline constexpr int ConvReplyTimeoutMs = 1000;

// What the operator reads, in the log (blue) and in the boxes.
inline constexpr char ConvTooLongLog[] = "Error: Table to long!";
inline constexpr char ConvTooLongBox[] = "Table to long!";
inline constexpr char ConvSignedLog[] = "Table will be tagged as \"contains signed y Values\"!";
inline constexpr char ConvUploadEndLog[] = "Table Upload end.";
inline constexpr char ConvDownloadEndLog[] = "Table Download end.";
inline constexpr char ConvListEndLog[] = "###";
inline constexpr char ConvTimeoutBox[] = "Reply Timeout";
// Heads the points read before a time-out; "%u" is the point that got no reply.
inline constexpr char ConvIncompleteListLog[] = "Point List (incomplete, no reply for point %u):\r\n";
// A GPIB link or no link: there is no TIO to query, so nothing is sent.
inline constexpr char ConvNeedsTioText[] = "Conversion tables need a serial or TCP connection.";

// Table numbers travel in two hex digits, which is all a download's reply carries back, so a
// board's tables are numbered 0 to ConvMaxTable.
inline constexpr int ConvMaxTable = 0xFF;
// Why number cannot be a table number (outside 0 to ConvMaxTable); empty when it can. Such a number
// is refused before anything is sent: its requests would never be answered for that table.
std::string ConvTableNumberError(int number);

// One point: x is the raw ADC value, y the level in hundredths of dBm.
struct ConvPoint {
    unsigned x = 0;
    int y = 0;
    bool operator==(const ConvPoint&) const = default;
};

// One line of a point list, trimmed, read as the C library reads "%u %d": an unsigned x, blanks,
// a signed y (out-of-range numbers wrap as they would there). False when not both are read.
bool ParseConvPointLine(const std::string& line, ConvPoint& point);
// The points of a list in line order; every other line (headings, blanks, comments) is skipped.
std::vector<ConvPoint> ParseConvPointList(const std::vector<std::string>& lines);
// 'S' when any y is negative, else 'U'; sent with every point of the table.
char SignTag(const std::vector<ConvPoint>& points);

// "SVC CONV UP " / "SVC CONV DN ", or behind "SVC QB " + address + " " for another board than the
// main board; the address is used as typed.
std::string ConvCommandPrefix(const std::string& address, bool upload);
// prefix + "%02x %02x %04x %04x %c?\n" of (table, index, x, y & 0xFFFF, tag).
std::string ConvUploadRequest(const std::string& prefix, unsigned table, unsigned index,
                              const ConvPoint& point, char tag);
// prefix + "%02x %02x?\n" of (table, index).
std::string ConvDownloadRequest(const std::string& prefix, unsigned table, unsigned index);

// A download reply: one word, then table, index, x, y in hex and the tag, blank separated.
struct ConvReply {
    unsigned table = 0;
    unsigned index = 0;
    unsigned x = 0;
    unsigned y = 0;
    char tag = 0;
};
bool ParseConvReply(const std::string& reply, ConvReply& parsed);
// The list line (ending in CR LF) for the reply to point index of table: "x<TAB>y" with y signed
// for tag 'S', unsigned otherwise. A reply that does not read, or answers another table or point,
// gives a comment line naming the point and quoting the reply, which a list upload skips.
std::string ConvListLine(unsigned table, unsigned index, const std::string& reply);
// The editor caption of a downloaded table.
std::string ConvListCaption(unsigned table);

// Which line may be the reply to a request (TIO::ReplyFilter).
using ConvReplyFilter = std::function<bool(const std::string& line)>;
// True when reply reads as the reply to a point other than index of table: a repeated or late
// reply, which must not stand for this point's.
bool NamesAnotherPoint(const std::string& reply, unsigned table, unsigned index);

// What a transfer needs of its surroundings.
struct ConvTransferHost {
    // Sends one request and waits for its reply line; false when none came in time.
    std::function<bool(const std::string& request, std::string& reply)> Query;
    // The same, passing over (and showing) the lines accept refuses while the wait goes on within
    // the same time. The download pairs its replies this way when it is set; without it, a reply
    // for another point is listed as such.
    std::function<bool(const std::string& request, std::string& reply, const ConvReplyFilter& accept)>
        QueryPaired;
    // One log entry, written in blue.
    std::function<void(const std::string& text)> Log;
    // After each answered point, so the operator sees the transfer move; may be empty.
    std::function<void()> PointDone;
};

enum class ConvResult { Done, TooLong, ReplyTimeout };

// Uploads the points of lines to table: more than ConvTablePoints sends nothing (TooLong, logged);
// a signed table is announced before the first request; a point without reply stops the upload
// (ReplyTimeout: the earlier points stay in the board, no end line). Replies are not examined.
ConvResult UploadConvTable(const ConvTransferHost& host, const std::string& prefix, unsigned table,
                           const std::vector<std::string>& lines);
// Reads all points of table into list (lines ending in CR LF) and logs the end, the list and
// "###". A point without reply stops the download (ReplyTimeout; list is left empty) and logs the
// points read so far in one entry headed ConvIncompleteListLog, so the operator keeps them.
ConvResult DownloadConvTable(const ConvTransferHost& host, const std::string& prefix, unsigned table,
                             std::string& list);
