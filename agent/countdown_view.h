// What the customer's countdown window shows (/countdown=on): the time left while the station
// counts, "Paused" while it is paused, and nothing in the other states.
#pragma once

#include <cstdint>
#include <string>

#include "link/protocol.h"

namespace vorlek {

struct CountdownView {
    // Empty while the window is hidden.
    std::string text;
    // Drawn in the warning colour: the time is at or below the user's warning threshold.
    bool warning = false;

    bool operator==(const CountdownView&) const = default;
};

CountdownView ViewCountdown(StationState state, std::uint32_t remaining,
                            std::uint32_t warningThreshold);

// Where the agent shows its countdown; the agent calls it after every change of its state or
// time, before any box it shows.
class CountdownDisplay {
public:
    virtual ~CountdownDisplay() = default;
    virtual void Show(const CountdownView& view) = 0;
};

}  // namespace vorlek
