#include "Xdr.h"

namespace ampsim {
namespace {

std::size_t Padded(std::size_t size) {
    return (size + 3) & ~std::size_t{3};
}

} // namespace

std::uint32_t XdrReader::U32() {
    if (failed_ || data_.size() - pos_ < 4) {
        failed_ = true;
        return 0;
    }
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(data_[pos_++]);
    return value;
}

std::string_view XdrReader::Opaque(std::size_t max) {
    const std::size_t size = U32();
    if (failed_ || size > max || data_.size() - pos_ < Padded(size)) {
        failed_ = true;
        return {};
    }
    std::string_view bytes = data_.substr(pos_, size);
    pos_ += Padded(size);
    return bytes;
}

XdrWriter& XdrWriter::U32(std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes_ += static_cast<char>(value >> shift & 0xff);
    return *this;
}

XdrWriter& XdrWriter::Opaque(std::string_view bytes) {
    U32(static_cast<std::uint32_t>(bytes.size()));
    bytes_.append(bytes);
    bytes_.append(Padded(bytes.size()) - bytes.size(), '\0');
    return *this;
}

} // namespace ampsim
