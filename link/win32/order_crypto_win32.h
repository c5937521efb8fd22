// Signed orders on the platform's CNG (bcrypt.dll, Windows Vista and later) and the console's
// private key kept with DPAPI. Nothing here computes crypto itself.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/signed_order.h"

namespace vorlek {

// Shown where bcrypt.dll is missing, as on Windows XP.
inline constexpr const char* kNoCngText =
    "Signed orders need Windows Vista or later: this Windows has no CNG (bcrypt.dll).";

class Cng {
public:
    // nullptr when the system folder's bcrypt.dll or one of its calls is missing.
    static std::unique_ptr<Cng> Load();
    ~Cng();
    Cng(const Cng&) = delete;
    Cng& operator=(const Cng&) = delete;

    bool Random(std::span<std::uint8_t> bytes) const;
    std::optional<std::array<std::uint8_t, 32>> Sha256(std::span<const std::uint8_t> data) const;

    // A new P-256 pair: the private key as CNG's private blob and its public point.
    struct KeyPair {
        std::vector<std::uint8_t> privateBlob;
        PublicKey publicKey{};
    };
    std::optional<KeyPair> NewKeyPair() const;
    // The public point of a private blob.
    std::optional<PublicKey> PublicKeyOf(std::span<const std::uint8_t> privateBlob) const;

    std::optional<Signature> Sign(std::span<const std::uint8_t> privateBlob,
                                  std::span<const std::uint8_t> message) const;
    bool Verify(const PublicKey& key, std::span<const std::uint8_t> message,
                const Signature& signature) const;

    struct Calls;

private:
    Cng(HMODULE module, std::unique_ptr<Calls> calls);
    HMODULE module_;
    std::unique_ptr<Calls> calls_;
};

class CngSigner final : public OrderSigner {
public:
    CngSigner(const Cng& cng, std::vector<std::uint8_t> privateBlob)
        : cng_(cng), privateBlob_(std::move(privateBlob)) {}
    ~CngSigner() override { SecureZeroMemory(privateBlob_.data(), privateBlob_.size()); }
    std::optional<Signature> Sign(std::span<const std::uint8_t> message) override {
        return cng_.Sign(privateBlob_, message);
    }

private:
    const Cng& cng_;
    std::vector<std::uint8_t> privateBlob_;
};

class CngVerifier final : public OrderVerifier {
public:
    explicit CngVerifier(const Cng& cng) : cng_(cng) {}
    bool Verify(const PublicKey& key, std::span<const std::uint8_t> message,
                const Signature& signature) override {
        return cng_.Verify(key, message, signature);
    }

private:
    const Cng& cng_;
};

// The private-key file: the blob protected by DPAPI for this machine, readable only by SYSTEM,
// Administrators and the account that made it. Writing refuses an existing file; each gives
// a one-line reason when it fails.
bool WritePrivateKeyFile(const std::wstring& path, std::span<const std::uint8_t> privateBlob,
                         std::string& reason);
std::optional<std::vector<std::uint8_t>> ReadPrivateKeyFile(const std::wstring& path,
                                                            std::string& reason);

}  // namespace vorlek
