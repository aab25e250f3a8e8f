#pragma once
// Every kind of connection string the program knows, in one table: which transport TIO opens for
// it, how the console tries it again after a drop, where the open-connection dialog shows it, and
// how the receive thread opens it. A connection string is read once, where it enters, into a
// ConnectionTarget; code further down asks the target's kind instead of comparing the kind's text.
#include <memory>
#include <span>
#include <string>
#include <string_view>

class TConnection;

// How a dropped link is tried again.
enum class ReconnectWay {
    None,       //!< not at all (GPIB, a listening port: they do not drop that way)
    AfterPause, //!< after a pause that grows with each attempt (TCP)
    WhenDevice, //!< when the device node is there again (serial)
};

// Which radio button of the open-connection dialog shows a kind. None: the dialog does not offer
// it, and the console does not open it (a kind of the receive thread only). The operator cannot
// uncheck every button; None as the dialog's state only arises when code sets it so.
// Instrument: a LAN instrument reached by VXI-11 or HiSLIP, which the dialog takes as a VISA
// resource rather than in a group of its own.
enum class ConGroup { None, Tcp, TcpSrv, Serial, Gpib, Instrument };

// How TRecvThread opens a kind; None: it opens nothing.
enum class RecvKind { None, Serial, TcpClient, TcpServer, Udp };

struct ConnectionKind {
    std::string_view Name;        //!< as written before the first ':'; compared exactly
    ConGroup Group;               //!< the dialog's group; None outside the console's kinds
    std::string_view DisplayName; //!< the group's name for the operator ("Serial", "LAN", "GPIB")
    //! The transport TIO opens; none for a kind TIO does not carry (GPIB has its driver binding).
    std::unique_ptr<TConnection> (*MakeTransport)();
    ReconnectWay Reconnect;
    RecvKind Recv;
};

// The whole table, console kinds first in the order the operator's messages list them.
std::span<const ConnectionKind> ConnectionKinds();
// The row named name; none for a name no reader knows.
const ConnectionKind* FindConnectionKind(std::string_view name);
// The console kind the dialog's group builds; none for ConGroup::None.
const ConnectionKind* ConnectionKindOf(ConGroup group);

// A connection string read once: its kind's row (none when unknown), the kind as written, the
// parameter part after the first ':', and the whole text as given.
struct ConnectionTarget {
    const ConnectionKind* Kind = nullptr;
    std::string KindName;
    std::string Params;
    std::string Text;

    bool IsConsoleKind() const { return Kind && Kind->Group != ConGroup::None; }
};

ConnectionTarget ParseConnection(const std::string& connection);

// Why the console cannot open target: "'bogus' is not a kind of connection (com, tcp, tcpsrv, gpib, vxi11,
// hislip)".
std::string NotAConnectionKindText(const ConnectionTarget& target);
