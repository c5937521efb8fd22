// The station-list editor's side of "clients": the entries it shows, and the save that rewrites
// the file through "newclients" without ever leaving the operator without a list.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlek {

inline constexpr const char* kClientListFile = "clients";
inline constexpr const char* kNewClientListFile = "newclients";

// The files the editor touches, by name, in the program's current directory.
class ClientListFiles {
public:
    virtual ~ClientListFiles() = default;
    // std::fopen; mode "r" or "w" (text mode, so line ends are the platform's). When it fails,
    // errno says why.
    virtual std::FILE* Open(const char* name, const char* mode) = 0;
    // Puts from in the place of to in one step, to included; when that failed, the system's
    // words for why.
    virtual std::optional<std::string> Replace(const char* from, const char* to) = 0;
    virtual void Remove(const char* name) = 0;
};

// Why a save failed: the file that could not be written or put in place, and the system's words.
struct SaveFailure {
    const char* file;
    std::string reason;
};

// The first word of every line that is neither blank nor a comment (a word beginning with "#"),
// in file order. A line is taken whole, whatever its length.
std::vector<std::string> ReadClientEntries(std::FILE* file);

// The entries that the host-list reader of the console's start will not take as a station once
// saved, in the given order: a word with a digit anywhere in its line that is no dotted address
// (a name such as "PC07"), the address 0.0.0.0 (which would end the list there), and a word
// that begins with "#" (a comment). Empty entries are left out; they name nobody.
std::vector<std::string> UnreadableEntries(const std::vector<std::string>& entries);

// Writes the comment lines that lead "clients" (each as it was read, its line end included),
// then a newline and an entry for every row, with no line end after the last entry, into
// "newclients"; then replaces "clients" with it. When any step fails, "clients" is left as it
// was, "newclients" is removed, and the result says what failed.
std::optional<SaveFailure> SaveClientList(const std::vector<std::string>& entries,
                                          ClientListFiles& files);

}  // namespace vorlek
