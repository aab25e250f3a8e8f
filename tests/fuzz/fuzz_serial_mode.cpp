// Serial mode strings on arbitrary text: no crash; an accepted mode holds only values the port
// settings take; keys and values are case-insensitive; and a mode written back from what was
// read reads the same again.
#include "connection/SerialMode.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
void Check(bool condition) {
    if (!condition) std::abort();
}

bool Same(const SerialMode& a, const SerialMode& b) {
    return a.Baud == b.Baud && a.Parity == b.Parity && a.DataBits == b.DataBits &&
           a.StopBitsTimes2 == b.StopBitsTimes2 && a.XonXoff == b.XonXoff && a.OutCts == b.OutCts &&
           a.OutDsr == b.OutDsr && a.InDsr == b.InDsr && a.Timeout == b.Timeout && a.Dtr == b.Dtr &&
           a.Rts == b.Rts;
}

void CheckRanges(const SerialMode& mode) {
    Check(!mode.Baud || *mode.Baud > 0);
    Check(!mode.Parity || std::string("neoms").find(*mode.Parity) != std::string::npos);
    Check(!mode.DataBits || (*mode.DataBits >= 5 && *mode.DataBits <= 8));
    Check(!mode.StopBitsTimes2 || (*mode.StopBitsTimes2 >= 2 && *mode.StopBitsTimes2 <= 4));
    Check(mode.Dtr != ModemLine::Toggle);
}

std::string OnOff(bool on) {
    return on ? "on" : "off";
}

std::string Line(ModemLine line) {
    switch (line) {
    case ModemLine::Off:
        return "off";
    case ModemLine::On:
        return "on";
    case ModemLine::Handshake:
        return "hs";
    case ModemLine::Toggle:
        return "tg";
    }
    return "?";
}

// The mode as a string, one key for each setting that was given.
std::string Written(const SerialMode& m) {
    std::string text;
    auto add = [&](const std::string& key, const std::string& value) { text += key + "=" + value + " "; };
    if (m.Baud) add("baud", std::to_string(*m.Baud));
    if (m.Parity) add("parity", std::string(1, *m.Parity));
    if (m.DataBits) add("data", std::to_string(*m.DataBits));
    if (m.StopBitsTimes2) add("stop", *m.StopBitsTimes2 == 2 ? "1" : *m.StopBitsTimes2 == 3 ? "1.5" : "2");
    if (m.XonXoff) add("xon", OnOff(*m.XonXoff));
    if (m.Timeout) add("to", OnOff(*m.Timeout));
    if (m.OutCts) add("octs", OnOff(*m.OutCts));
    if (m.OutDsr) add("odsr", OnOff(*m.OutDsr));
    if (m.InDsr) add("idsr", OnOff(*m.InDsr));
    if (m.Dtr) add("dtr", Line(*m.Dtr));
    if (m.Rts) add("rts", Line(*m.Rts));
    return text;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    SerialMode mode;
    const bool accepted = ParseSerialMode(text, mode);

    std::string upper = text;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    SerialMode shouted;
    Check(ParseSerialMode(upper, shouted) == accepted);
    if (!accepted) return 0;
    Check(Same(mode, shouted));
    CheckRanges(mode);

    SerialMode again;
    Check(ParseSerialMode(Written(mode), again));
    Check(Same(mode, again));
    return 0;
}
