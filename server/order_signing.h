// The console's half of signed orders (/orders=signed): the nonce each station last announced,
// the orders that wait for a station not heard from yet, the sequence and the grants the
// console's own orders made, which are all it ever gives back.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "link/signed_order.h"
#include "server/grant.h"

namespace vorlek {

// Orders kept for a station that has not been heard from; more are dropped.
inline constexpr std::size_t kWaitingOrdersLimit = 16;

class SequenceKeeper {
public:
    virtual ~SequenceKeeper() = default;
    // The console's UTC clock in milliseconds since 1970.
    virtual std::uint64_t NowMs() = 0;
    // Keeps the last sequence used across restarts; false when it could not be kept.
    virtual bool Keep(std::uint64_t sequence) = 0;
};

class OrderSigning {
public:
    // lastUsed: the sequence kept by the console's last run, or 0.
    OrderSigning(OrderSigner& signer, SequenceKeeper& sequences, std::uint64_t lastUsed)
        : signer_(signer), sequences_(sequences), lastSequence_(lastUsed) {}

    // The nonce of a Hello or report from address; returns the orders that waited for it.
    std::vector<StatusWord> Heard(Ipv4 address, const Nonce& nonce);
    bool HasHeard(Ipv4 address) const;
    // Keeps word until address is heard from; true when it is the first that waits, so the
    // station is to be asked for its status.
    bool Wait(Ipv4 address, StatusWord word);

    // The signed Command for a heard station with its sequence kept, the grant following it;
    // nullopt when signing or keeping the sequence fails, and nothing is to be sent.
    std::optional<SignedCommand> Sign(Ipv4 address, StatusWord word);

    // A report from address lowers its grant.
    void Reported(Ipv4 address, StatusWord word);
    // The grant of address as it stands now; BLOCKED for a station never given anything.
    Grant GrantNow(Ipv4 address);

private:
    struct Station {
        std::optional<Nonce> nonce;
        std::vector<StatusWord> waiting;
        Grant grant;
    };

    OrderSigner& signer_;
    SequenceKeeper& sequences_;
    std::uint64_t lastSequence_;
    std::unordered_map<Ipv4, Station> stations_;
};

}  // namespace vorlek
