#include "console/time_value.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "link/scan.h"

namespace vorlek {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a scanf-style pattern made of numbers and colons over a text, one conversion after the
// other, and stops at the first mismatch.
class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    void SkipSpace() {
        while (pos_ < text_.size() && IsScanSpace(text_[pos_])) {
            ++pos_;
        }
    }

    // A literal character of the pattern; no white space is skipped before it.
    bool Literal(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // %d, %lu: white space, an optional sign, at least one digit; the value wraps at 32 bits as
    // the C runtime's accumulation does.
    std::optional<std::uint32_t> Number() {
        SkipSpace();
        std::size_t pos = pos_;
        bool negative = false;
        if (pos < text_.size() && (text_[pos] == '+' || text_[pos] == '-')) {
            negative = text_[pos] == '-';
            ++pos;
        }
        if (pos >= text_.size() || !IsDigit(text_[pos])) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        while (pos < text_.size() && IsDigit(text_[pos])) {
            value = value * 10u + static_cast<std::uint32_t>(text_[pos] - '0');
            ++pos;
        }
        pos_ = pos;
        return negative ? 0u - value : value;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// Scans count numbers separated by single colons; nullopt unless all of them convert.
std::optional<std::uint32_t> ScanFields(std::string_view text, int count,
                                        std::array<std::uint32_t, 3> weights) {
    Scanner scanner(text);
    std::uint32_t total = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !scanner.Literal(':')) {
            return std::nullopt;
        }
        const std::optional<std::uint32_t> field = scanner.Number();
        if (!field) {
            return std::nullopt;
        }
        total += *field * weights[static_cast<std::size_t>(i)];
    }
    return total;
}

}  // namespace

std::string FormatTime(std::int32_t seconds) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%02d:%02d:%02d", seconds / 3600, seconds % 3600 / 60,
                  seconds % 60);
    return text.data();
}

std::optional<std::uint32_t> ParseTime(std::string_view text) {
    const auto colons = std::count(text.begin(), text.end(), ':');
    if (colons == 0) {
        return ScanFields(text, 1, {1, 0, 0});
    }
    if (colons == 1) {
        return ScanFields(text, 2, {60, 1, 0});
    }
    return ScanFields(text, 3, {3600, 60, 1});
}

}  // namespace vorlek
