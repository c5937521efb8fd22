// A station's one UDP socket: broadcast-capable, address-reusable, non-blocking, bound to the
// host's first IPv4 address at port 10001. Every failure is shown in a box without owner and
// without caption; the owner checks isReady right after construction.
#pragma once

#include <cstdint>
#include <string>

#include "link/message_boxes.h"
#include "link/network.h"
#include "link/socket_layer.h"

namespace vorlek {

class UdpEndpoint {
public:
    UdpEndpoint(SocketLayer& sockets, MessageBoxes& boxes);
    ~UdpEndpoint();
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    // 1 when the socket is bound and usable, 0 when a fatal step failed.
    int isReady() const { return ready_; }
    // The address the socket is bound to; its address is the program's own address.
    const Peer* getLocalAddress() const { return &localAddress_; }
    const std::string& hostName() const { return hostName_; }
    const std::string& addressText() const { return addressText_; }

    // Closes the socket and ends the use of the socket layer; later calls do nothing.
    void Close();

    // When the host's first address is no longer the bound one (a network that came up after
    // the start, a new address from DHCP): a new socket, set up as at the start without any box,
    // bound to the new address in place of the old one. true when the endpoint has just been
    // bound anew; false when nothing changed or the new socket could not be bound, which the
    // next call tries again.
    bool FollowHostAddress();

private:
    // The socket and its options; a failure is shown in a box when there are boxes.
    bool OpenSocket(MessageBoxes* boxes);

    SocketLayer& sockets_;
    std::string hostName_;
    std::string addressText_;
    Peer localAddress_;
    int ready_ = 0;
    bool started_ = false;
    bool socketOpen_ = false;
};

}  // namespace vorlek
