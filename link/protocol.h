// The datagrams that cross the network between console and agents, and the 32-bit status word
// most of them carry. Every datagram goes to UDP port 10001; the word travels little-endian in
// bytes 1 to 4, directly after the type byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "link/network.h"

namespace vorlek {

using StatusWord = std::uint32_t;

// Both programs bind this port and send every datagram to it.
inline constexpr std::uint16_t kStationPort = 10001;
// 255.255.255.255: the same value in either byte order.
inline constexpr std::uint32_t kBroadcastAddress = 0xFFFFFFFFu;

// Port 10001 of a host, or of every host for kBroadcastAddress.
inline constexpr Peer StationPeer(Ipv4 address) {
    return {address, kStationPort};
}

// Byte 0 of a datagram. Type 4 is a StatusRequest from a console and a StatusReport from an agent.
enum class DatagramType : std::uint8_t {
    Hello = 1,
    Command = 3,
    Status = 4,
};

// The mode of a station. An agent may hold other values (a mode command stores any x); the enum
// has a fixed underlying type, so every 32-bit value is representable.
enum class StationState : std::uint32_t {
    UNLIMITED = 0,
    PAUSED = 1,
    AVAILABLE = 2,
    BLOCKED = 3,
    NORMAL = 4,
};

// Added to the seconds in the report of a paused agent.
inline constexpr StatusWord PausedFlag = 0x20000000u;
// Set by the console in the stored word of a station that stopped answering; never on the wire.
inline constexpr StatusWord OffMark = 0x10000000u;
// Mode commands and mode reports are this base plus the state or command number.
inline constexpr StatusWord kModeBase = 0x80000000u;
// Command words at or above these bases set the warning threshold or add time.
inline constexpr StatusWord kWarningBase = 0x90000000u;
inline constexpr StatusWord kAddTimeBase = 0xC0000000u;
// The longest warning time a warning command carries; a longer one would be an add-time word.
inline constexpr std::uint32_t kLongestWarningTime = kAddTimeBase - 1u - kWarningBase;
// Stored words up to this value are plain counts of seconds that the console counts down.
inline constexpr StatusWord kCountingLimit = 0x00FFFFFFu;

// Mode command numbers x of the word kModeBase + x.
enum class ModeCommand : std::uint32_t {
    Unlimited = 0,
    Pause = 1,
    Free = 2,
    Block = 3,
    Resume = 5,
    LogOff = 7,
    Reboot = 8,
};

inline constexpr StatusWord ModeWord(ModeCommand x) {
    return kModeBase + static_cast<std::uint32_t>(x);
}
inline constexpr StatusWord ModeWord(StationState s) {
    return kModeBase + static_cast<std::uint32_t>(s);
}

using ShortDatagram = std::array<std::uint8_t, 1>;
using WordDatagram = std::array<std::uint8_t, 5>;

ShortDatagram BuildHello();
ShortDatagram BuildStatusRequest();
WordDatagram BuildCommand(StatusWord word);
WordDatagram BuildStatusReport(StatusWord word);

// What a receiver may act on. An empty datagram has no type; a word is present only when all
// five bytes were received, so nothing past the received bytes is ever read.
struct Datagram {
    std::uint8_t type = 0;
    std::optional<StatusWord> word;
};
std::optional<Datagram> ReadDatagram(std::span<const std::uint8_t> bytes);

// The word an agent reports about itself.
StatusWord EncodeReport(StationState state, std::uint32_t remaining);

// The console's reading of a reported word, tested in this order: the four exact mode words,
// then any other word of PausedFlag or more (paused, low 24 bits are seconds), then seconds.
struct ReportedStatus {
    StationState state;
    // Absent for the three time-less states and for 0x80000001, whose seconds are the ones
    // the console has stored for the station.
    std::optional<std::uint32_t> seconds;
};
ReportedStatus ClassifyReport(StatusWord word);

// The agent's reading of a command word, by range in this order: add time, warning threshold,
// set time, mode command.
enum class CommandKind { AddTime, SetWarning, SetTime, Mode };
struct DecodedCommand {
    CommandKind kind;
    std::uint32_t value;  // seconds, or the mode number x
};
DecodedCommand DecodeCommand(StatusWord word);

// The rule every operator command passes before it is sent: 0 becomes a block, then the
// PausedFlag bit is cleared.
StatusWord OperatorWord(StatusWord word);

// Seconds as hours, minutes and seconds, "%02d:%02d:%02d"; hours may take more digits.
std::string FormatSeconds(std::uint32_t seconds);

}  // namespace vorlek
