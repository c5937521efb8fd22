#include "server/time_journal.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace vorlek {

namespace {

struct ModeEvent {
    ModeCommand mode;
    std::string_view name;
};

constexpr std::array kModeEvents = {
    ModeEvent{ModeCommand::Unlimited, "unlimited"}, ModeEvent{ModeCommand::Pause, "pause"},
    ModeEvent{ModeCommand::Free, "free"},           ModeEvent{ModeCommand::Block, "block"},
    ModeEvent{ModeCommand::Resume, "resume"},       ModeEvent{ModeCommand::LogOff, "log-off"},
    ModeEvent{ModeCommand::Reboot, "reboot"},
};

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled.
std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string Line(const LocalTime& time, std::string_view name, std::string_view address,
                 std::string_view event, std::string_view seconds, Ipv4 console) {
    return IsoTime(time) + "," + CsvField(name) + "," + std::string(address) + "," +
           CsvField(event) + "," + std::string(seconds) + "," + FormatDotted(console) + "\r\n";
}

}  // namespace

std::optional<CommandEventName> CommandEvent(StatusWord word) {
    const DecodedCommand command = DecodeCommand(word);
    switch (command.kind) {
        case CommandKind::AddTime:
            return CommandEventName{"add-time", command.value};
        case CommandKind::SetWarning:
            return CommandEventName{"warning", command.value};
        case CommandKind::SetTime:
            return CommandEventName{"set-time", command.value};
        case CommandKind::Mode:
            break;
    }
    for (const ModeEvent& mode : kModeEvents) {
        if (static_cast<std::uint32_t>(mode.mode) == command.value) {
            return CommandEventName{mode.name, std::nullopt};
        }
    }
    return std::nullopt;
}

std::string IsoTime(const LocalTime& time) {
    const int offset = std::abs(time.offsetMinutes);
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", time.year,
                  time.month, time.day, time.hour, time.minute, time.second,
                  time.offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text.data();
}

std::string JournalFileName(const LocalTime& time) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "vorlek-%04d-%02d-%02d.csv", time.year, time.month,
                  time.day);
    return text.data();
}

std::string JournalLine(const LocalTime& time, const JournalEntry& entry, Ipv4 console) {
    return Line(time, entry.name, FormatDotted(entry.address), entry.event,
                entry.seconds ? std::to_string(*entry.seconds) : std::string(), console);
}

std::string LostLinesLine(const LocalTime& time, std::uint64_t lost, Ipv4 console) {
    return Line(time, "", "", "lost", std::to_string(lost), console);
}

}  // namespace vorlek
