// Reading words out of text the way the C library's formatted input does: the files and rows of
// the system are read with patterns like " %s ", so white space and words mean the same as there.
#pragma once

#include <string_view>

namespace vorlek {

// White space of the "C" locale: what a space in a scan pattern skips and what ends a %s word.
constexpr bool IsScanSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The first run of non-white-space characters, as " %s " takes it; empty when there is none. Like
// the scan itself, it sees the text only up to its first NUL byte.
constexpr std::string_view FirstWord(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::size_t begin = 0;
    while (begin < text.size() && IsScanSpace(text[begin])) {
        ++begin;
    }
    std::size_t end = begin;
    while (end < text.size() && !IsScanSpace(text[end])) {
        ++end;
    }
    return text.substr(begin, end - begin);
}

}  // namespace vorlek
