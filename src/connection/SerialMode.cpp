#include "connection/SerialMode.h"

#include <cctype>
#include <sstream>

namespace {
std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool ParseOnOff(const std::string& value, std::optional<bool>& out) {
    if (value != "on" && value != "off") return false;
    out = value == "on";
    return true;
}

bool ParseLine(const std::string& value, bool toggleAllowed, std::optional<ModemLine>& out) {
    if (value == "on")
        out = ModemLine::On;
    else if (value == "off")
        out = ModemLine::Off;
    else if (value == "hs")
        out = ModemLine::Handshake;
    else if (value == "tg" && toggleAllowed)
        out = ModemLine::Toggle;
    else
        return false;
    return true;
}

bool ParseBaud(const std::string& value, std::optional<uint32_t>& out) {
    if (value.empty() || value.size() > 9) return false;
    uint32_t baud = 0;
    for (char c : value) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        baud = baud * 10 + static_cast<uint32_t>(c - '0');
    }
    if (baud == 0) return false;
    out = baud;
    return true;
}

bool ParseSetting(const std::string& key, const std::string& value, SerialMode& mode) {
    if (key == "baud") return ParseBaud(value, mode.Baud);
    if (key == "parity") {
        if (value.size() != 1 || std::string("neoms").find(value[0]) == std::string::npos) return false;
        mode.Parity = value[0];
        return true;
    }
    if (key == "data") {
        if (value.size() != 1 || value[0] < '5' || value[0] > '8') return false;
        mode.DataBits = value[0] - '0';
        return true;
    }
    if (key == "stop") {
        if (value == "1")
            mode.StopBitsTimes2 = 2;
        else if (value == "1.5")
            mode.StopBitsTimes2 = 3;
        else if (value == "2")
            mode.StopBitsTimes2 = 4;
        else
            return false;
        return true;
    }
    if (key == "xon") return ParseOnOff(value, mode.XonXoff);
    if (key == "to") return ParseOnOff(value, mode.Timeout);
    if (key == "octs") return ParseOnOff(value, mode.OutCts);
    if (key == "odsr") return ParseOnOff(value, mode.OutDsr);
    if (key == "idsr") return ParseOnOff(value, mode.InDsr);
    if (key == "dtr") return ParseLine(value, false, mode.Dtr);
    if (key == "rts") return ParseLine(value, true, mode.Rts);
    return false;
}
} // namespace

bool ParseSerialMode(const std::string& mode, SerialMode& out) {
    out = SerialMode{};
    std::istringstream words(Lower(mode));
    std::string word;
    std::string seen = " ";
    while (words >> word) {
        size_t equals = word.find('=');
        if (equals == std::string::npos || equals == 0) return false;
        std::string key = word.substr(0, equals);
        if (seen.find(" " + key + " ") != std::string::npos) return false;
        seen += key + " ";
        if (!ParseSetting(key, word.substr(equals + 1), out)) return false;
    }
    return true;
}
