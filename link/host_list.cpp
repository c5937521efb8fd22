#include "link/host_list.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "link/scan.h"

namespace vorlek {

std::span<const Ipv4> HostList::Addresses() const {
    const auto end = std::find(stored_.begin(), stored_.end(), Ipv4{0});
    return {stored_.data(), static_cast<std::size_t>(end - stored_.begin())};
}

bool HostList::Contains(Ipv4 address) const {
    const auto walked = Addresses();
    return std::find(walked.begin(), walked.end(), address) != walked.end();
}

void HostList::Append(Ipv4 address) {
    stored_.resize(Addresses().size());
    stored_.push_back(address);
}

namespace {

// The entry a line gives, if any: numeric when a digit stands anywhere in the line, otherwise a
// host name to resolve.
std::optional<Ipv4> EntryOf(std::string_view line, Ipv4 ownAddress, NameService& names) {
    const std::string_view word = FirstWord(line);
    if (word.empty() || word.front() == '#') {
        return std::nullopt;
    }
    if (line.find_first_of("0123456789") != std::string_view::npos) {
        const Ipv4 address = InetAddr(word);
        if (address == kInetNone || address == ownAddress) {
            return std::nullopt;
        }
        return address;
    }
    return names.LookUpName(std::string(word));
}

}  // namespace

HostList ReadHostList(std::FILE* file, Ipv4 ownAddress, NameService& names) {
    std::vector<Ipv4> entries;
    char line[kHostListLineLimit + 1];
    // A read that returns nothing ends the file; a read error ends it too, rather than spinning.
    while (std::fgets(line, sizeof line, file) != nullptr) {
        // The scan and the digit test both see the line up to its first NUL byte.
        if (const auto entry =
                EntryOf(std::string_view(line, std::strlen(line)), ownAddress, names)) {
            entries.push_back(*entry);
        }
    }
    return HostList(std::move(entries));
}

HostList ReadHostList(const char* fileName, Ipv4 ownAddress, NameService& names) {
    std::FILE* file = std::fopen(fileName, "rt");
    if (file == nullptr) {
        return HostList();
    }
    HostList list = ReadHostList(file, ownAddress, names);
    std::fclose(file);
    return list;
}

}  // namespace vorlek
