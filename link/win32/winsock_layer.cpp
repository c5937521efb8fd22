#include "link/win32/winsock_layer.h"

#include <mswsock.h>

#include <array>
#include <cstring>
#include <utility>

namespace vorlek {

namespace {

// Winsock 1.1, the version both programs ask for.
constexpr WORD kWinsockVersion = 0x0101;
// gethostname is asked for at most this many bytes of the host name.
constexpr int kHostNameLimit = 255;

}  // namespace

WinsockLayer::~WinsockLayer() {
    for (const SOCKET open : {socket_, setAside_}) {
        if (open != INVALID_SOCKET) {
            closesocket(open);
        }
    }
}

int WinsockLayer::Startup() {
    return WSAStartup(kWinsockVersion, &winsockData_);
}

bool WinsockLayer::OpenSocket() {
    socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    return socket_ != INVALID_SOCKET;
}

bool WinsockLayer::SetSocketOption(int option) {
    const int enabled = 1;
    return setsockopt(socket_, SOL_SOCKET, option, reinterpret_cast<const char*>(&enabled),
                      sizeof enabled) != SOCKET_ERROR;
}

bool WinsockLayer::EnableBroadcast() {
    return SetSocketOption(SO_BROADCAST);
}

bool WinsockLayer::EnableAddressReuse() {
    return SetSocketOption(SO_REUSEADDR);
}

bool WinsockLayer::MakeNonBlocking() {
    u_long nonBlocking = 1;
    return ioctlsocket(socket_, FIONBIO, &nonBlocking) != SOCKET_ERROR;
}

bool WinsockLayer::IgnoreConnectionResets() {
    BOOL reportResets = FALSE;
    DWORD returned = 0;
    return WSAIoctl(socket_, SIO_UDP_CONNRESET, &reportResets, sizeof reportResets, nullptr, 0,
                    &returned, nullptr, nullptr) != SOCKET_ERROR;
}

std::optional<std::string> WinsockLayer::HostName() {
    // One byte more than the limit, so the name is terminated whatever gethostname writes.
    std::array<char, kHostNameLimit + 1> name{};
    if (gethostname(name.data(), kHostNameLimit) == SOCKET_ERROR) {
        return std::nullopt;
    }
    return std::string(name.data());
}

std::optional<std::string> WinsockLayer::FirstAddressText(const std::string& hostName) {
    const hostent* entry = gethostbyname(hostName.c_str());
    // An entry without any IPv4 address has no first address to give.
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
        return std::nullopt;
    }
    in_addr first{};
    std::memcpy(&first, entry->h_addr_list[0], sizeof first);
    return std::string(inet_ntoa(first));
}

bool WinsockLayer::Bind(Ipv4 address, std::uint16_t port) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = address;
    return bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != SOCKET_ERROR;
}

int WinsockLayer::LastError() {
    return WSAGetLastError();
}

void WinsockLayer::CloseSocket() {
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

void WinsockLayer::SetAside() {
    setAside_ = std::exchange(socket_, INVALID_SOCKET);
}

void WinsockLayer::DropSetAside() {
    closesocket(setAside_);
    setAside_ = INVALID_SOCKET;
}

void WinsockLayer::RestoreSetAside() {
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
    }
    socket_ = std::exchange(setAside_, INVALID_SOCKET);
}

void WinsockLayer::Cleanup() {
    WSACleanup();
}

}  // namespace vorlek
