// The checking agent's gate for Commands: it lets through only an order signed by one of the
// room's keys for this station's address and this run's nonce, newer than every order already
// taken under that key. Cheap checks come first and signature checks are rationed, so a flood
// of forged orders costs the agent little.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/signed_order.h"

namespace vorlek {

// At most this many signature checks in any window of this length.
inline constexpr std::uint32_t kSignatureChecksPerWindow = 50;
inline constexpr std::uint32_t kSignatureCheckWindowMs = 1000;

inline constexpr const char* kNoRoomKeysText =
    "/orders=signed: the file \"roomkeys\" names no console's key, or holds a line that is no "
    "key.\nWrite each console's public line (VorlekKey.exe public) into \"roomkeys\" in the "
    "agent's folder, or start the agent without /orders=signed.";

class OrderGate {
public:
    OrderGate(std::vector<PublicKey> keys, const Nonce& nonce, OrderVerifier& verifier);

    // The word to obey, or nullopt when the datagram is to be dropped without an answer.
    // boundAddress is the address the agent's socket is bound to; nowMs any running clock.
    const Nonce& nonce() const { return nonce_; }

    std::optional<StatusWord> Admit(std::span<const std::uint8_t> datagram, Ipv4 boundAddress,
                                    std::uint32_t nowMs);

private:
    bool TakeCheck(std::uint32_t nowMs);

    struct RoomKey {
        PublicKey key;
        std::optional<std::uint64_t> lastSequence;
    };
    std::vector<RoomKey> keys_;
    Nonce nonce_;
    OrderVerifier& verifier_;
    std::uint32_t windowStartMs_ = 0;
    std::uint32_t checksInWindow_ = 0;
};

}  // namespace vorlek
