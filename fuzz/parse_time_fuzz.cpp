// Any text typed into a time field. ParseTime reads only the text it is given, agrees with the C
// library's scanning by the same patterns wherever that scanning is exact (no NUL byte, no number
// of more than nine digits), and reads back every value the console shows.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "console/time_value.h"
#include "fuzz/check.h"

namespace {

using namespace vorlek;

// True when every run of digits is short enough for %d and %lu to hold it without overflow.
bool NumbersFit(std::string_view text) {
    std::size_t run = 0;
    for (const char c : text) {
        run = c >= '0' && c <= '9' ? run + 1 : 0;
        if (run > 9) {
            return false;
        }
    }
    return true;
}

// The patterns " %lu ", " %d:%d " and " %d:%d:%d ", chosen by the number of colons.
std::optional<std::uint32_t> Scanned(const std::string& text) {
    const auto colons = std::count(text.begin(), text.end(), ':');
    if (colons == 0) {
        unsigned long value = 0;
        if (std::sscanf(text.c_str(), " %lu ", &value) != 1) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(value);
    }
    int h = 0;
    int m = 0;
    int s = 0;
    if (colons == 1) {
        if (std::sscanf(text.c_str(), " %d:%d ", &m, &s) != 2) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(m) * 60u + static_cast<std::uint32_t>(s);
    }
    if (std::sscanf(text.c_str(), " %d:%d:%d ", &h, &m, &s) != 3) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(h) * 3600u + static_cast<std::uint32_t>(m) * 60u +
           static_cast<std::uint32_t>(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size buffer without a terminator: a read past the text is an ASan finding.
    const auto buffer = std::make_unique<char[]>(size);
    std::memcpy(buffer.get(), data, size);
    const std::string_view text(buffer.get(), size);

    const std::optional<std::uint32_t> parsed = ParseTime(text);

    if (text.find('\0') == std::string_view::npos && NumbersFit(text)) {
        FUZZ_CHECK(parsed == Scanned(std::string(text)));
    }
    if (parsed) {
        // What the console shows for a value, typed back, is the same value.
        const auto shown = static_cast<std::int32_t>(*parsed);
        FUZZ_CHECK(ParseTime(FormatTime(shown)) == parsed);
    }
    return 0;
}
