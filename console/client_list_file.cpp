#include "console/client_list_file.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include "link/address.h"
#include "link/scan.h"
#include "link/stdio_file.h"

namespace vorlek {

namespace {

// One line with its line end, if the file had one; nullopt at the end of the file.
std::optional<std::string> ReadLine(std::FILE* file) {
    std::string line;
    int c = 0;
    while ((c = std::fgetc(file)) != EOF) {
        line.push_back(static_cast<char>(c));
        if (c == '\n') {
            break;
        }
    }
    if (line.empty()) {
        return std::nullopt;
    }
    return line;
}

bool IsComment(std::string_view word) {
    return !word.empty() && word.front() == '#';
}

// Copies the comment lines that come before the first entry; blank lines among them are left
// out. False when a write failed.
bool CopyLeadingComments(std::FILE* from, std::FILE* to) {
    while (const std::optional<std::string> line = ReadLine(from)) {
        const std::string_view word = FirstWord(*line);
        if (word.empty()) {
            continue;
        }
        if (!IsComment(word)) {
            break;
        }
        // Whole, as it was read: fputs would stop at a NUL byte and drop the line end.
        if (std::fwrite(line->data(), 1, line->size(), to) != line->size()) {
            return false;
        }
    }
    return true;
}

bool WriteEntries(const std::vector<std::string>& entries, std::FILE* to) {
    for (const std::string& entry : entries) {
        if (std::fputc('\n', to) == EOF || std::fputs(entry.c_str(), to) == EOF) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<std::string> ReadClientEntries(std::FILE* file) {
    std::vector<std::string> entries;
    while (const std::optional<std::string> line = ReadLine(file)) {
        const std::string_view word = FirstWord(*line);
        if (!word.empty() && !IsComment(word)) {
            entries.emplace_back(word);
        }
    }
    return entries;
}

std::vector<std::string> UnreadableEntries(const std::vector<std::string>& entries) {
    std::vector<std::string> unreadable;
    for (const std::string& entry : entries) {
        const std::string_view word = FirstWord(entry);
        if (word.empty()) {
            continue;
        }
        // The reader takes a line with a digit anywhere in it for an address.
        const bool numeric = entry.find_first_of("0123456789") != std::string::npos;
        const Ipv4 address = numeric ? InetAddr(word) : kInetNone;
        if (IsComment(word) || (numeric && (address == kInetNone || address == 0))) {
            unreadable.push_back(entry);
        }
    }
    return unreadable;
}

std::optional<SaveFailure> SaveClientList(const std::vector<std::string>& entries,
                                          ClientListFiles& files) {
    errno = 0;
    std::FILE* out = files.Open(kNewClientListFile, "w");
    if (out == nullptr) {
        return SaveFailure{kNewClientListFile, std::strerror(errno)};
    }
    std::optional<SaveFailure> failure;
    if (UniqueFile in{files.Open(kClientListFile, "r")}) {
        if (!CopyLeadingComments(in.get(), out)) {
            failure = SaveFailure{kNewClientListFile, std::strerror(errno)};
        } else if (std::ferror(in.get()) != 0) {
            failure = SaveFailure{kClientListFile, std::strerror(errno)};
        }
    }
    if (!failure && !WriteEntries(entries, out)) {
        failure = SaveFailure{kNewClientListFile, std::strerror(errno)};
    }
    // The close flushes the buffer, so it is the write that most often fails (a full disk).
    if (std::fclose(out) != 0 && !failure) {
        failure = SaveFailure{kNewClientListFile, std::strerror(errno)};
    }
    if (!failure) {
        std::optional<std::string> reason = files.Replace(kNewClientListFile, kClientListFile);
        if (!reason) {
            return std::nullopt;
        }
        failure = SaveFailure{kClientListFile, std::move(*reason)};
    }
    files.Remove(kNewClientListFile);
    return failure;
}

}  // namespace vorlek
