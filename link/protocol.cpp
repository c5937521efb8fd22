#include "link/protocol.h"

#include <cstdio>

namespace vorlek {

namespace {

WordDatagram BuildWordDatagram(DatagramType type, StatusWord word) {
    return {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(word & 0xFF),
            static_cast<std::uint8_t>((word >> 8) & 0xFF),
            static_cast<std::uint8_t>((word >> 16) & 0xFF),
            static_cast<std::uint8_t>((word >> 24) & 0xFF)};
}

}  // namespace

ShortDatagram BuildHello() {
    return {static_cast<std::uint8_t>(DatagramType::Hello)};
}

ShortDatagram BuildStatusRequest() {
    return {static_cast<std::uint8_t>(DatagramType::Status)};
}

WordDatagram BuildCommand(StatusWord word) {
    return BuildWordDatagram(DatagramType::Command, word);
}

WordDatagram BuildStatusReport(StatusWord word) {
    return BuildWordDatagram(DatagramType::Status, word);
}

std::optional<Datagram> ReadDatagram(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return std::nullopt;
    }
    Datagram datagram;
    datagram.type = bytes[0];
    if (bytes.size() >= 5) {
        datagram.word = static_cast<StatusWord>(bytes[1]) | static_cast<StatusWord>(bytes[2]) << 8 |
                        static_cast<StatusWord>(bytes[3]) << 16 |
                        static_cast<StatusWord>(bytes[4]) << 24;
    }
    return datagram;
}

StatusWord EncodeReport(StationState state, std::uint32_t remaining) {
    switch (state) {
        case StationState::NORMAL:
            return remaining;
        case StationState::PAUSED:
            return remaining + PausedFlag;
        default:
            return kModeBase + static_cast<std::uint32_t>(state);
    }
}

ReportedStatus ClassifyReport(StatusWord word) {
    switch (word) {
        case ModeWord(StationState::UNLIMITED):
            return {StationState::UNLIMITED, std::nullopt};
        case ModeWord(StationState::PAUSED):
            return {StationState::PAUSED, std::nullopt};
        case ModeWord(StationState::AVAILABLE):
            return {StationState::AVAILABLE, std::nullopt};
        case ModeWord(StationState::BLOCKED):
            return {StationState::BLOCKED, std::nullopt};
        default:
            break;
    }
    if (word >= PausedFlag) {
        return {StationState::PAUSED, word & 0x00FFFFFFu};
    }
    return {StationState::NORMAL, word};
}

DecodedCommand DecodeCommand(StatusWord word) {
    if (word >= kAddTimeBase) {
        return {CommandKind::AddTime, word - kAddTimeBase};
    }
    if (word >= kWarningBase) {
        return {CommandKind::SetWarning, word - kWarningBase};
    }
    if (word < kModeBase) {
        return {CommandKind::SetTime, word};
    }
    return {CommandKind::Mode, word - kModeBase};
}

StatusWord OperatorWord(StatusWord word) {
    if (word == 0) {
        word = ModeWord(ModeCommand::Block);
    }
    return word & ~PausedFlag;
}

std::string FormatSeconds(std::uint32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds % 3600 / 60,
                  seconds % 60);
    return text;
}

}  // namespace vorlek
