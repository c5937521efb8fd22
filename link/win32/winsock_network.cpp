#include "link/win32/winsock_network.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>

namespace vorlek {

namespace {

// Winsock lengths are ints; a span longer than that is used only up to INT_MAX bytes.
int WinsockLength(std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

}  // namespace

void WinsockNetwork::SendTo(Peer to, std::span<const std::uint8_t> bytes) {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(to.port);
    destination.sin_addr.s_addr = to.address;
    sendto(socket_, reinterpret_cast<const char*>(bytes.data()), WinsockLength(bytes.size()), 0,
           reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}

std::optional<Received> WinsockNetwork::ReceiveFrom(std::span<std::uint8_t> buffer) {
    sockaddr_in sender{};
    int senderLength = sizeof sender;
    // WSAEWOULDBLOCK when nothing waits, WSAEMSGSIZE when the datagram did not fit (Winsock has
    // then discarded the rest of it): both are a receive that gave nothing usable.
    const int size =
        recvfrom(socket_, reinterpret_cast<char*>(buffer.data()), WinsockLength(buffer.size()), 0,
                 reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (size < 0) {  // SOCKET_ERROR
        return std::nullopt;
    }
    return Received{static_cast<std::size_t>(size),
                    Peer{sender.sin_addr.s_addr, ntohs(sender.sin_port)}};
}

bool WinsockNetwork::WaitReadable(std::chrono::milliseconds timeout) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    const auto millis = std::max<std::chrono::milliseconds::rep>(timeout.count(), 0);
    timeval limit{};
    limit.tv_sec = static_cast<long>(millis / 1000);
    limit.tv_usec = static_cast<long>((millis % 1000) * 1000);
    return select(0, &readable, nullptr, nullptr, &limit) > 0;
}

void WinsockNetwork::Pause(std::chrono::milliseconds duration) {
    Sleep(static_cast<DWORD>(std::max<std::chrono::milliseconds::rep>(duration.count(), 0)));
}

std::optional<Ipv4> WinsockNetwork::LookUpName(const std::string& name) {
    const hostent* entry = gethostbyname(name.c_str());
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
        return std::nullopt;
    }
    Ipv4 address = 0;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return address;
}

std::optional<std::string> WinsockNetwork::LookUpAddress(Ipv4 address) {
    return LookUpAddressName(address);
}

std::optional<std::string> LookUpAddressName(Ipv4 address) {
    // Winsock keeps the entry per thread, so threads may look up at the same time.
    const hostent* entry =
        gethostbyaddr(reinterpret_cast<const char*>(&address), sizeof address, AF_INET);
    if (entry == nullptr || entry->h_name == nullptr || entry->h_name[0] == '\0') {
        return std::nullopt;
    }
    return std::string(entry->h_name);
}

}  // namespace vorlek
