// endpoint: a station endpoint exactly as the programs build theirs (WinsockLayer, message
// boxes without owner, the host's first address at port 10001), then actions in order:
//   hello ADDR, status-request ADDR       a Hello or a StatusRequest to ADDR:10001
//   broadcast-status-request              a StatusRequest to 255.255.255.255:10001
//   send ADDR HEX, broadcast HEX          any bytes, given as hex digits
//   receive MS                            waits up to MS ms for one datagram
//   receive-into SIZE MS                  the same with a receive buffer of SIZE bytes
//   look-up ADDR, look-up-name NAME       the reverse and the forward name look-up
//   hold MS                               keeps the endpoint open for MS ms
// Output lines: "bound ADDR:PORT NAME", "sent ADDR:PORT HEX", "received ADDR:PORT HEX",
// "nothing received", "receive failed", "name ADDR NAME", "no name ADDR", "address NAME ADDR",
// "no address NAME", "not ready".
#include <windows.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/address.h"
#include "link/protocol.h"
#include "link/udp_endpoint.h"
#include "link/win32/message_boxes_win32.h"
#include "link/win32/winsock_layer.h"
#include "link/win32/winsock_network.h"
#include "tests/tools/probe/probe_commands.h"
#include "tests/tools/probe/probe_output.h"

namespace vorlek::probe {

namespace {

// The agent's receive buffer: every datagram of the system fits many times over.
constexpr std::size_t kReceiveBufferSize = 4096;

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        std::array<char, 3> digits{};
        std::snprintf(digits.data(), digits.size(), "%02x", byte);
        text += digits.data();
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> Bytes(std::wstring_view hex) {
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const auto value = Number(std::wstring(L"0x") + std::wstring(hex.substr(i, 2)));
        if (!value) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(*value));
    }
    return bytes;
}

std::string Text(const Peer& peer) {
    return FormatDotted(peer.address) + ":" + std::to_string(peer.port);
}

class EndpointSession {
public:
    EndpointSession(WinsockNetwork& network) : network_(network) {}

    // Runs the actions in order; the exit code is kFailed when any of them failed.
    int Run(Arguments args) {
        int result = kOk;
        while (!args.empty()) {
            const std::wstring& action = args[0];
            const std::size_t used = Perform(action, args.subspan(1));
            if (used == kBadAction) {
                PrintLine("bad action " + Utf8(action));
                return kUsage;
            }
            if (!succeeded_) {
                result = kFailed;
            }
            args = args.subspan(1 + used);
        }
        return result;
    }

private:
    static constexpr std::size_t kBadAction = static_cast<std::size_t>(-1);

    // Performs one action; returns how many arguments it took, or kBadAction.
    std::size_t Perform(const std::wstring& action, Arguments rest) {
        succeeded_ = true;
        const auto argument = [&](std::size_t i) -> std::string {
            return i < rest.size() ? Utf8(rest[i]) : std::string();
        };
        if (action == L"broadcast-status-request") {
            Send(kBroadcastAddress, BuildStatusRequest());
            return 0;
        }
        if (rest.empty()) {
            return kBadAction;
        }
        if (action == L"hello" || action == L"status-request") {
            const Ipv4 to = InetAddr(argument(0));
            if (action == L"hello") {
                Send(to, BuildHello());
            } else {
                Send(to, BuildStatusRequest());
            }
            return 1;
        }
        if (action == L"broadcast") {
            const auto bytes = Bytes(rest[0]);
            if (!bytes) {
                return kBadAction;
            }
            Send(kBroadcastAddress, *bytes);
            return 1;
        }
        if (action == L"send") {
            const auto bytes = rest.size() > 1 ? Bytes(rest[1]) : std::nullopt;
            if (!bytes) {
                return kBadAction;
            }
            Send(InetAddr(argument(0)), *bytes);
            return 2;
        }
        if (action == L"look-up") {
            const Ipv4 address = InetAddr(argument(0));
            if (const auto name = network_.LookUpAddress(address)) {
                PrintLine("name " + FormatDotted(address) + " " + *name);
            } else {
                PrintLine("no name " + FormatDotted(address));
                succeeded_ = false;
            }
            return 1;
        }
        if (action == L"look-up-name") {
            if (const auto address = network_.LookUpName(argument(0))) {
                PrintLine("address " + argument(0) + " " + FormatDotted(*address));
            } else {
                PrintLine("no address " + argument(0));
                succeeded_ = false;
            }
            return 1;
        }
        // The remaining actions take a number first.
        const auto number = Number(rest[0]);
        if (!number) {
            return kBadAction;
        }
        if (action == L"receive") {
            Receive(kReceiveBufferSize, std::chrono::milliseconds(*number));
            return 1;
        }
        if (action == L"receive-into") {
            const auto wait = rest.size() > 1 ? Number(rest[1]) : std::nullopt;
            if (!wait) {
                return kBadAction;
            }
            Receive(*number, std::chrono::milliseconds(*wait));
            return 2;
        }
        if (action == L"hold") {
            Sleep(*number);
            return 1;
        }
        return kBadAction;
    }

    void Send(Ipv4 to, std::span<const std::uint8_t> bytes) {
        const Peer peer{to, kStationPort};
        network_.SendTo(peer, bytes);
        PrintLine("sent " + Text(peer) + " " + Hex(bytes));
    }

    void Receive(std::size_t bufferSize, std::chrono::milliseconds timeout) {
        if (!network_.WaitReadable(timeout)) {
            PrintLine("nothing received");
            succeeded_ = false;
            return;
        }
        std::vector<std::uint8_t> buffer(bufferSize);
        const auto received = network_.ReceiveFrom(buffer);
        if (!received) {
            PrintLine("receive failed");
            succeeded_ = false;
            return;
        }
        PrintLine("received " + Text(received->from) + " " +
                  Hex(std::span(buffer).first(received->size)));
    }

    WinsockNetwork& network_;
    bool succeeded_ = true;
};

}  // namespace

int RunEndpoint(Arguments args) {
    WinsockLayer sockets;
    Win32MessageBoxes boxes;
    UdpEndpoint endpoint(sockets, boxes);
    if (endpoint.isReady() == 0) {
        PrintLine("not ready");
        return kFailed;
    }
    PrintLine("bound " + Text(*endpoint.getLocalAddress()) + " " + endpoint.hostName());
    WinsockNetwork network(sockets.socket());
    return EndpointSession(network).Run(args);
}

}  // namespace vorlek::probe
