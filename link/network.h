// The station link's view of the network: one bound UDP socket and the name service.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "link/address.h"

namespace vorlek {

struct Peer {
    Ipv4 address = 0;        // network byte order
    std::uint16_t port = 0;  // host byte order
};

struct Received {
    std::size_t size = 0;
    Peer from;
};

class Network {
public:
    virtual ~Network() = default;
    // One datagram; failures are the caller's to ignore, so nothing is returned.
    virtual void SendTo(Peer to, std::span<const std::uint8_t> bytes) = 0;
    // Takes one datagram without waiting. nullopt when the receive fails: nothing waiting, or a
    // datagram longer than the buffer (which is then discarded).
    virtual std::optional<Received> ReceiveFrom(std::span<std::uint8_t> buffer) = 0;
    // Waits up to the given time for a datagram to become readable; true when one is.
    virtual bool WaitReadable(std::chrono::milliseconds timeout) = 0;
    // Waits the given time whatever arrives; datagrams meanwhile wait in the socket's buffer.
    virtual void Pause(std::chrono::milliseconds duration) = 0;
};

class NameService {
public:
    virtual ~NameService() = default;
    // The first address of the forward look-up of a host name, or nullopt.
    virtual std::optional<Ipv4> LookUpName(const std::string& name) = 0;
    // The official name of the reverse look-up of an address, or nullopt.
    virtual std::optional<std::string> LookUpAddress(Ipv4 address) = 0;
};

}  // namespace vorlek
