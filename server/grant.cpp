#include "server/grant.h"

#include <algorithm>

namespace vorlek {

namespace {

bool IsTimed(StationState state) {
    return state == StationState::NORMAL || state == StationState::PAUSED;
}

}  // namespace

Grant GrantAt(const Grant& grant, std::uint64_t nowMs) {
    if (grant.state != StationState::NORMAL) {
        return {grant.state, grant.seconds, nowMs};
    }
    const std::uint64_t elapsed = nowMs > grant.atMs ? (nowMs - grant.atMs) / 1000 : 0;
    if (elapsed >= grant.seconds) {
        return {StationState::BLOCKED, 0, nowMs};
    }
    // Whole seconds only: the part of a second already counted stays in atMs.
    return {StationState::NORMAL, grant.seconds - static_cast<std::uint32_t>(elapsed),
            grant.atMs + elapsed * 1000};
}

Grant GrantAfter(const Grant& before, StatusWord word, std::uint64_t nowMs) {
    Grant grant = GrantAt(before, nowMs);
    grant.atMs = nowMs;
    const DecodedCommand command = DecodeCommand(word);
    switch (command.kind) {
        case CommandKind::AddTime:
            if (grant.state == StationState::UNLIMITED) {
                break;
            }
            if (!IsTimed(grant.state)) {
                grant = {StationState::NORMAL, 0, nowMs};
            }
            grant.seconds = grant.seconds + std::min(command.value, kCountingLimit - grant.seconds);
            break;
        case CommandKind::SetWarning:
            break;
        case CommandKind::SetTime:
            if (grant.state != StationState::PAUSED) {
                grant.state = StationState::NORMAL;
            }
            grant.seconds = command.value;
            break;
        case CommandKind::Mode:
            switch (static_cast<ModeCommand>(command.value)) {
                case ModeCommand::Pause:
                    if (grant.state == StationState::NORMAL) {
                        grant.state = StationState::PAUSED;
                    }
                    break;
                case ModeCommand::Resume:
                    if (grant.state == StationState::PAUSED) {
                        grant.state = StationState::NORMAL;
                    }
                    break;
                case ModeCommand::Unlimited:
                case ModeCommand::Free:
                case ModeCommand::Block:
                    grant = {static_cast<StationState>(command.value), 0, nowMs};
                    break;
                default:
                    // Log-off, reboot and unknown modes grant nothing; a station that ends its
                    // run gets its grant back when it comes again.
                    break;
            }
            break;
    }
    return grant;
}

Grant LowerByReport(const Grant& grant, StatusWord reported, std::uint64_t nowMs) {
    Grant lowered = GrantAt(grant, nowMs);
    const ReportedStatus report = ClassifyReport(reported);
    if (report.state == StationState::BLOCKED) {
        return {StationState::BLOCKED, 0, nowMs};
    }
    if (IsTimed(lowered.state) && IsTimed(report.state) && report.seconds) {
        lowered.seconds = std::min(lowered.seconds, *report.seconds);
    }
    return lowered;
}

StatusWord RestoreWord(const Grant& grant) {
    switch (grant.state) {
        case StationState::NORMAL:
            return grant.seconds;
        case StationState::PAUSED:
            return grant.seconds + PausedFlag;
        default:
            return ModeWord(grant.state);
    }
}

bool GivesTime(StatusWord word) {
    const DecodedCommand command = DecodeCommand(word);
    switch (command.kind) {
        case CommandKind::AddTime:
            return command.value > 0;
        case CommandKind::SetTime:
            return true;
        case CommandKind::SetWarning:
            return false;
        case CommandKind::Mode:
            return command.value == static_cast<std::uint32_t>(ModeCommand::Unlimited) ||
                   command.value == static_cast<std::uint32_t>(ModeCommand::Free) ||
                   command.value == static_cast<std::uint32_t>(ModeCommand::Resume);
    }
    return false;
}

std::string WithheldText(std::size_t rows) {
    return "Signed orders: nothing was sent to " + std::to_string(rows) +
           (rows == 1 ? " row" : " rows") +
           " that the console selected itself.\nSelect the stations yourself, then press the "
           "button again.";
}

}  // namespace vorlek
