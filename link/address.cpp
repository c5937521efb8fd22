#include "link/address.h"

#include <cstdio>
#include <cstring>

namespace vorlek {

Ipv4 MakeAddress(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t octets[4] = {a, b, c, d};
    Ipv4 address;
    std::memcpy(&address, octets, sizeof address);
    return address;
}

namespace {

// One part of an address: decimal, octal with a leading 0, or hexadecimal with a leading 0x.
// Parts larger than 32 bits are rejected.
bool ParsePart(std::string_view text, std::size_t& pos, std::uint64_t& value) {
    unsigned base = 10;
    if (pos < text.size() && text[pos] == '0') {
        base = 8;
        if (pos + 1 < text.size() && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
            base = 16;
            pos += 2;
        }
    }
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            break;
        }
        if (digit >= base) {
            return false;
        }
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) {
            return false;
        }
        ++pos;
    }
    // "0x" alone has no digits; a lone "0" has been taken as the start of an octal number.
    return pos > start || base == 8;
}

}  // namespace

Ipv4 InetAddr(std::string_view text) {
    std::uint64_t parts[4] = {};
    std::size_t count = 0;
    std::size_t pos = 0;
    if (text.empty()) {
        return kInetNone;
    }
    while (true) {
        if (count == 4 || !ParsePart(text, pos, parts[count])) {
            return kInetNone;
        }
        ++count;
        if (pos == text.size()) {
            break;
        }
        if (text[pos] != '.') {
            return kInetNone;
        }
        ++pos;
    }
    // The last part fills the bytes the earlier parts leave.
    std::uint64_t host = 0;
    switch (count) {
        case 1:
            host = parts[0];
            break;
        case 2:
            if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) {
                return kInetNone;
            }
            host = parts[0] << 24 | parts[1];
            break;
        case 3:
            if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) {
                return kInetNone;
            }
            host = parts[0] << 24 | parts[1] << 16 | parts[2];
            break;
        default:
            if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFF || parts[3] > 0xFF) {
                return kInetNone;
            }
            host = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
            break;
    }
    return MakeAddress(static_cast<std::uint8_t>(host >> 24), static_cast<std::uint8_t>(host >> 16),
                       static_cast<std::uint8_t>(host >> 8), static_cast<std::uint8_t>(host));
}

std::string FormatDotted(Ipv4 address) {
    std::uint8_t octets[4];
    std::memcpy(octets, &address, sizeof octets);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
    return text;
}

}  // namespace vorlek
