#include "console/ConvTable.h"

#include "text/Strtools.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr char UploadPrefix[] = "SVC CONV UP ";
constexpr char DownloadPrefix[] = "SVC CONV DN ";
constexpr char RoutePrefix[] = "SVC QB ";

template <class... Args> std::string Format(const char* format, Args... args) {
    char text[64];
    int n = std::snprintf(text, sizeof text, format, args...);
    return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string Quoted(const std::string& reply, const char* what, unsigned index) {
    return Format("# point %u: ", index) + what + " \"" + TrimText(reply) + "\"\r\n";
}
// A repeated or late reply to another point is passed over, so every point keeps its own reply.
bool QueryPoint(const ConvTransferHost& host, const std::string& request, unsigned table, unsigned index,
                std::string& reply) {
    if (!host.QueryPaired) return host.Query(request, reply);
    return host.QueryPaired(request, reply,
                            [&](const std::string& line) { return !NamesAnotherPoint(line, table, index); });
}
} // namespace

// strtoul and strtol read a number as scanf's %u and %d do (white space, a sign, digits); a number
// out of range still gives a defined value, where scanf's behaviour would be undefined.
bool ParseConvPointLine(const std::string& line, ConvPoint& point) {
    const std::string text = TrimText(line);
    const char* begin = text.c_str();
    char* end = nullptr;
    const unsigned long x = std::strtoul(begin, &end, 10);
    if (end == begin) return false;
    const char* yBegin = end;
    const long y = std::strtol(yBegin, &end, 10);
    if (end == yBegin) return false;
    point.x = static_cast<unsigned>(x);
    point.y = static_cast<int>(y);
    return true;
}

std::vector<ConvPoint> ParseConvPointList(const std::vector<std::string>& lines) {
    std::vector<ConvPoint> points;
    ConvPoint point;
    for (const std::string& line : lines) {
        if (ParseConvPointLine(line, point)) points.push_back(point);
    }
    return points;
}

char SignTag(const std::vector<ConvPoint>& points) {
    for (const ConvPoint& point : points) {
        if (point.y < 0) return 'S';
    }
    return 'U';
}

std::string ConvTableNumberError(int number) {
    if (number >= 0 && number <= ConvMaxTable) return {};
    return "Table number " + std::to_string(number) + " is out of range: tables are numbered 0 to " +
           std::to_string(ConvMaxTable) + ".";
}

std::string ConvCommandPrefix(const std::string& address, bool upload) {
    const char* command = upload ? UploadPrefix : DownloadPrefix;
    if (address.empty()) return command;
    return RoutePrefix + address + " " + command;
}

std::string ConvUploadRequest(const std::string& prefix, unsigned table, unsigned index,
                              const ConvPoint& point, char tag) {
    const unsigned y = static_cast<unsigned>(point.y) & 0xFFFFu;
    return prefix + Format("%02x %02x %04x %04x %c?\n", table, index, point.x, y, tag);
}

std::string ConvDownloadRequest(const std::string& prefix, unsigned table, unsigned index) {
    return prefix + Format("%02x %02x?\n", table, index);
}

// The widths bound every number, so the reading cannot overflow.
bool ParseConvReply(const std::string& reply, ConvReply& parsed) {
    return std::sscanf(reply.c_str(), "%*s %2x %2x %4x %4x %c", &parsed.table, &parsed.index, &parsed.x,
                       &parsed.y, &parsed.tag) == 5;
}

std::string ConvListLine(unsigned table, unsigned index, const std::string& reply) {
    ConvReply parsed;
    if (!ParseConvReply(reply, parsed)) return Quoted(reply, "unreadable reply", index);
    // A late reply to an earlier request would put another point's values here.
    if (parsed.table != table || parsed.index != index)
        return Quoted(reply, "reply for another point", index);
    if (parsed.tag == 'S')
        return Format("%u\t%d\r\n", parsed.x, static_cast<int>(static_cast<int16_t>(parsed.y)));
    return Format("%u\t%u\r\n", parsed.x, parsed.y & 0xFFFFu);
}

bool NamesAnotherPoint(const std::string& reply, unsigned table, unsigned index) {
    unsigned repliedTable = 0;
    unsigned repliedIndex = 0;
    return std::sscanf(reply.c_str(), "%*s %2x %2x", &repliedTable, &repliedIndex) == 2 &&
           (repliedTable != table || repliedIndex != index);
}

std::string ConvListCaption(unsigned table) {
    return Format("Table %u Points", table);
}

ConvResult UploadConvTable(const ConvTransferHost& host, const std::string& prefix, unsigned table,
                           const std::vector<std::string>& lines) {
    const std::vector<ConvPoint> points = ParseConvPointList(lines);
    if (points.size() > ConvTablePoints) {
        host.Log(ConvTooLongLog);
        return ConvResult::TooLong;
    }
    const char tag = SignTag(points);
    if (tag == 'S') host.Log(ConvSignedLog);
    std::string reply;
    for (unsigned i = 0; i < points.size(); ++i) {
        if (!host.Query(ConvUploadRequest(prefix, table, i, points[i], tag), reply))
            return ConvResult::ReplyTimeout;
        if (host.PointDone) host.PointDone();
    }
    host.Log(ConvUploadEndLog);
    return ConvResult::Done;
}

ConvResult DownloadConvTable(const ConvTransferHost& host, const std::string& prefix, unsigned table,
                             std::string& list) {
    list.clear();
    std::string collected;
    std::string reply;
    for (unsigned i = 0; i < ConvTablePoints; ++i) {
        if (!QueryPoint(host, ConvDownloadRequest(prefix, table, i), table, i, reply)) {
            host.Log(Format(ConvIncompleteListLog, i) + collected);
            return ConvResult::ReplyTimeout;
        }
        if (host.PointDone) host.PointDone();
        collected += ConvListLine(table, i, reply);
    }
    host.Log(ConvDownloadEndLog);
    host.Log("Point List:\r\n" + collected);
    host.Log(ConvListEndLog);
    list = std::move(collected);
    return ConvResult::Done;
}
