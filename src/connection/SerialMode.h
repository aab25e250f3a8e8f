#pragma once
// Serial mode strings: blank-separated key=value settings such as
// "baud=19200 parity=E data=8 stop=1 rts=off dtr=on". Keys and values are case-insensitive.
// Keys: baud, parity (n e o m s), data (5..8), stop (1 1.5 2), xon (on off), to (on off),
// odsr / octs / idsr (on off), dtr (on off hs), rts (on off hs tg). A setting not named keeps the
// port's current value.
#include <cstdint>
#include <optional>
#include <string>

enum class ModemLine { Off, On, Handshake, Toggle };

struct SerialMode {
    std::optional<uint32_t> Baud;
    std::optional<char> Parity; // 'n', 'e', 'o', 'm', 's'
    std::optional<int> DataBits;
    std::optional<int> StopBitsTimes2; // 2, 3 or 4 for 1, 1.5 and 2 stop bits
    std::optional<bool> XonXoff;
    std::optional<bool> OutCts;
    std::optional<bool> OutDsr;
    std::optional<bool> InDsr;
    std::optional<bool> Timeout;
    std::optional<ModemLine> Dtr;
    std::optional<ModemLine> Rts;
};

// Parses mode into out. False for an unknown key, a value the key does not take, a repeated key
// or a text that is not key=value; out is then unspecified.
bool ParseSerialMode(const std::string& mode, SerialMode& out);
