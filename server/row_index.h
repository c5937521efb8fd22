// The address of every row of the station list, kept beside the list in the list's order, so
// that a station's row is found without reading and parsing the rows one by one.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "link/address.h"

namespace vorlek {

class RowIndex {
public:
    // The row text was placed at index (the list's answer to the add); rows from index on move
    // down by one.
    void Added(int index, std::string_view text);
    // The row at index was deleted; an index beyond the last row changes nothing.
    void Deleted(int index);

    // The index of the first row, in list order, whose address part is the address, or -1.
    int Find(Ipv4 address) const;
    // How many rows have the address.
    int Count(Ipv4 address) const;
    std::size_t size() const { return rows_.size(); }

    // True when no row but the one just added with this text can begin with it, letter case
    // ignored: its address word is plain dotted decimal followed by white space, and no other
    // row has that address. The list's prefix search for the text then finds the added row.
    bool IsOnlyRowWithPrefix(std::string_view text) const;

    // The address a row text is found by: its address word (" %s ( %s ) "), converted as
    // dotted-quad text is; nullopt when the text has no address word.
    static std::optional<Ipv4> AddressOf(std::string_view text);

private:
    std::vector<std::optional<Ipv4>> rows_;
    std::unordered_map<Ipv4, int> counts_;
};

}  // namespace vorlek
