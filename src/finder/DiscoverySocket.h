#pragma once
// The finder's end of the discovery protocol on UDP port 8001: it broadcasts the hello and reads
// the answers. Amplifiers answer either to the hello's sender or by broadcast, and on Linux a
// socket bound to one unicast address never receives a datagram sent to 255.255.255.255. So two
// sockets share the port: one bound to the chosen local address, which sends the hello (it leaves
// from that address, on its interface) and receives the answers sent to it, and one bound to all
// addresses for the broadcast answers, of which only those that arrived on the chosen address's
// interface are kept: the others come from other networks of this host. (Windows hands broadcasts
// to the socket of the interface's address: there the first socket is the only one.)
//
// Threads: none of its own; one thread uses an instance. Nothing here blocks: the owner reads when
// a descriptor is readable.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class DiscoverySocket {
public:
    static constexpr int MaxDatagram = 1599; // a longer datagram is cut to this length

    DiscoverySocket() = default;
    ~DiscoverySocket();
    DiscoverySocket(const DiscoverySocket&) = delete;
    DiscoverySocket& operator=(const DiscoverySocket&) = delete;

    // Binds both sockets to port (address reuse and broadcast on). False, with nothing open, when
    // address is no IPv4 address of this host's interfaces or a bind fails.
    bool Open(const std::string& localAddress, int port);
    void Close();
    bool IsOpen() const { return unicast_ >= 0; }
    // The descriptors to watch for reading; none while closed.
    std::vector<int> Descriptors() const;

    // Sends data to 255.255.255.255 on the port, from the local address. The bytes sent; 0 when
    // closed or the send failed.
    int Broadcast(const void* data, size_t length);

    // Reads at most maxCount datagrams waiting on fd (one of Descriptors) and calls onData with the
    // text of each one the finder should see: not its own hello and, on the socket of all
    // addresses, one that arrived on the chosen interface. Returns the number read, kept or not.
    using DataHandler = std::function<void(const std::string& text)>;
    size_t ReadWaiting(int fd, size_t maxCount, const DataHandler& onData);

private:
    bool Keep(int fd, uint32_t sender, int senderPort, int arrivalInterface) const;

    int unicast_ = -1;   //!< Bound to the chosen address: sends the hello, gets the answers sent to it.
    int broadcast_ = -1; //!< Bound to all addresses: gets the broadcast answers.
    uint32_t local_ = 0; //!< The chosen address, network byte order.
    int interface_ = 0;  //!< Index of the interface that holds it.
    int port_ = 0;
};
