#include "agent/order_gate.h"

namespace vorlek {

OrderGate::OrderGate(std::vector<PublicKey> keys, const Nonce& nonce, OrderVerifier& verifier)
    : nonce_(nonce), verifier_(verifier) {
    for (const PublicKey& key : keys) {
        keys_.push_back({key, std::nullopt});
    }
}

bool OrderGate::TakeCheck(std::uint32_t nowMs) {
    // Unsigned difference: a clock that wraps still opens a new window after it.
    if (checksInWindow_ == 0 || nowMs - windowStartMs_ >= kSignatureCheckWindowMs) {
        windowStartMs_ = nowMs;
        checksInWindow_ = 0;
    }
    if (checksInWindow_ >= kSignatureChecksPerWindow) {
        return false;
    }
    ++checksInWindow_;
    return true;
}

std::optional<StatusWord> OrderGate::Admit(std::span<const std::uint8_t> datagram,
                                           Ipv4 boundAddress, std::uint32_t nowMs) {
    const auto order = ReadSignedOrder(datagram);
    if (!order) {
        return std::nullopt;
    }
    // Only keys under which this order would be new are worth a signature check.
    const OrderMessage message = OrderMessageOf(boundAddress, nonce_, order->head);
    for (RoomKey& roomKey : keys_) {
        if (roomKey.lastSequence && order->sequence <= *roomKey.lastSequence) {
            continue;
        }
        if (!TakeCheck(nowMs)) {
            return std::nullopt;
        }
        if (verifier_.Verify(roomKey.key, message, order->signature)) {
            roomKey.lastSequence = order->sequence;
            return order->word;
        }
    }
    return std::nullopt;
}

}  // namespace vorlek
