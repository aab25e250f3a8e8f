#pragma once
// XDR, the data encoding under ONC RPC: big-endian 32-bit units, variable-length opaque data
// and strings as a length and the bytes padded to a multiple of four.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ampsim {

// Reads from a buffer it does not own. A read past the end, or of a length over its limit,
// fails the reader: that and every later read give 0 or empty, and Failed() says so, so a
// procedure can read all its arguments and check once.
class XdrReader {
public:
    explicit XdrReader(std::string_view data) : data_(data) {}

    std::uint32_t U32();
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    bool Bool() { return U32() != 0; }
    // Variable-length opaque data or a string of at most max bytes.
    std::string_view Opaque(std::size_t max);
    bool Failed() const { return failed_; }
    std::string_view Rest() const { return data_.substr(pos_); }

private:
    std::string_view data_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

class XdrWriter {
public:
    XdrWriter& U32(std::uint32_t value);
    XdrWriter& I32(std::int32_t value) { return U32(static_cast<std::uint32_t>(value)); }
    XdrWriter& Opaque(std::string_view bytes);
    std::string& Bytes() { return bytes_; }

private:
    std::string bytes_;
};

} // namespace ampsim
