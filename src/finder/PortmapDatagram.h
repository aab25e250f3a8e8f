#pragma once
// The portmapper's GETPORT as a VXI-11 instrument is found on the LAN: one ONC RPC call in one UDP
// datagram (no record marking over UDP) to port 111, broadcast to a subnet or sent to one host,
// asking for the port of DEVICE_CORE (program 0x0607AF) version 1 over TCP. Every answering
// portmapper replies with one datagram to the sender; a nonzero port means a VXI-11 instrument
// listens there. Plain C++; any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The call datagram with transaction id xid.
std::string GetPortDatagram(uint32_t xid);

// The core channel's port from a datagram that came back: none unless it is an accepted,
// successful RPC reply to xid whose result is a port from 1 to 65535. The datagram comes from
// anyone on the network: it is read with bounds checks and nothing past its end.
std::optional<uint16_t> ReadGetPortReply(std::string_view datagram, uint32_t xid);
