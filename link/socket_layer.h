// The socket calls that set up a station's UDP endpoint, one method per step, so that the
// set-up and its failure messages run the same on Windows and in tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/address.h"

namespace vorlek {

class SocketLayer {
public:
    virtual ~SocketLayer() = default;
    // WSAStartup for version 1.1; 0 on success.
    virtual int Startup() = 0;
    // socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP); false when INVALID_SOCKET.
    virtual bool OpenSocket() = 0;
    // setsockopt SO_BROADCAST, SO_REUSEADDR and ioctlsocket FIONBIO, each with the value 1.
    virtual bool EnableBroadcast() = 0;
    virtual bool EnableAddressReuse() = 0;
    virtual bool MakeNonBlocking() = 0;
    // WSAIoctl SIO_UDP_CONNRESET with FALSE: a port-unreachable answer to an earlier send (a host
    // that is up without an agent) no longer makes the next receive fail. False where the system
    // does not know the request; the socket then keeps reporting such answers.
    virtual bool IgnoreConnectionResets() = 0;
    // gethostname with a limit of 255 bytes; nullopt on SOCKET_ERROR.
    virtual std::optional<std::string> HostName() = 0;
    // gethostbyname, then inet_ntoa of its first address; nullopt when the look-up fails.
    virtual std::optional<std::string> FirstAddressText(const std::string& hostName) = 0;
    // bind to address:port (network-order address, host-order port); false on SOCKET_ERROR.
    virtual bool Bind(Ipv4 address, std::uint16_t port) = 0;
    // WSAGetLastError.
    virtual int LastError() = 0;
    virtual void CloseSocket() = 0;
    // Keeps the open socket aside, still open, so that the next OpenSocket makes a second one:
    // the one set aside then either goes (DropSetAside) or takes the new one's place
    // (RestoreSetAside, which closes the new one).
    virtual void SetAside() = 0;
    virtual void DropSetAside() = 0;
    virtual void RestoreSetAside() = 0;
    // WSACleanup.
    virtual void Cleanup() = 0;
};

}  // namespace vorlek
