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
