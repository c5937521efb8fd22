// The host names of the station rows, kept between ticks. Every address is looked up beside the
// console's thread (NameRefresh): at first sight at once, ahead of everything else, then again and
// again. The console's thread waits for a first answer only briefly: the rows added by one tick
// and by the datagrams handled until the next share kFirstSightWait, beyond which a new row shows
// "N/A" until its answer comes back through Refreshed(). A name that changed is rewritten into its
// row at the next tick. The wait for a look-up that took no longer than kPromptAnswer (a hosts
// file) is not charged, so with a fast name service every new row shows its name at once.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "link/address.h"

namespace vorlek {

inline constexpr std::chrono::microseconds kFirstSightWait{100'000};
inline constexpr std::chrono::microseconds kPromptAnswer{10'000};
// A notice about a station that has never been named waits this long for its name at most.
inline constexpr std::chrono::microseconds kNoticeNameWait{1'000'000};

struct FirstAnswer {
    // False: the look-up had not answered when the wait ended.
    bool came = false;
    std::optional<std::string> name;
    std::chrono::microseconds waited{0};
    // How long the look-up itself took, from its start beside the console's thread.
    std::chrono::microseconds lookUp{0};
};

// Looks addresses up beside the console's thread.
class NameRefresh {
public:
    virtual ~NameRefresh() = default;
    // Looks new addresses up at once, ahead of the kept ones, and again and again afterwards.
    virtual void LookUpFirst(std::span<const Ipv4> addresses) = 0;
    // Waits at most longest for the answer of the address's first look-up. An answer that comes
    // later is handed over as a refreshed name.
    virtual FirstAnswer AwaitFirst(Ipv4 address, std::chrono::microseconds longest) = 0;
};

class NameCache {
public:
    explicit NameCache(NameRefresh& refresh) : refresh_(refresh) {}

    // A new tick: the first sights until the next one share kFirstSightWait.
    void NewTick() { waitLeft_ = kFirstSightWait; }
    // Addresses about to get rows: their look-ups start together rather than one after another.
    void Expect(std::span<const Ipv4> addresses);
    // The name a row shows: the kept one; at first sight the answer if it comes in the tick's
    // wait, else "N/A".
    std::string RowName(Ipv4 address);
    // The name a notice shows: the kept one; a station never named waits up to kNoticeNameWait.
    std::string NoticeName(Ipv4 address);
    // The result of a look-up made beside the console's thread; nullopt when it failed, which
    // shows as "N/A" like a failed look-up at first sight.
    void Refreshed(Ipv4 address, const std::optional<std::string>& name);
    // The addresses whose name changed since the last call, in the order they changed.
    std::vector<Ipv4> TakeRenamed();

private:
    // Looks a new address up, waits at most longest and keeps what came, or "N/A".
    FirstAnswer FirstSight(Ipv4 address, std::chrono::microseconds longest);

    NameRefresh& refresh_;
    std::chrono::microseconds waitLeft_ = kFirstSightWait;
    std::unordered_map<Ipv4, std::string> kept_;
    // Given to LookUpFirst and not yet awaited.
    std::unordered_set<Ipv4> expected_;
    std::vector<Ipv4> renamed_;
};

}  // namespace vorlek
