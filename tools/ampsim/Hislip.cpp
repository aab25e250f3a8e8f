#include "Hislip.h"

namespace ampsim::hislip {
namespace {

void PutBigEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out += static_cast<char>(value >> shift & 0xff);
}

std::uint64_t GetBigEndian(std::string_view bytes) {
    std::uint64_t value = 0;
    for (char c : bytes)
        value = value << 8 | static_cast<unsigned char>(c);
    return value;
}

} // namespace

HeaderStatus ParseHeader(std::string_view bytes, Header& header) {
    // A wrong first byte is wrong however few bytes came; the stream can be judged early.
    if ((!bytes.empty() && bytes[0] != 'H') || (bytes.size() > 1 && bytes[1] != 'S'))
        return HeaderStatus::BadPrologue;
    if (bytes.size() < kHeaderSize) return HeaderStatus::Partial;
    header.type = static_cast<std::uint8_t>(bytes[2]);
    header.control = static_cast<std::uint8_t>(bytes[3]);
    header.parameter = static_cast<std::uint32_t>(GetBigEndian(bytes.substr(4, 4)));
    header.length = GetBigEndian(bytes.substr(8, 8));
    return HeaderStatus::Complete;
}

std::string Message(std::uint8_t type, std::uint8_t control, std::uint32_t parameter,
                    std::string_view payload) {
    std::string out = "HS";
    out += static_cast<char>(type);
    out += static_cast<char>(control);
    PutBigEndian(out, parameter, 4);
    PutBigEndian(out, payload.size(), 8);
    out.append(payload);
    return out;
}

std::string SizeMessage(std::uint8_t type, std::uint64_t size) {
    std::string payload;
    PutBigEndian(payload, size, 8);
    return Message(type, 0, 0, payload);
}

} // namespace ampsim::hislip
