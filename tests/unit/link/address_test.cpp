#include "link/address.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vorlek {
namespace {

std::array<std::uint8_t, 4> Octets(Ipv4 address) {
    std::array<std::uint8_t, 4> octets;
    std::memcpy(octets.data(), &address, 4);
    return octets;
}

TEST(Addresses, AreHeldInNetworkOrder) {
    EXPECT_EQ(Octets(MakeAddress(198, 51, 100, 7)), (std::array<std::uint8_t, 4>{198, 51, 100, 7}));
    EXPECT_EQ(Octets(InetAddr("192.168.1.20")), (std::array<std::uint8_t, 4>{192, 168, 1, 20}));
    EXPECT_EQ(FormatDotted(MakeAddress(10, 0, 255, 1)), "10.0.255.1");
    EXPECT_EQ(FormatDotted(MakeAddress(255, 255, 255, 255)), "255.255.255.255");
}

TEST(Addresses, ParseEveryFormOfTheSocketLayer) {
    EXPECT_EQ(InetAddr("1.2.3.4"), MakeAddress(1, 2, 3, 4));
    EXPECT_EQ(InetAddr("0.0.0.0"), 0u);
    // Fewer parts: the last one fills the remaining bytes.
    EXPECT_EQ(InetAddr("10.258"), MakeAddress(10, 0, 1, 2));
    EXPECT_EQ(InetAddr("10.1.258"), MakeAddress(10, 1, 1, 2));
    EXPECT_EQ(InetAddr("16909060"), MakeAddress(1, 2, 3, 4));
    // Octal and hexadecimal parts.
    EXPECT_EQ(InetAddr("010.0x10.0X1f.0"), MakeAddress(8, 16, 31, 0));
    EXPECT_EQ(InetAddr("0xC0A80114"), MakeAddress(192, 168, 1, 20));
}

TEST(Addresses, RejectTextThatIsNoAddress) {
    for (const char* text : {"", "1.2.3.256", "1.2.3.4.5", "1..2.3", "1.2.3.", ".1.2.3", "pc1",
                             "1.2.3.4x", "08.1.1.1", "0x", "4294967296", "-1"}) {
        EXPECT_EQ(InetAddr(text), kInetNone) << text;
    }
    EXPECT_EQ(InetAddr("255.255.255.255"), kInetNone);
}

}  // namespace
}  // namespace vorlek
