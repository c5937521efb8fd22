#include "agent/countdown_view.h"

#include <cstdio>

namespace vorlek {

CountdownView ViewCountdown(StationState state, std::uint32_t remaining,
                            std::uint32_t warningThreshold) {
    const bool warning = warningThreshold != 0 && remaining <= warningThreshold;
    if (state == StationState::PAUSED) {
        return {"Paused", warning};
    }
    if (state != StationState::NORMAL) {
        return {};
    }
    // Hours are not limited to two digits: a counting station may hold up to 0x1FFFFFFF seconds.
    char text[24];
    std::snprintf(text, sizeof text, "%u:%02u:%02u", remaining / 3600, remaining / 60 % 60,
                  remaining % 60);
    return {text, warning};
}

}  // namespace vorlek
