// Feeds arbitrary datagrams to the reader of GETPORT replies that answer the VXI-11 broadcast: it
// never reads past the datagram (the bytes are a copy of exactly its size) and gives only a port
// from 1 to 65535. The transaction id is taken from the datagram's own first bytes, so well-formed
// replies to our call are reached too.
#include "finder/PortmapDatagram.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<char[]> bytes(new char[size]);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(data[i]);
    uint32_t xid = 0;
    for (size_t i = 0; i < 4 && i < size; ++i)
        xid = xid << 8 | data[i];
    const std::optional<uint16_t> port = ReadGetPortReply({bytes.get(), size}, xid);
    if (port && *port == 0) std::abort();
    if (port && size < 28) std::abort(); // header (24) and a port (4) at the least
    return 0;
}
