// Signed orders: a Command followed by a trailer that only a console holding a room key can make
// and every station can check. A station holds only public keys, so nothing read from a station
// lets anyone forge an order; the station's start nonce ties each order to one run of its agent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/address.h"
#include "link/protocol.h"

namespace vorlek {

// Drawn by a checking agent at start. A datagram without one counts as all zeros, which a
// checking agent never draws, so a signing console still drives an agent that does not check.
using Nonce = std::array<std::uint8_t, 8>;
inline constexpr Nonce kNoNonce{};

// An ECDSA P-256 signature, r then s, each 32 bytes big-endian.
using Signature = std::array<std::uint8_t, 64>;
// An uncompressed P-256 point: 0x04, then X and Y, each 32 bytes big-endian.
using PublicKey = std::array<std::uint8_t, 65>;

// Layout: bytes 0-4 the Command, byte 5 the form, bytes 6-13 the sequence (little-endian),
// bytes 14-77 the signature of the SHA-256 of OrderMessage.
inline constexpr std::size_t kSignedCommandSize = 78;
inline constexpr std::uint8_t kOrderForm = 0x02;
inline constexpr std::size_t kSignedHeadSize = 14;
using SignedCommand = std::array<std::uint8_t, kSignedCommandSize>;
using SignedHead = std::array<std::uint8_t, kSignedHeadSize>;

// What is signed: the 14 ASCII bytes "VORLEK-ORDER-2", the destination's address in network
// order, the destination's nonce, then bytes 0-13 of the signed command.
inline constexpr std::string_view kOrderDomain = "VORLEK-ORDER-2";
using OrderMessage = std::array<std::uint8_t, 14 + 4 + 8 + kSignedHeadSize>;
OrderMessage OrderMessageOf(Ipv4 destination, const Nonce& nonce, const SignedHead& head);

// The platform's ECDSA P-256 with SHA-256: both hash the message themselves.
class OrderSigner {
public:
    virtual ~OrderSigner() = default;
    // nullopt when the platform fails; then nothing is sent.
    virtual std::optional<Signature> Sign(std::span<const std::uint8_t> message) = 0;
};
class OrderVerifier {
public:
    virtual ~OrderVerifier() = default;
    virtual bool Verify(const PublicKey& key, std::span<const std::uint8_t> message,
                        const Signature& signature) = 0;
};

// The Command for word with its trailer for one run of the agent at destination.
std::optional<SignedCommand> BuildSignedCommand(StatusWord word, std::uint64_t sequence,
                                                Ipv4 destination, const Nonce& nonce,
                                                OrderSigner& signer);

// A datagram read as a signed command: exactly 78 bytes of type Command and form 0x02.
struct SignedOrder {
    StatusWord word = 0;
    std::uint64_t sequence = 0;
    SignedHead head{};
    Signature signature{};
};
std::optional<SignedOrder> ReadSignedOrder(std::span<const std::uint8_t> bytes);

// Hello and StatusReport of a checking agent carry its nonce after their Parts bytes: a Hello
// is then 9 bytes, a report 13. A console that does not sign reads the first bytes only.
using NoncedHello = std::array<std::uint8_t, 1 + 8>;
using NoncedReport = std::array<std::uint8_t, 5 + 8>;
NoncedHello BuildHello(const Nonce& nonce);
NoncedReport BuildStatusReport(StatusWord word, const Nonce& nonce);
// The nonce of a 9-byte Hello or a 13-byte report; kNoNonce for every other Hello or report,
// nullopt for any other datagram.
std::optional<Nonce> NonceOf(std::span<const std::uint8_t> datagram);

// The console's next sequence: its UTC clock in milliseconds, raised to one past the last
// number used whenever the clock has not advanced beyond it.
constexpr std::uint64_t NextSequence(std::uint64_t clockMs, std::uint64_t lastUsed) {
    return clockMs > lastUsed ? clockMs : lastUsed + 1;
}

// The public-key line: "vorlek-p256 BASE64 [comment]", BASE64 the 65 bytes of the point.
inline constexpr std::string_view kPublicKeyWord = "vorlek-p256";
std::optional<PublicKey> ReadPublicKeyLine(std::string_view line);
std::string FormatPublicKeyLine(const PublicKey& key, std::string_view comment);

// "roomkeys": one public-key line per line, blank lines and '#' comments allowed. nullopt when
// any other line stands in it or when it names no key: the agent then refuses to start.
inline constexpr std::size_t kRoomKeysLineLimit = 511;
std::optional<std::vector<PublicKey>> ReadRoomKeys(std::FILE* file);

}  // namespace vorlek
