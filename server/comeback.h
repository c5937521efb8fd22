// What the console makes of a station's report when the station was away: gone silent (OFF) or
// restarted by its user. An agent that starts again has lost its state; the console gives back
// the one it stored, unless the operator ordered the restart.
#pragma once

#include <cstdint>
#include <optional>

#include "link/protocol.h"

namespace vorlek {

// What the console knows of a station's agent starting again.
enum class Restart : std::uint8_t {
    None,
    // "&Logoff" or "R&eboot" went to the station and no Hello has come since.
    Ordered,
    // The Hello after such a command came: the agent's next report is its own state.
    OrderedDone,
    // The agent said hello again unasked: its next report gets back the stored state.
    Unordered,
};

struct ReportAnswer {
    // The word the row shows: the report, or the state given back.
    StatusWord shown;
    // The record's word from now on, without the OffMark.
    StatusWord stored;
    // The command that gives the stored state back.
    std::optional<StatusWord> command;
    // "is ON": the operator saw the station OFF.
    bool announceOn;
    // "is BLOCKED": BLOCKED is news to the operator.
    bool announceBlocked;
};

// stored: the record's word, OffMark included; offShown: its row shows OFF (the operator was
// told, or it never answered since the start). A marked station with a stored state comes back:
// AVAILABLE (or BLOCKED, which an agent may start with, from a restart) is an agent that lost its
// state and gets back the stored one, a pause as counting, unless the restart was ordered or the
// state is a log-off or reboot word; any other report is the station's own and stands.
// granted: under /orders=signed, the word of what the console's own orders granted, given back
// in place of the stored one.
ReportAnswer AnswerReport(StatusWord stored, StatusWord reported, Restart restart, bool offShown,
                          std::optional<StatusWord> granted = std::nullopt);

}  // namespace vorlek
