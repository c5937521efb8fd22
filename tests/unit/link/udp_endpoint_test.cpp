#include "link/udp_endpoint.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorlek {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records every call of the endpoint's set-up in order; each step can be made to fail.
class FakeSockets : public SocketLayer {
public:
    std::vector<std::string> calls;
    int startupResult = 0;
    bool socketFails = false, broadcastFails = false, reuseFails = false, nonBlockingFails = false;
    bool hostNameFails = false, lookupFails = false, bindFails = false, resetsStay = false;
    int error = 10000;
    std::string firstAddress = "198.51.100.11";
    Ipv4 boundAddress = 0;
    std::uint16_t boundPort = 0;

    int Startup() override { return Call("startup"), startupResult; }
    bool OpenSocket() override { return Call("socket"), !socketFails; }
    bool EnableBroadcast() override { return Call("broadcast"), !broadcastFails; }
    bool EnableAddressReuse() override { return Call("reuse"), !reuseFails; }
    bool MakeNonBlocking() override { return Call("nonblocking"), !nonBlockingFails; }
    bool IgnoreConnectionResets() override { return Call("no resets"), !resetsStay; }
    std::optional<std::string> HostName() override {
        Call("gethostname");
        return hostNameFails ? std::nullopt : std::optional<std::string>("vlhost1");
    }
    std::optional<std::string> FirstAddressText(const std::string& name) override {
        Call("gethostbyname " + name);
        return lookupFails ? std::nullopt : std::optional<std::string>(firstAddress);
    }
    bool Bind(Ipv4 address, std::uint16_t port) override {
        Call("bind " + FormatDotted(address) + ":" + std::to_string(port));
        boundAddress = address;
        boundPort = port;
        return !bindFails;
    }
    int LastError() override { return ++error; }
    void CloseSocket() override { Call("close"); }
    void Cleanup() override { Call("cleanup"); }

private:
    void Call(std::string name) { calls.push_back(std::move(name)); }
};

class FakeBoxes : public MessageBoxes {
public:
    std::vector<std::string> shown;
    void Show(std::string_view text, std::optional<std::string_view> caption,
              BoxIcon icon) override {
        // Every endpoint box has no caption and no icon.
        EXPECT_FALSE(caption.has_value());
        EXPECT_EQ(icon, BoxIcon::None);
        shown.emplace_back(text);
    }
};

TEST(UdpEndpoint, BindsTheFirstAddressOfItsOwnNameAtTheStationPort) {
    FakeSockets sockets;
    FakeBoxes boxes;
    {
        UdpEndpoint endpoint(sockets, boxes);
        EXPECT_EQ(endpoint.isReady(), 1);
        EXPECT_EQ(endpoint.hostName(), "vlhost1");
        EXPECT_EQ(endpoint.addressText(), "198.51.100.11");
        EXPECT_EQ(endpoint.getLocalAddress()->address, MakeAddress(198, 51, 100, 11));
        EXPECT_EQ(endpoint.getLocalAddress()->port, 10001);
        EXPECT_THAT(boxes.shown, IsEmpty());
    }
    EXPECT_THAT(sockets.calls, ElementsAre("startup", "socket", "broadcast", "reuse", "nonblocking",
                                           "no resets", "gethostname", "gethostbyname vlhost1",
                                           "bind 198.51.100.11:10001", "close", "cleanup"));
}

TEST(UdpEndpoint, FailedStartupShowsOneBoxAndCreatesNoSocket) {
    FakeSockets sockets;
    sockets.startupResult = 10091;
    FakeBoxes boxes;
    UdpEndpoint endpoint(sockets, boxes);
    EXPECT_EQ(endpoint.isReady(), 0);
    EXPECT_THAT(boxes.shown, ElementsAre("WSAStartup() returned error"));
    EXPECT_THAT(sockets.calls, ElementsAre("startup"));
}

TEST(UdpEndpoint, FailedSocketStops) {
    FakeSockets sockets;
    sockets.socketFails = true;
    FakeBoxes boxes;
    UdpEndpoint endpoint(sockets, boxes);
    EXPECT_EQ(endpoint.isReady(), 0);
    EXPECT_THAT(boxes.shown, ElementsAre("socket() returned error 10001"));
    EXPECT_THAT(sockets.calls, ElementsAre("startup", "socket"));
}

