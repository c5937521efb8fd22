#include "server/server_switches.h"

#include <vector>

#include "link/switches.h"

namespace vorlek {

namespace {

// The values in the order of the enumerations, the defaults first.
const SwitchForm kServerSwitches[] = {
    {"hellos", {"any", "listed"}},
    {"notices", {"each", "summary"}},
    {"orders", {"unsigned", "signed"}},
};

constexpr std::string_view kProgram = "VorlekServer.exe";
// The journal's folder is any text, its letter case kept: it is read apart from the others.
constexpr std::string_view kJournalSwitch = "/journal=";
constexpr std::string_view kJournalUsage = " [/journal=FOLDER]";

std::string JournalFault(std::string_view what, const std::string& word) {
    return std::string(what) + " \"" + word + "\".\n" + SwitchUsage(kServerSwitches, kProgram) +
           std::string(kJournalUsage);
}

bool IsJournalWord(const std::string& word) {
    if (word.size() < kJournalSwitch.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kJournalSwitch.size(); ++i) {
        const char c = word[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kJournalSwitch[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<std::string> ReadServerSwitches(std::span<const std::string> words,
                                              ServerSwitches& switches) {
    std::vector<std::string> others;
    std::optional<std::string> journal;
    for (const std::string& word : words) {
        if (!IsJournalWord(word)) {
            others.push_back(word);
        } else if (journal) {
            return JournalFault("Switch given twice:", word);
        } else if (word.size() == kJournalSwitch.size()) {
            return JournalFault("Unknown value in", word);
        } else {
            journal = word.substr(kJournalSwitch.size());
        }
    }
    SwitchReading reading = ReadSwitches(others, kServerSwitches, kProgram);
    if (reading.fault) {
        return reading.fault->append(kJournalUsage);
    }
    switches.hellos = static_cast<HelloSource>(reading.chosen[0]);
    switches.notices = static_cast<NoticeMode>(reading.chosen[1]);
    switches.orders = static_cast<ConsoleOrders>(reading.chosen[2]);
    switches.journal = std::move(journal);
    return std::nullopt;
}

}  // namespace vorlek
