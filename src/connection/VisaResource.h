#pragma once
// VISA resource strings, as instrument software, vendors' panels and scripts write them, read into
// the connection string the program keeps ("TCPIP0::10.0.0.5::5025::SOCKET" is "tcp:10.0.0.5:5025").
// The program's own strings stay the stored form; a VISA string is a way to write one. Case does
// not matter and board numbers may be left out, as VISA has it:
//   TCPIP[n]::host::port::SOCKET          a raw socket           tcp:host:port
//   TCPIP[n]::host[::instN]::INSTR        VXI-11 (inst0 unless   vxi11:host:instN
//                                         given)
//   TCPIP[n]::host::hislipN[,port]::INSTR HiSLIP                 hislip:host:hislipN[,port]
//   ASRL[n]::INSTR                        the nth serial port    com:COMn on Windows, com:<the nth
//                                                                port of the list> elsewhere
//   ASRL/dev/PATH::INSTR                  a serial device path   com:/dev/PATH
//   GPIB[n]::address::INSTR               a GPIB device          gpib:n,address:<driver>
// Plain C++; any thread.
#include <functional>
#include <string>

struct VisaContext {
    // The GPIB driver the operator chose (the dialog's, or the runner's --gpib-driver).
    std::string gpibDriver;
    // The port name of ASRLn (1 for the first); empty when there is none.
    std::function<std::string(int number)> serialPortOfNumber;
};

// Whether text is written as a VISA resource (it holds "::"), valid or not.
bool LooksLikeVisaResource(const std::string& text);

// The VISA resource of a LAN instrument's connection string ("vxi11:10.0.0.5:inst0" is
// "TCPIP::10.0.0.5::inst0::INSTR"); empty for the other kinds, which the dialog has controls for.
std::string VisaOfInstrument(const std::string& connection);

// The connection string a VISA resource stands for; false with error telling what was expected.
bool VisaToConnection(const std::string& text, const VisaContext& context, std::string& connection,
                      std::string& error);
