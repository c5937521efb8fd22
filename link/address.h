// IPv4 addresses as the socket layer holds them: 32-bit values in network byte order, that is
// with the first octet in the lowest-addressed byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorlek {

using Ipv4 = std::uint32_t;

// Returned by InetAddr for text that is not an address; also the broadcast address.
inline constexpr Ipv4 kInetNone = 0xFFFFFFFFu;

// Builds the network-order value of a.b.c.d.
Ipv4 MakeAddress(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);

// The Winsock inet_addr conversion: "a.b.c.d", "a.b.c", "a.b" or "a", each part decimal, octal
// (leading 0) or hexadecimal (leading 0x); kInetNone when the text is not such an address.
Ipv4 InetAddr(std::string_view text);

// "%d.%d.%d.%d", first octet first.
std::string FormatDotted(Ipv4 address);

}  // namespace vorlek
