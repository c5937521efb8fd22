// Time values as the operator reads and types them: seconds shown as hours:minutes:seconds, and
// the three forms a typed text may take (seconds, minutes:seconds, hours:minutes:seconds).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlek {

// "%02d:%02d:%02d" of seconds / 3600, seconds % 3600 / 60 and seconds % 60, taken as a signed
// 32-bit count: 60 is "00:01:00", 90000 is "25:00:00".
std::string FormatTime(std::int32_t seconds);

// The seconds a typed text stands for, classified by its colons: none reads " %lu ", one reads
// " %d:%d " (minutes, seconds), two or more read " %d:%d:%d " (hours, minutes, seconds). Each
// number is scanned as the C library scans it (leading white space, an optional sign, decimal
// digits) and the sum is taken modulo 2^32: "1:90" is 150, "10 minutes" is 10, "1:2:3:4" is
// 3723, "-1" is 0xFFFFFFFF. nullopt when a number is missing, as for "" or "abc".
std::optional<std::uint32_t> ParseTime(std::string_view text);

}  // namespace vorlek
