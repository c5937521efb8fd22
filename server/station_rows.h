// The texts the console writes about a station: its row in the station list and the notices
// shown to the operator. Every text begins with the station's name and dotted address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/address.h"

namespace vorlek {

// A row or notice text holds at most this many characters (the list box's 256-byte buffers).
inline constexpr std::size_t kRowTextLimit = 255;

// Shown instead of a host name when the reverse look-up gives none.
inline constexpr std::string_view kUnknownName = "N/A";

// The state part that follows "%s ( %s )" in a row.
std::string NormalState(std::uint32_t seconds);  // " -- state NORMAL, remains hh:mm:ss"
std::string PausedState(std::uint32_t seconds);  // " -- state PAUSED, remains hh:mm:ss"
std::string OffState(std::uint32_t seconds);  // " -- state OFF", ", remains ..." when 1..0xFFFFFF
inline constexpr std::string_view kUnlimitedState = " -- state UNLIMITED";
inline constexpr std::string_view kAvailableState = " -- state AVAILABLE";
inline constexpr std::string_view kBlockedState = " -- state BLOCKED";

// "%s ( %s )" followed by the state. A name too long for kRowTextLimit is cut, so that the
// address and the state stay whole and the row can still be found by its address.
std::string RowText(std::string_view name, Ipv4 address, std::string_view state = {});

// "Client '%s' ( %s ) is <event>", the name cut the same way.
std::string NoticeText(std::string_view name, Ipv4 address, std::string_view event);

// The address word of a row, read as the pattern " %s ( %s ) " reads it: the second
// white-space-delimited word after a first word and a "(". nullopt when the row has no such word.
std::optional<std::string_view> RowAddressWord(std::string_view row);

}  // namespace vorlek
