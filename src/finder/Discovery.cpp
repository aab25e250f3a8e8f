#include "finder/Discovery.h"

#include <cstdio>

std::optional<AmpInfo> ParseDiscoveryReply(std::string_view text) {
    // The datagram's text ends at its first 0 byte, which a std::string copy keeps for sscanf.
    const std::string line(text.substr(0, text.find('\0')));
    char mac[13] = {}, flag = 0, ip[16] = {}, extra1[16] = {}, extra2[16] = {}, name[64] = {};
    if (std::sscanf(line.c_str(), "%12s %c %15s %15s %15s %63s", mac, &flag, ip, extra1, extra2, name) != 6)
        return std::nullopt;
    AmpInfo info;
    info.Mac = mac;
    info.RowKey = mac;
    info.Flag = flag == '1';
    info.Ip = ip;
    info.Extra1 = extra1;
    info.Extra2 = extra2;
    info.Name = name;
    return info;
}

AmpList::UpdateResult AmpList::Update(const AmpInfo& reply, uint32_t now) {
    auto found = byKey_.find(reply.RowKey);
    if (found == byKey_.end()) {
        rows_.push_back(reply);
        auto row = std::prev(rows_.end());
        row->LastSeen = now;
        byKey_.emplace(row->RowKey, row);
        return {Change::Added, &*row};
    }
    AmpInfo& row = *found->second;
    UpdateResult result{Change::Refreshed, &row, row.Ip != reply.Ip, row.Name != reply.Name};
    row = reply;
    row.LastSeen = now;
    return result;
}

std::vector<std::string> AmpList::RemoveStale(uint32_t maxAgeMs, uint32_t now) {
    std::vector<std::string> removed;
    for (auto row = rows_.begin(); row != rows_.end();) {
        if (static_cast<uint32_t>(now - row->LastSeen) <= maxAgeMs) {
            ++row;
            continue;
        }
        removed.push_back(row->RowKey);
        byKey_.erase(row->RowKey);
        row = rows_.erase(row);
    }
    return removed;
}

const AmpInfo* AmpList::Find(const std::string& rowKey) const {
    auto found = byKey_.find(rowKey);
    return found == byKey_.end() ? nullptr : &*found->second;
}

std::vector<const AmpInfo*> AmpList::Rows() const {
    std::vector<const AmpInfo*> rows;
    rows.reserve(rows_.size());
    for (const AmpInfo& row : rows_)
        rows.push_back(&row);
    return rows;
}

void AmpList::Clear() {
    byKey_.clear();
    rows_.clear();
}
