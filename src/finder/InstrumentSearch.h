#pragma once
// One way of finding instruments on the LAN (the amplifiers' hello, a VXI-11 broadcast, an mDNS
// service type, a typed address) and the row each finding becomes in the finder's one list.
//
// Threads: a search may find on threads of its own; it calls its sink from any of them, so a sink
// must be safe to call from several threads at once. Start, Stop and the destructor run on the
// thread that owns the search (the finder's UI thread).
#include <string>

// One instrument as a search found it.
struct FoundInstrument {
    // What the instrument calls itself: its *IDN? answer, the hello's name or the LXI
    // identification; empty while unknown (the row then shows the address).
    std::string name;
    // The address to connect to (an IPv4 address in dotted form, or a host name).
    std::string address;
    // How it was found, as the list shows it: "hello", "VXI-11", "mDNS _scpi-raw._tcp", "manual".
    std::string how;
    // The connection it would open, as a VISA resource ("TCPIP::10.0.0.5::5025::SOCKET").
    std::string visa;
    // The row's identity: a second finding with the same key refreshes the row instead of adding one.
    std::string key;
};

// Where a search hands what it finds. Callable from any thread.
class InstrumentSink {
public:
    virtual ~InstrumentSink() = default;
    // A new finding, or a known one with more to say (its name, say).
    virtual void Found(const FoundInstrument& instrument) = 0;
    // A quiet line for the finder's status ("no mDNS daemon runs here"); never an error box.
    virtual void Note(const std::string& text) = 0;
};

class InstrumentSearch {
public:
    virtual ~InstrumentSearch() = default;
    // Starts searching from the local interface address (dotted IPv4; the interface the operator
    // chose). Findings and notes go to sink, which outlives the search. A search that cannot start
    // says why through sink.Note and returns false.
    virtual bool Start(const std::string& localAddress, InstrumentSink& sink) = 0;
    // Ends the search: no call to the sink follows once Stop has returned.
    virtual void Stop() = 0;
};
