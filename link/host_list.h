// The list of peers a program reads from "clients" (console) or "servers" (agent): one peer per
// line, its first word a dotted address or a digit-free host name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/address.h"
#include "link/network.h"

namespace vorlek {

// A line is read with at most this many characters; the rest of a longer line is the next line.
inline constexpr std::size_t kHostListLineLimit = 511;

// The addresses in file order. 0 is the end mark: an entry of 0 (0.0.0.0 in a file) hides every
// later entry from everyone who walks the list, as it would in a zero-terminated array.
class HostList {
public:
    HostList() = default;
    explicit HostList(std::vector<Ipv4> stored) : stored_(std::move(stored)) {}

    // The entries before the first 0.
    std::span<const Ipv4> Addresses() const;
    bool Empty() const { return Addresses().empty(); }
    bool Contains(Ipv4 address) const;
    // Appends after the last walked entry; entries hidden behind a 0 are dropped.
    void Append(Ipv4 address);

private:
    std::vector<Ipv4> stored_;
};

// Reads a host-list file in text mode; a missing file gives an empty list. Numeric words equal to
// ownAddress are left out; a host name that resolves to it stays.
HostList ReadHostList(const char* fileName, Ipv4 ownAddress, NameService& names);
// The same for a file already open for reading.
HostList ReadHostList(std::FILE* file, Ipv4 ownAddress, NameService& names);

// Whether a host-list file names anybody: a line whose first word is no comment.
bool NamesAnyHost(std::FILE* file);

// A host list that an installer writes from the addresses an administrator gave: entries
// separated by commas, blanks around them allowed, each a dotted address or a computer name
// without digits (a word with a digit is read as an address). lines holds one entry per line,
// each ended by CR LF; problem is empty when every entry is usable, else it says why not.
struct HostListText {
    std::string lines;
    std::string problem;
};
HostListText HostListFromEntries(std::string_view entries);

}  // namespace vorlek
