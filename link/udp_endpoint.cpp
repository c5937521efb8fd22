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
    if (!sockets_.OpenSocket()) {
        ShowError(boxes, "socket()", sockets_.LastError());
        return;
    }
    socketOpen_ = true;
    // The three options only warn: the socket is still usable without them.
    if (!sockets_.EnableBroadcast()) {
        ShowError(boxes, "setsockopt()", sockets_.LastError());
    }
    if (!sockets_.EnableAddressReuse()) {
        ShowError(boxes, "setsockopt()", sockets_.LastError());
    }
    if (!sockets_.MakeNonBlocking()) {
        ShowError(boxes, "ioctlsocket()", sockets_.LastError());
    }
    // Without it the socket still works, only less well: nothing to tell anyone.
    sockets_.IgnoreConnectionResets();
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