TEST(UdpEndpoint, OptionFailuresWarnInOrderAndStillBind) {
    FakeSockets sockets;
    sockets.broadcastFails = sockets.reuseFails = sockets.nonBlockingFails = true;
    // A system without SIO_UDP_CONNRESET: no box of its own.
    sockets.resetsStay = true;
    FakeBoxes boxes;
    UdpEndpoint endpoint(sockets, boxes);
    EXPECT_EQ(endpoint.isReady(), 1);
    EXPECT_THAT(boxes.shown, ElementsAre("setsockopt() returned error 10001",
                                         "setsockopt() returned error 10002",
                                         "ioctlsocket() returned error 10003"));
    EXPECT_EQ(sockets.boundPort, 10001);
}

TEST(UdpEndpoint, FailedHostNameClosesTheSocket) {
    FakeSockets sockets;
    sockets.hostNameFails = true;
    FakeBoxes boxes;
    {
        UdpEndpoint endpoint(sockets, boxes);
        EXPECT_EQ(endpoint.isReady(), 0);
        EXPECT_THAT(boxes.shown, ElementsAre("gethostname() returned error 10001"));
    }
    // The socket is closed once, at the failure; the destructor only ends the socket layer.
    EXPECT_THAT(sockets.calls, ElementsAre("startup", "socket", "broadcast", "reuse", "nonblocking",
                                           "no resets", "gethostname", "close", "cleanup"));
}

TEST(UdpEndpoint, UnresolvedNameStillTriesTheBindAndReportsItsFailure) {
    FakeSockets sockets;
    sockets.lookupFails = true;
    sockets.bindFails = true;
    FakeBoxes boxes;
    UdpEndpoint endpoint(sockets, boxes);
    EXPECT_EQ(endpoint.isReady(), 0);
    EXPECT_EQ(endpoint.addressText(), "");
    EXPECT_THAT(boxes.shown,
                ElementsAre("gethostbyname() returned error 10001", "bind() returned error 10002"));
    // The empty text parses as no address at all.
    EXPECT_EQ(sockets.boundAddress, kInetNone);
    EXPECT_EQ(sockets.calls.back(), "close");
}

TEST(UdpEndpoint, CloseIsDoneOnce) {
    FakeSockets sockets;
    FakeBoxes boxes;
    {
        UdpEndpoint endpoint(sockets, boxes);
        endpoint.Close();
        EXPECT_EQ(endpoint.isReady(), 0);
        endpoint.Close();
    }
    EXPECT_EQ(std::count(sockets.calls.begin(), sockets.calls.end(), "close"), 1);
    EXPECT_EQ(std::count(sockets.calls.begin(), sockets.calls.end(), "cleanup"), 1);
}

TEST(UdpEndpoint, FollowsANewFirstAddressWithANewSocketQuietlyAndTriesAgainAfterAFailure) {
    FakeSockets sockets;
    FakeBoxes boxes;
    sockets.firstAddress = "127.0.1.1";
    UdpEndpoint endpoint(sockets, boxes);
    sockets.calls.clear();
    EXPECT_FALSE(endpoint.FollowHostAddress());
    sockets.lookupFails = true;
    EXPECT_FALSE(endpoint.FollowHostAddress());
    sockets.lookupFails = false;
    sockets.firstAddress = "198.51.100.11";
    sockets.bindFails = sockets.broadcastFails = true;
    EXPECT_FALSE(endpoint.FollowHostAddress());
    EXPECT_EQ(endpoint.getLocalAddress()->address, MakeAddress(127, 0, 1, 1));
    sockets.bindFails = false;
    EXPECT_TRUE(endpoint.FollowHostAddress());
    EXPECT_FALSE(endpoint.FollowHostAddress());
    EXPECT_EQ(endpoint.getLocalAddress()->address, MakeAddress(198, 51, 100, 11));
    EXPECT_EQ(endpoint.addressText(), "198.51.100.11");
    EXPECT_THAT(sockets.calls,
                ElementsAre("gethostbyname vlhost1", "gethostbyname vlhost1",
                            "gethostbyname vlhost1", "close", "socket", "broadcast", "reuse",
                            "nonblocking", "no resets", "bind 198.51.100.11:10001", "close",
                            "gethostbyname vlhost1", "socket", "broadcast", "reuse", "nonblocking",
                            "no resets", "bind 198.51.100.11:10001", "gethostbyname vlhost1"));
    EXPECT_THAT(boxes.shown, IsEmpty());
    endpoint.Close();
    EXPECT_FALSE(endpoint.FollowHostAddress());
}

}  // namespace
}  // namespace vorlek
