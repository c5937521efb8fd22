// The order in which the console's names are looked up beside its thread: a new address at once,
// before any other, then each address in turn, no sooner than kNameRefreshPeriod after its last
// look-up began, the one that waited longest first. Times are milliseconds of a clock that may wrap
// around (GetTickCount); only differences of less than 2^31 ms are compared. Not thread-safe: the
// look-up threads share one schedule under their lock.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "link/address.h"

namespace vorlek {

// With the look-up threads keeping up, every kept name is looked up again this often: a name
// changed in the name service reaches its row within this period plus a tick.
inline constexpr std::uint32_t kNameRefreshPeriodMs = 8000;

class NameSchedule {
public:
    // A new address: due at once, after the new ones before it and before every other.
    void AddFirst(Ipv4 address);
    // The address whose look-up is due and waited longest; it is out of the schedule until
    // Done(). nullopt when none is due.
    std::optional<Ipv4> TakeDue(std::uint32_t nowMs);
    // The look-up of a taken address that began at startedMs has ended.
    void Done(Ipv4 address, std::uint32_t startedMs);
    // How long until the next look-up is due; nullopt while nothing is scheduled.
    std::optional<std::uint32_t> WaitMs(std::uint32_t nowMs) const;

private:
    struct Entry {
        Ipv4 address;
        std::uint32_t lastStartMs;
    };
    std::deque<Ipv4> firsts_;
    // In the order of their last look-up's start, so the front waited longest.
    std::deque<Entry> entries_;
};

}  // namespace vorlek
