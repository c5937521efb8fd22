// A stand-in for the platform's ECDSA: a "signature" is the first bytes of the message followed
// by the key's byte 1 repeated, so tests can read what was signed and which key signed it.
#pragma once

#include <algorithm>

#include "link/signed_order.h"

namespace vorlek::testing {

inline PublicKey FakeKey(std::uint8_t id) {
    PublicKey key{};
    key[0] = 0x04;
    key[1] = id;
    return key;
}

inline Signature FakeSignature(std::uint8_t keyId, std::span<const std::uint8_t> message) {
    Signature signature{};
    signature.fill(keyId);
    std::copy_n(message.begin(), std::min(message.size(), std::size_t{40}), signature.begin());
    return signature;
}

class FakeSigner : public OrderSigner {
public:
    explicit FakeSigner(std::uint8_t keyId) : keyId_(keyId) {}
    std::optional<Signature> Sign(std::span<const std::uint8_t> message) override {
        if (fails) {
            return std::nullopt;
        }
        return FakeSignature(keyId_, message);
    }
    bool fails = false;

private:
    std::uint8_t keyId_;
};

class FakeVerifier : public OrderVerifier {
public:
    bool Verify(const PublicKey& key, std::span<const std::uint8_t> message,
                const Signature& signature) override {
        ++checks;
        return signature == FakeSignature(key[1], message);
    }
    int checks = 0;
};

}  // namespace vorlek::testing
