#include "server/station_rows.h"

#include "link/protocol.h"
#include "link/scan.h"

namespace vorlek {

namespace {

// before + name + after, with the name shortened until the whole fits in kRowTextLimit.
std::string WithName(std::string_view before, std::string_view name, std::string_view after) {
    const std::size_t fixed = before.size() + after.size();
    const std::size_t room = fixed < kRowTextLimit ? kRowTextLimit - fixed : 0;
    std::string text(before);
    text += name.substr(0, room);
    text += after;
    return text;
}

std::size_t SkipSpace(std::string_view text, std::size_t pos) {
    while (pos < text.size() && IsScanSpace(text[pos])) {
        ++pos;
    }
    return pos;
}

std::size_t SkipWord(std::string_view text, std::size_t pos) {
    while (pos < text.size() && !IsScanSpace(text[pos])) {
        ++pos;
    }
    return pos;
}

}  // namespace

std::string NormalState(std::uint32_t seconds) {
    return " -- state NORMAL, remains " + FormatSeconds(seconds);
}

std::string PausedState(std::uint32_t seconds) {
    return " -- state PAUSED, remains " + FormatSeconds(seconds);
}

std::string OffState(std::uint32_t seconds) {
    std::string state = " -- state OFF";
    if (seconds >= 1 && seconds <= kCountingLimit) {
        state += ", remains " + FormatSeconds(seconds);
    }
    return state;
}

std::string RowText(std::string_view name, Ipv4 address, std::string_view state) {
    std::string after = " ( " + FormatDotted(address) + " )";
    after += state;
    return WithName({}, name, after);
}

std::string NoticeText(std::string_view name, Ipv4 address, std::string_view event) {
    std::string after = "' ( " + FormatDotted(address) + " ) is ";
    after += event;
    return WithName("Client '", name, after);
}

std::optional<std::string_view> RowAddressWord(std::string_view row) {
    std::size_t pos = SkipSpace(row, 0);
    const std::size_t nameEnd = SkipWord(row, pos);
    if (nameEnd == pos) {
        return std::nullopt;
    }
    pos = SkipSpace(row, nameEnd);
    if (pos == row.size() || row[pos] != '(') {
        return std::nullopt;
    }
    pos = SkipSpace(row, pos + 1);
    const std::size_t wordEnd = SkipWord(row, pos);
    if (wordEnd == pos) {
        return std::nullopt;
    }
    return row.substr(pos, wordEnd - pos);
}

}  // namespace vorlek
