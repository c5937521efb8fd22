// What a signing console gives back to a station: only what its own orders granted. Reports are
// not signed and a laptop can forge one, so a report may lower the grant (less time, BLOCKED) but
// never raise it nor change its mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/protocol.h"

namespace vorlek {

// The state the console's orders left a station in; for NORMAL and PAUSED the seconds left at
// atMs, which NORMAL counts down by the console's own clock.
struct Grant {
    StationState state = StationState::BLOCKED;
    std::uint32_t seconds = 0;
    std::uint64_t atMs = 0;
};

// The grant after the console ordered word at nowMs, following the agent's handling of it.
Grant GrantAfter(const Grant& before, StatusWord word, std::uint64_t nowMs);

// The grant as it stands at nowMs: counted NORMAL time that ran out is BLOCKED.
Grant GrantAt(const Grant& grant, std::uint64_t nowMs);

// The grant at nowMs lowered by a station's report of reported.
Grant LowerByReport(const Grant& grant, StatusWord reported, std::uint64_t nowMs);

// The word that gives a grant back to a station.
StatusWord RestoreWord(const Grant& grant);

// Orders that give time or free use: a signing console sends them only to rows the operator
// selected himself.
bool GivesTime(StatusWord word);

// The box that tells the operator how many selected rows such an order skipped.
std::string WithheldText(std::size_t rows);

}  // namespace vorlek
