#pragma once
// The modem lines of a serial port: the four it reads (CTS, DSR, DCD, RI) and the two it drives
// (DTR, RTS), and the texts the console shows of them. No system calls here: the port's own
// ioctls live in TSerialConnection.
#include <string>
#include <vector>

struct ModemLines {
    bool cts = false;
    bool dsr = false;
    bool dcd = false;
    bool ri = false;
    bool dtr = false;
    bool rts = false;
};

// "CTS 1  DSR 0  DCD 1  RI 0": the inputs, for a status area.
std::string ModemInputsText(const ModemLines& lines);
// What changed among the inputs from before to now, one status line each ("CTS on", "RI off"),
// in the order CTS, DSR, DCD, RI.
std::vector<std::string> ModemInputChanges(const ModemLines& before, const ModemLines& now);
