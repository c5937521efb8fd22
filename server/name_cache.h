// The host names of the station rows, kept between ticks, so that neither the one-second work nor
// the datagram handling waits on the name service. An address is looked up on the console's
// thread the first time a row needs its name, so a new row shows what a fresh look-up gives; from
// then on it is looked up again beside the console's thread (NameRefresh), and a name that
// changed comes back through Refreshed() and is rewritten into its row at the next tick.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "link/address.h"
#include "link/network.h"

namespace vorlek {

// Looks kept addresses up again and again, beside the console's thread.
class NameRefresh {
public:
    virtual ~NameRefresh() = default;
    virtual void Keep(Ipv4 address) = 0;
};

class NameCache {
public:
    NameCache(NameService& names, NameRefresh& refresh) : names_(names), refresh_(refresh) {}

    // The name a row shows: the kept one, or at first sight the reverse look-up, "N/A" when it
    // fails.
    std::string RowName(Ipv4 address);
    // The result of a look-up made beside the console's thread; nullopt when it failed, which
    // shows as "N/A" like a failed look-up at first sight.
    void Refreshed(Ipv4 address, const std::optional<std::string>& name);
    // The addresses whose name changed since the last call, in the order they changed.
    std::vector<Ipv4> TakeRenamed();

private:
    NameService& names_;
    NameRefresh& refresh_;
    std::unordered_map<Ipv4, std::string> kept_;
    std::vector<Ipv4> renamed_;
};

}  // namespace vorlek
