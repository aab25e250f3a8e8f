#include "finder/DiscoverySocket.h"

DiscoverySocket::~DiscoverySocket() {
    Close();
}

std::vector<int> DiscoverySocket::Descriptors() const {
    std::vector<int> open;
    for (int fd : {unicast_, broadcast_})
        if (fd >= 0) open.push_back(fd);
    return open;
}

bool DiscoverySocket::Keep(int fd, uint32_t sender, int senderPort, int arrivalInterface) const {
    if (sender == local_ && senderPort == port_) return false; // our own hello, looped back
    return fd == unicast_ || arrivalInterface == interface_;
}
