// Feeds arbitrary bytes, cut into arbitrary pieces, through the RPC record reader, and every record
// through the reply reader and the VXI-11 result readers: nothing reads past its input, a record
// stays within the reader's limit, and the pieces never change the records.
#include "connection/OncRpc.h"
#include "connection/Vxi11Messages.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
constexpr size_t Limit = 1 << 16;

void ReadResults(std::string_view results) {
    std::string failure;
    uint32_t port = 0;
    int32_t error = 0;
    vxi11::LinkReply link;
    vxi11::WriteReply write;
    vxi11::ReadReply read;
    vxi11::StatusReply status;
    vxi11::DecodeGetPort(results, port, failure);
    vxi11::DecodeCreateLink(results, link, failure);
    vxi11::DecodeWrite(results, write, failure);
    if (vxi11::DecodeRead(results, read, failure) && read.data.size() > results.size()) std::abort();
    vxi11::DecodeReadStb(results, status, failure);
    vxi11::DecodeError(results, error, failure);
}

std::vector<std::string> Records(const uint8_t* data, size_t size, size_t piece) {
    oncrpc::RecordReader reader(Limit);
    std::vector<std::string> records;
    std::string record;
    for (size_t at = 0; at < size; at += piece) {
        reader.Append({reinterpret_cast<const char*>(data) + at, std::min(piece, size - at)});
        oncrpc::RecordReader::Status status;
        while ((status = reader.Next(record)) == oncrpc::RecordReader::Status::Record) {
            if (record.size() > Limit) std::abort();
            records.push_back(record);
        }
        if (status == oncrpc::RecordReader::Status::Malformed) {
            if (reader.Failure().empty()) std::abort();
            records.push_back("malformed");
            break;
        }
    }
    return records;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = 1 + data[0] % 64;
    const std::vector<std::string> records = Records(data + 1, size - 1, piece);
    if (records != Records(data + 1, size - 1, size)) std::abort();
    for (const std::string& record : records) {
        oncrpc::ReplyCheck check;
        const uint32_t xid = record.size() >= 4 ? static_cast<uint8_t>(record[3]) : 0;
        const bool accepted = oncrpc::DecodeReply(record, xid, check);
        if (accepted != check.failure.empty()) std::abort();
        if (accepted && (check.results.data() < record.data() ||
                         check.results.data() + check.results.size() > record.data() + record.size()))
            std::abort();
        ReadResults(accepted ? check.results : std::string_view(record));
    }
    return 0;
}
