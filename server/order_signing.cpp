#include "server/order_signing.h"

#include <utility>

namespace vorlek {

std::vector<StatusWord> OrderSigning::Heard(Ipv4 address, const Nonce& nonce) {
    Station& station = stations_[address];
    station.nonce = nonce;
    return std::exchange(station.waiting, {});
}

bool OrderSigning::HasHeard(Ipv4 address) const {
    const auto found = stations_.find(address);
    return found != stations_.end() && found->second.nonce;
}

bool OrderSigning::Wait(Ipv4 address, StatusWord word) {
    std::vector<StatusWord>& waiting = stations_[address].waiting;
    if (waiting.size() >= kWaitingOrdersLimit) {
        return false;
    }
    waiting.push_back(word);
    return waiting.size() == 1;
}

std::optional<SignedCommand> OrderSigning::Sign(Ipv4 address, StatusWord word) {
    Station& station = stations_[address];
    if (!station.nonce) {
        return std::nullopt;
    }
    const std::uint64_t nowMs = sequences_.NowMs();
    const std::uint64_t sequence = NextSequence(nowMs, lastSequence_);
    auto signedCommand = BuildSignedCommand(word, sequence, address, *station.nonce, signer_);
    // Kept before the datagram goes out: a restarted console never signs this number again.
    if (!signedCommand || !sequences_.Keep(sequence)) {
        return std::nullopt;
    }
    lastSequence_ = sequence;
    station.grant = GrantAfter(station.grant, word, nowMs);
    return signedCommand;
}

void OrderSigning::Reported(Ipv4 address, StatusWord word) {
    Station& station = stations_[address];
    station.grant = LowerByReport(station.grant, word, sequences_.NowMs());
}

Grant OrderSigning::GrantNow(Ipv4 address) {
    return GrantAt(stations_[address].grant, sequences_.NowMs());
}

}  // namespace vorlek
