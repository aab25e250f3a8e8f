#include "connection/ConnectionKinds.h"

#include "connection/ConnectionString.h"
#include "connection/SerialConnection.h"
#include "connection/TcpConnection.h"

#include <algorithm>
#include <array>

namespace {
template <class Transport> std::unique_ptr<TConnection> Make() {
    return std::make_unique<Transport>();
}

using Group = ConGroup;
using Way = ReconnectWay;
using Recv = RecvKind;

// The receive thread's words are its own: it knows "serial", "server" and "udp", not "tcpsrv".
constexpr std::array<ConnectionKind, 12> Kinds{{
    {"com", Group::Serial, "Serial", Make<TSerialConnection>, Way::WhenDevice, Recv::Serial},
    {"tcp", Group::Tcp, "LAN", Make<TTcpClientConnection>, Way::AfterPause, Recv::TcpClient},
    {"tcpsrv", Group::TcpSrv, "LAN", Make<TTcpServerConnection>, Way::None, Recv::None},
    {"gpib", Group::Gpib, "GPIB", nullptr, Way::None, Recv::None},
    {"vxi11", Group::Instrument, "LAN instrument", nullptr, Way::None, Recv::None},
    {"hislip", Group::Instrument, "LAN instrument", nullptr, Way::None, Recv::None},
    {"serial", Group::None, "", nullptr, Way::None, Recv::Serial},
    {"tcpclient", Group::None, "", nullptr, Way::None, Recv::TcpClient},
    {"server", Group::None, "", nullptr, Way::None, Recv::TcpServer},
    {"tcpserver", Group::None, "", nullptr, Way::None, Recv::TcpServer},
    {"udp", Group::None, "", nullptr, Way::None, Recv::Udp},
    {"udpclient", Group::None, "", nullptr, Way::None, Recv::Udp},
}};
} // namespace

std::span<const ConnectionKind> ConnectionKinds() {
    return Kinds;
}

const ConnectionKind* FindConnectionKind(std::string_view name) {
    auto found = std::ranges::find(Kinds, name, &ConnectionKind::Name);
    return found == Kinds.end() ? nullptr : &*found;
}

const ConnectionKind* ConnectionKindOf(ConGroup group) {
    if (group == Group::None) return nullptr;
    auto found = std::ranges::find(Kinds, group, &ConnectionKind::Group);
    return found == Kinds.end() ? nullptr : &*found;
}

ConnectionTarget ParseConnection(const std::string& connection) {
    ConnectionParts parts = SplitConnectionString(connection);
    return {FindConnectionKind(parts.Kind), std::move(parts.Kind), std::move(parts.Params), connection};
}

std::string NotAConnectionKindText(const ConnectionTarget& target) {
    std::string known;
    for (const ConnectionKind& kind : Kinds) {
        if (kind.Group == Group::None) continue;
        known += (known.empty() ? "" : ", ") + std::string(kind.Name);
    }
    return "'" + target.KindName + "' is not a kind of connection (" + known + ")";
}
