#pragma once
// A connection string is a kind, ":" and a parameter part ("tcp:192.168.1.253:2500",
// "com:ttyUSB0:baud=19200 parity=E data=8 stop=1", "tcpsrv::2500", "gpib:0,7:Agilent").
// Kinds compare exactly; a string without ":" is all kind. The parameter part splits again at its
// first ":", so only its last field may itself hold ":".
#include <string>

struct ConnectionParts {
    std::string Kind;
    std::string Params;
};

ConnectionParts SplitConnectionString(const std::string& connection);

// Where a "gpib" string points: "0,7:Agilent" is adapter 0, address 7, driver "Agilent".
struct GpibTarget {
    int Adapter = 0;
    int Address = 7;
    std::string Driver;
};

inline constexpr int GpibPositionMin = 0;
inline constexpr int GpibPositionMax = 31;

// Reads a "gpib" parameter part. A number that is not an integer gives the default (adapter 0,
// address 7); one outside 0 to 31 is clamped, as the dialog's up-down controls would.
GpibTarget ParseGpibParams(const std::string& params);

// Where a "vxi11" or "hislip" string points: "10.0.0.5:inst0" is host 10.0.0.5, device inst0;
// a port after the device ("hislip0,4880", "inst0,5111": the portmapper's) replaces the
// protocol's own. A missing device is the protocol's first.
struct InstrumentParams {
    std::string Host;
    std::string Device;
    int Port = 0; //!< 0: the protocol's own
};
InstrumentParams ParseInstrumentParams(const std::string& params);

// Splits a "com" parameter part into the port name and the mode at its first ':', as always
// ("ttyUSB0:baud=9600 parity=N"). A path (leading '/') may hold colons itself, as the stable names
// under /dev/serial/by-path do: its mode starts after the last ':' before the first setting ('='),
// and without a setting the path is whole, less the ':' of an empty mode.
void SplitSerialParams(const std::string& params, std::string& name, std::string& mode);
