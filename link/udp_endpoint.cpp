#include "link/udp_endpoint.h"

#include <string>

#include "link/protocol.h"

namespace vorlek {

namespace {

void ShowError(MessageBoxes& boxes, const char* call, int code) {
    boxes.Show(std::string(call) + " returned error " + std::to_string(code), std::nullopt,
               BoxIcon::None);
}

}  // namespace

UdpEndpoint::UdpEndpoint(SocketLayer& sockets, MessageBoxes& boxes) : sockets_(sockets) {
    if (sockets_.Startup() != 0) {
        boxes.Show("WSAStartup() returned error", std::nullopt, BoxIcon::None);
        return;
    }
    started_ = true;
    if (!OpenSocket(&boxes)) {
        return;
    }
    const auto name = sockets_.HostName();
    if (!name) {
        ShowError(boxes, "gethostname()", sockets_.LastError());
        sockets_.CloseSocket();
        socketOpen_ = false;
        return;
    }
    hostName_ = *name;
    if (const auto text = sockets_.FirstAddressText(hostName_)) {
        addressText_ = *text;
    } else {
        ShowError(boxes, "gethostbyname()", sockets_.LastError());
    }
    localAddress_ = Peer{InetAddr(addressText_), kStationPort};
    if (!sockets_.Bind(localAddress_.address, localAddress_.port)) {
        ShowError(boxes, "bind()", sockets_.LastError());
        sockets_.CloseSocket();
        socketOpen_ = false;
        return;
    }
    ready_ = 1;
}

bool UdpEndpoint::OpenSocket(MessageBoxes* boxes) {
    const auto warn = [&](const char* call) {
        if (boxes != nullptr) {
            ShowError(*boxes, call, sockets_.LastError());
        }
    };
    if (!sockets_.OpenSocket()) {
        warn("socket()");
        return false;
    }
    socketOpen_ = true;
    // The three options only warn: the socket is still usable without them.
    if (!sockets_.EnableBroadcast()) {
        warn("setsockopt()");
    }
    if (!sockets_.EnableAddressReuse()) {
        warn("setsockopt()");
    }
    if (!sockets_.MakeNonBlocking()) {
        warn("ioctlsocket()");
    }
    // Without it the socket still works, only less well: nothing to tell anyone.
    sockets_.IgnoreConnectionResets();
    return true;
}

bool UdpEndpoint::FollowHostAddress() {
    if (ready_ == 0) {
        return false;
    }
    const auto text = sockets_.FirstAddressText(hostName_);
    if (!text) {
        return false;
    }
    const Ipv4 address = InetAddr(*text);
    if (socketOpen_ && address == localAddress_.address) {
        return false;
    }
    // One socket at a time: the old one goes first. Where the new one cannot be bound yet, the
    // next call tries again.
    if (socketOpen_) {
        sockets_.CloseSocket();
        socketOpen_ = false;
    }
    if (!OpenSocket(nullptr)) {
        return false;
    }
    if (!sockets_.Bind(address, kStationPort)) {
        sockets_.CloseSocket();
        socketOpen_ = false;
        return false;
    }
    addressText_ = *text;
    localAddress_ = Peer{address, kStationPort};
    return true;
}

UdpEndpoint::~UdpEndpoint() {
    Close();
}

void UdpEndpoint::Close() {
    if (socketOpen_) {
        sockets_.CloseSocket();
        socketOpen_ = false;
    }
    if (started_) {
        sockets_.Cleanup();
        started_ = false;
    }
    ready_ = 0;
}

}  // namespace vorlek
