// /journal=FOLDER: what the console gave and saw, for the room's accounts. One CSV line (RFC 4180,
// UTF-8) for each command sent to a station and each state change seen, in one file a day,
// "vorlek-YYYY-MM-DD.csv", each file beginning with kJournalHeader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/address.h"
#include "link/protocol.h"

namespace vorlek {

inline constexpr std::string_view kJournalHeader = "time,station,address,event,seconds,console\r\n";
// The command sent to a station back from OFF, to give it back the state it had.
inline constexpr std::string_view kRestoreEvent = "restore";

struct JournalEntry {
    std::string name;
    Ipv4 address;
    // "add-time", "set-time", "warning", "pause", ..., "OFF", "ON", "BLOCKED".
    std::string_view event;
    // The seconds of a time or warning command.
    std::optional<std::uint32_t> seconds;
};

// Takes the entries on the console's thread; never waits on the disk.
class TimeJournal {
public:
    virtual ~TimeJournal() = default;
    virtual void Record(const JournalEntry& entry) = 0;
};

struct CommandEventName {
    std::string_view name;
    std::optional<std::uint32_t> seconds;
};
// The event of a command word; nullopt for a mode the operator has no button for.
std::optional<CommandEventName> CommandEvent(StatusWord word);

// A local time, "2026-12-09T14:03:07+01:00".
struct LocalTime {
    int year, month, day, hour, minute, second;
    // Minutes east of UTC.
    int offsetMinutes;
};
std::string IsoTime(const LocalTime& time);
// "vorlek-2026-12-09.csv"
std::string JournalFileName(const LocalTime& time);
// One line, with its CRLF; text fields are quoted when they must be.
std::string JournalLine(const LocalTime& time, const JournalEntry& entry, Ipv4 console);
// The line that stands for lines lost while the writer could not keep up.
std::string LostLinesLine(const LocalTime& time, std::uint64_t lost, Ipv4 console);

}  // namespace vorlek
