#include "console/operator_input.h"

#include <optional>

#include "console/time_value.h"
#include "link/protocol.h"

namespace vorlek {

namespace {

// The switch of an option in Server::flags.
std::uint32_t OptionSwitch(TimingOption option) {
    switch (option) {
        case TimingOption::PeriodicCheck:
            return PeriodicCheckFlag;
        case TimingOption::Timeout:
            return TimeoutFlag;
        case TimingOption::ClientWarning:
            return WarningFlag;
    }
    return 0;
}

}  // namespace

void UpdateDeathTimer(Server& server, std::string_view text) {
    if (text.empty()) {
        return;
    }
    // The word that goes out must be a time: a bigger one would be a mode, warning or add-time
    // command, or a count the console does not count down and would take for its own OffMark.
    if (const std::optional<std::uint32_t> seconds = ParseTime(text);
        seconds && (*seconds & ~PausedFlag) <= kCountingLimit) {
        server.SendToSelected(*seconds);
    }
}

bool IsOptionOn(const Server& server, TimingOption option) {
    return (server.flags() & OptionSwitch(option)) != 0;
}

std::string OptionText(const Server& server, TimingOption option) {
    switch (option) {
        case TimingOption::PeriodicCheck:
            return FormatTime(server.checkPeriod());
        case TimingOption::Timeout:
            return FormatTime(static_cast<std::int32_t>(server.replyTimeout()));
        case TimingOption::ClientWarning:
            if (!IsOptionOn(server, option)) {
                return {};
            }
            return FormatTime(static_cast<std::int32_t>(server.warningTime()));
    }
    return {};
}

void FlipOption(Server& server, TimingOption option) {
    server.setFlags(server.flags() ^ OptionSwitch(option));
}

void SetOption(Server& server, TimingOption option, std::string_view text) {
    const std::optional<std::uint32_t> seconds = ParseTime(text);
    switch (option) {
        case TimingOption::PeriodicCheck:
            if (seconds && static_cast<std::int32_t>(*seconds) >= 1) {
                server.setCheckPeriod(*seconds);
            }
            break;
        case TimingOption::Timeout:
            if (seconds) {
                server.setReplyTimeout(*seconds);
            }
            break;
        case TimingOption::ClientWarning:
            if (seconds && *seconds <= kLongestWarningTime) {
                server.setWarningTime(*seconds);
            }
            server.SendToAllStations(BuildCommand(kWarningBase + server.warningTime()));
            break;
    }
}

}  // namespace vorlek
