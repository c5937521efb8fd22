#include "server/row_index.h"

#include <algorithm>

#include "server/station_rows.h"

namespace vorlek {

std::optional<Ipv4> RowIndex::AddressOf(std::string_view text) {
    const auto word = RowAddressWord(text);
    if (!word) {
        return std::nullopt;
    }
    return InetAddr(*word);
}

void RowIndex::Added(int index, std::string_view text) {
    if (index < 0 || static_cast<std::size_t>(index) > rows_.size()) {
        return;
    }
    const auto address = AddressOf(text);
    rows_.insert(rows_.begin() + index, address);
    if (address) {
        ++counts_[*address];
    }
}

void RowIndex::Deleted(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= rows_.size()) {
        return;
    }
    const auto address = rows_[static_cast<std::size_t>(index)];
    rows_.erase(rows_.begin() + index);
    if (address) {
        const auto count = counts_.find(*address);
        if (--count->second == 0) {
            counts_.erase(count);
        }
    }
}

int RowIndex::Find(Ipv4 address) const {
    if (Count(address) == 0) {
        return -1;
    }
    const auto found = std::find(rows_.begin(), rows_.end(), std::optional<Ipv4>(address));
    return static_cast<int>(found - rows_.begin());
}

bool RowIndex::IsOnlyRowWithPrefix(std::string_view text) const {
    const auto word = RowAddressWord(text);
    // A word that ends the text could go on in a longer row; one with letters (hexadecimal, or
    // no address at all) could match another row's word in another letter case.
    if (!word || word->data() + word->size() == text.data() + text.size()) {
        return false;
    }
    const Ipv4 address = InetAddr(*word);
    return FormatDotted(address) == *word && Count(address) == 1;
}

int RowIndex::Count(Ipv4 address) const {
    const auto count = counts_.find(address);
    return count == counts_.end() ? 0 : count->second;
}

}  // namespace vorlek
