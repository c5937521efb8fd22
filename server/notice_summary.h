// /notices=summary: the OFF, ON and BLOCKED notices gathered until the console can show them, one
// box for each kind instead of one box for each station. A kind with a single station keeps the
// text a box of its own would have.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/address.h"

namespace vorlek {

// Stations a summary names; the others are counted in its last line.
inline constexpr std::size_t kSummaryNamed = 20;

class NoticeSummary {
public:
    // event: "OFF", "ON" or "BLOCKED".
    void Add(std::string_view event, std::string name, Ipv4 address);
    // The text of the next box, OFF first, then ON, then BLOCKED; its stations are taken out.
    // nullopt when none waits.
    std::optional<std::string> TakeNext();

private:
    struct Station {
        std::string name;
        Ipv4 address;
    };
    static constexpr std::array<std::string_view, 3> kEvents = {"OFF", "ON", "BLOCKED"};
    std::array<std::vector<Station>, kEvents.size()> waiting_;
};

}  // namespace vorlek
