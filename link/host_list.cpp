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

bool NamesAnyHost(std::FILE* file) {
    char line[kHostListLineLimit + 1];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        const std::string_view word = FirstWord(std::string_view(line, std::strlen(line)));
        if (!word.empty() && word.front() != '#') {
            return true;
        }
    }
    return false;
}

namespace {

constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr bool IsNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
}

// text between double quotes, followed by what is said of it.
std::string Quoted(std::string_view text, std::string_view said) {
    std::string quoted;
    quoted.append("\"").append(text).append("\"").append(said);
    return quoted;
}

// Why an entry cannot stand in a host list, or nothing when it can.
std::string ProblemOf(std::string_view entry) {
    const bool numeric = entry.find_first_of("0123456789") != std::string_view::npos;
    const bool named = std::any_of(entry.begin(), entry.end(), IsNameCharacter);
    // A number that is no address, the 0 that would hide every later entry, or mere dots.
    const bool unusable =
        numeric ? named || InetAddr(entry) == kInetNone || InetAddr(entry) == 0 : !named;
    if (unusable) {
        return Quoted(entry, " is neither a dotted address nor a computer name without digits.");
    }
    return {};
}

}  // namespace

HostListText HostListFromEntries(std::string_view entries) {
    HostListText text;
    std::size_t begin = 0;
    while (true) {
        const std::size_t comma = std::min(entries.find(',', begin), entries.size());
        std::string_view entry = entries.substr(begin, comma - begin);
        while (!entry.empty() && entry.front() == ' ') {
            entry.remove_prefix(1);
        }
        while (!entry.empty() && entry.back() == ' ') {
            entry.remove_suffix(1);
        }
        const bool last = comma == entries.size();
        if (entry.empty()) {
            // Nothing at all is a list without entries; an empty place between commas is not.
            if (!last || !text.lines.empty()) {
                text.problem = "An address is missing in " + Quoted(entries, ".");
            }
            break;
        }
        if (const std::size_t blank = entry.find(' '); blank != std::string_view::npos) {
            const std::size_t next = entry.find_first_not_of(' ', blank);
            std::string shown(entry.substr(0, blank));
            shown.append(" ").append(1, entry[next]).append("...");
            text.problem = Quoted(shown, " holds a blank: separate addresses with commas.");
            break;
        }
        const auto usable = [](char c) { return IsDigit(c) || IsNameCharacter(c) || c == '.'; };
        if (!std::all_of(entry.begin(), entry.end(), usable)) {
            text.problem =
                Quoted(entries, " holds a character that no address or computer name holds.");
            break;
        }
        text.problem = ProblemOf(entry);
        if (!text.problem.empty()) {
            break;
        }
        text.lines.append(entry).append("\r\n");
        if (last) {
            break;
        }
        begin = comma + 1;
    }
    if (!text.problem.empty()) {
        text.lines.clear();
    }
    return text;
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
