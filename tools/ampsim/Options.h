#pragma once
// ampsim's command line.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ampsim {

struct TcpEndpoint {
    std::string host;
    std::uint16_t port = 0; // 0: the system picks a free port
};

struct Options {
    std::vector<TcpEndpoint> tcp; // listening endpoints; 127.0.0.1:2500 when no endpoint is given
    bool pty = false;
    std::optional<TcpEndpoint> vxi11;  // VXI-11's portmapper; the core channel gets a port of its own
    std::optional<TcpEndpoint> hislip; // HiSLIP's one port for both channels
    unsigned delayMs = 0;              // each reply waits this long after its command arrived
    unsigned busyEvery = 0;            // every Nth command is refused with ERROR_AMP_BUSY; 0 = never
    unsigned closeAfter = 0;           // a connection is cut mid-line after this many commands; 0 = never
    std::string eol = "\r\n";          // ends each reply line: --eol crlf (the default), cr or lf
    std::string prompt;                // sent without a line end after each reply; empty: none
    std::optional<unsigned> convSilentPoint;    // conversion-table point index left unanswered
    std::optional<unsigned> convMalformedPoint; // conversion-table point index answered malformed
    std::optional<unsigned> convDoublePoint;    // its download is answered twice, 50 ms apart
    std::optional<unsigned> convLatePoint;      // its download is answered convLateMs late
    unsigned convLateMs = 1050;
    bool meter = false; // answer as the power meter (MeterModel) instead of the amplifier
    bool exitOnStdinEof = false;
    std::string serial = "AS000001";
    std::string discovery;       // answer discovery hellos on this local address; empty: not at all
    bool broadcastReply = false; // answer them by broadcast instead of to the sender
    std::string portmapperUdp;   // answer GETPORT over UDP port 111 from this address; empty: not at all
    bool garbledGetport = false; // answer it with a reply cut short
    unsigned amps = 1;           // simulated amplifiers answering them (1 to 1000)
    unsigned firstAmp = 1;       // the number of the first (MAC, IP and name follow from it)
    bool help = false;
    bool version = false; // --version: print "ampsim 0.9.0" and exit (--help wins)
};

// Parses argv. Fails with a message for unknown options, missing or malformed values.
std::optional<Options> ParseOptions(int argc, char** argv, std::string& error);

std::string HelpText();

} // namespace ampsim
