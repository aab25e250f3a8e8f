// Feeds arbitrary bytes, cut into arbitrary pieces, through the HiSLIP header parser and message
// reader: a header is read only when whole and within the payload limit, a message holds exactly
// the payload its header announces, and the pieces never change the messages.
#include "connection/HislipMessage.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
std::vector<std::string> Messages(const char* data, size_t size, size_t piece) {
    hislip::MessageReader reader;
    std::vector<std::string> messages;
    hislip::Message message;
    for (size_t at = 0; at < size; at += piece) {
        reader.Append({data + at, std::min(piece, size - at)});
        hislip::MessageReader::Status status;
        while ((status = reader.Next(message)) == hislip::MessageReader::Status::Message) {
            if (message.payload.size() != message.header.length || message.header.length > hislip::MaxPayload)
                std::abort();
            const uint8_t type = message.header.type;
            if (type == hislip::Error || type == hislip::FatalError) hislip::DescribeError(message);
            messages.push_back(
                hislip::Encode(type, message.header.control, message.header.parameter, message.payload));
        }
        if (status == hislip::MessageReader::Status::Malformed) {
            messages.push_back("malformed");
            break;
        }
    }
    return messages;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const char* bytes = reinterpret_cast<const char*>(data) + 1;
    hislip::Header header;
    std::string failure;
    const bool read = hislip::ParseHeader({bytes, size - 1}, header, failure);
    uint64_t length = 0;
    for (size_t i = 8; i < hislip::HeaderSize && i < size - 1; ++i)
        length = length << 8 | data[1 + i];
    if (read != (size - 1 >= hislip::HeaderSize && bytes[0] == 'H' && bytes[1] == 'S' &&
                 length <= hislip::MaxPayload))
        std::abort();
    if (!read && failure.empty()) std::abort();
    const std::vector<std::string> messages = Messages(bytes, size - 1, 1 + data[0] % 32);
    if (messages != Messages(bytes, size - 1, size)) std::abort();
    // A message read whole is encoded back to the very bytes it came from.
    std::string again;
    for (const std::string& m : messages)
        if (m != "malformed") again += m;
    if (std::string_view(bytes, size - 1).substr(0, again.size()) != again) std::abort();
    return 0;
}
