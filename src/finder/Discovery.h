#pragma once
// The amplifier discovery protocol on UDP port 8001 and the finder's list of amplifiers, without
// windows. The finder broadcasts Hello every 500 ms; every amplifier answers with one line of six
// blank-separated tokens: MAC, flag, IP address, two further fields and its name.
//
// Threads: none of its own. AmpList belongs to the finder window and is used on the UI thread only.
#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

constexpr int DiscoveryPort = 8001;
constexpr char DiscoveryHello[] = "0 1 A"; // 5 bytes, no line end
constexpr size_t DiscoveryHelloLength = sizeof DiscoveryHello - 1;
constexpr uint32_t HelloPeriodMs = 500;
constexpr uint32_t MaxSilenceMs = 2000;

// One discovery reply.
struct AmpInfo {
    std::string Mac;
    std::string Name;
    bool Flag = false;
    std::string Ip;
    std::string Extra1;
    std::string Extra2;
    std::string RowKey;    // the MAC again: the key by which rows are matched
    uint32_t LastSeen = 0; // tick of the last reply for this row
};

// Reads one reply as the C library's scan "%12s %c %15s %15s %15s %63s" does: tokens separated by
// white space, each cut at its field width, the rest of a cut token becoming the next field's
// input; the text ends at its first 0 byte. Fewer than six fields: none. Tokens after the sixth are
// ignored. LastSeen is left 0.
std::optional<AmpInfo> ParseDiscoveryReply(std::string_view text);

// The finder's amplifiers in the order they were first seen, found by RowKey in constant time.
class AmpList {
public:
    enum class Change { Added, Refreshed };
    struct UpdateResult {
        Change change;
        const AmpInfo* row; // valid until the row is removed
        bool ipChanged = false;
        bool nameChanged = false;
    };

    // A reply seen at tick now. A known RowKey refreshes its row: the row's record becomes the
    // newest reply (so the address handed on is the one the amplifier reports now) and its
    // LastSeen now. An unknown one is appended.
    UpdateResult Update(const AmpInfo& reply, uint32_t now);

    // Removes every row silent for more than maxAgeMs at tick now, measured as an unsigned 32-bit
    // difference so the tick's wrap-around after 49.7 days removes nothing early. Returns the
    // RowKeys removed, in list order.
    std::vector<std::string> RemoveStale(uint32_t maxAgeMs, uint32_t now);

    const AmpInfo* Find(const std::string& rowKey) const;
    size_t Size() const { return rows_.size(); }
    // The rows in list order.
    std::vector<const AmpInfo*> Rows() const;
    void Clear();

private:
    std::list<AmpInfo> rows_;
    std::unordered_map<std::string, std::list<AmpInfo>::iterator> byKey_;
};
