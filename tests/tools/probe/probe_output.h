// What the probe prints: one UTF-8 line per result on stdout, flushed at once so that a test
// reading the output of a running probe sees each line as soon as it is printed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorlek::probe {

// Exit codes of every subcommand.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

// Puts stdout into binary mode, so that lines end in "\n" alone.
void InitOutput();

std::string Utf8(std::wstring_view text);
std::wstring Wide(std::string_view utf8);

// Backslash, tab, carriage return and line feed as \\, \t, \r and \n: one result stays on one
// line and a field never holds a tab.
std::string Escaped(std::wstring_view text);

void PrintLine(std::string_view line);

// A whole argument as a number: decimal, or hexadecimal after 0x; nullopt otherwise.
std::optional<unsigned long> Number(std::wstring_view text);

}  // namespace vorlek::probe
