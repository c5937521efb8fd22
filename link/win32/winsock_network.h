// Datagrams and name look-ups over Winsock, on a socket that a WinsockLayer opened and bound.
#pragma once

#include <winsock2.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "link/network.h"

namespace vorlek {

class WinsockNetwork final : public Network, public NameService {
public:
    // The socket stays the caller's: it is neither closed nor changed here.
    explicit WinsockNetwork(SOCKET socket) : socket_(socket) {}
    // The socket that took the place of the first one, when the endpoint was bound anew.
    void SetSocket(SOCKET socket) { socket_ = socket; }

    void SendTo(Peer to, std::span<const std::uint8_t> bytes) override;
    std::optional<Received> ReceiveFrom(std::span<std::uint8_t> buffer) override;
    bool WaitReadable(std::chrono::milliseconds timeout) override;
    void Pause(std::chrono::milliseconds duration) override;

    std::optional<Ipv4> LookUpName(const std::string& name) override;
    std::optional<std::string> LookUpAddress(Ipv4 address) override;

private:
    SOCKET socket_;
};

// The official name of the reverse look-up of an address, or nullopt; any thread may call it.
std::optional<std::string> LookUpAddressName(Ipv4 address);

}  // namespace vorlek
