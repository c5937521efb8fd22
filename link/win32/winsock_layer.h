// The socket set-up steps of a station's endpoint over Winsock 1.1: one UDP socket that the
// owner then reads, writes and hands to WSAAsyncSelect through socket().
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <optional>
#include <string>

#include "link/socket_layer.h"

namespace vorlek {

// The message both programs have WSAAsyncSelect post to their window when a datagram can be read.
inline constexpr UINT kSocketMessage = 0x8001;

class WinsockLayer final : public SocketLayer {
public:
    WinsockLayer() = default;
    // Closes a socket that is still open; the endpoint normally closes it first.
    ~WinsockLayer() override;
    WinsockLayer(const WinsockLayer&) = delete;
    WinsockLayer& operator=(const WinsockLayer&) = delete;

    int Startup() override;
    bool OpenSocket() override;
    bool EnableBroadcast() override;
    bool EnableAddressReuse() override;
    bool MakeNonBlocking() override;
    bool IgnoreConnectionResets() override;
    std::optional<std::string> HostName() override;
    std::optional<std::string> FirstAddressText(const std::string& hostName) override;
    bool Bind(Ipv4 address, std::uint16_t port) override;
    int LastError() override;
    void CloseSocket() override;
    void SetAside() override;
    void DropSetAside() override;
    void RestoreSetAside() override;
    void Cleanup() override;

    // INVALID_SOCKET until OpenSocket succeeds and after CloseSocket.
    SOCKET socket() const { return socket_; }

private:
    bool SetSocketOption(int option);

    WSADATA winsockData_{};
    SOCKET socket_ = INVALID_SOCKET;
    SOCKET setAside_ = INVALID_SOCKET;
};

}  // namespace vorlek
