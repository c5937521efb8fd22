#include "server/name_schedule.h"

#include <algorithm>

namespace vorlek {

void NameSchedule::AddFirst(Ipv4 address) {
    firsts_.push_back(address);
}

std::optional<Ipv4> NameSchedule::TakeDue(std::uint32_t nowMs) {
    if (!firsts_.empty()) {
        const Ipv4 address = firsts_.front();
        firsts_.pop_front();
        return address;
    }
    if (entries_.empty() || nowMs - entries_.front().lastStartMs < kNameRefreshPeriodMs) {
        return std::nullopt;
    }
    const Ipv4 address = entries_.front().address;
    entries_.pop_front();
    return address;
}

void NameSchedule::Done(Ipv4 address, std::uint32_t startedMs) {
    // Look-ups end out of order when some are slow: the entry goes where its start puts it.
    const auto later = std::find_if(entries_.begin(), entries_.end(), [startedMs](const Entry& e) {
        return static_cast<std::int32_t>(e.lastStartMs - startedMs) > 0;
    });
    entries_.insert(later, {address, startedMs});
}

std::optional<std::uint32_t> NameSchedule::WaitMs(std::uint32_t nowMs) const {
    if (!firsts_.empty()) {
        return 0;
    }
    if (entries_.empty()) {
        return std::nullopt;
    }
    const std::uint32_t waited = nowMs - entries_.front().lastStartMs;
    return waited >= kNameRefreshPeriodMs ? 0 : kNameRefreshPeriodMs - waited;
}

}  // namespace vorlek
