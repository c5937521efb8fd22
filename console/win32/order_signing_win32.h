// The console's signing under /orders=signed: CNG, the key of "room.key" and the sequence kept
// in "ordersequence", both in the data folder (the console's current directory).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/win32/order_crypto_win32.h"
#include "server/order_signing.h"

namespace vorlek {

inline constexpr const char* kSequenceFile = "ordersequence";

// The UTC clock and "ordersequence", rewritten with each sequence before its order goes out.
class SequenceFile final : public SequenceKeeper {
public:
    // The sequence the file holds; 0 when it is missing or holds no number.
    static std::uint64_t LastKept();
    std::uint64_t NowMs() override;
    bool Keep(std::uint64_t sequence) override;
};

class ConsoleSigning {
public:
    // nullptr with the text of the stop box in refusal when CNG or the key is missing.
    static std::unique_ptr<ConsoleSigning> Open(std::string& refusal);
    OrderSigning& signing() { return *signing_; }

private:
    ConsoleSigning(std::unique_ptr<Cng> cng, std::vector<std::uint8_t> privateBlob);

    std::unique_ptr<Cng> cng_;
    CngSigner signer_;
    SequenceFile sequences_;
    std::optional<OrderSigning> signing_;
};

}  // namespace vorlek
