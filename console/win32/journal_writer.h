// /journal=FOLDER: writes the console's journal lines on a thread of its own, so that a slow or
// full disk never holds the console's thread. Lines wait in a bounded queue; when it is full,
// further lines are counted and one line says how many were lost. A write that fails is told once
// in a box (shown by the writer's thread), and the console goes on.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "server/time_journal.h"

namespace vorlek {

class JournalWriter final : public TimeJournal {
public:
    // Makes the folder when it is missing. The text of the box that refuses the start when
    // today's file cannot be written there; nullopt when it can.
    static std::optional<std::string> Refusal(const std::string& folder);

    JournalWriter(std::string folder, Ipv4 console);
    // Writes what waits, for a short while at most.
    ~JournalWriter() override;
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    void Record(const JournalEntry& entry) override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    HANDLE thread_ = nullptr;
};

}  // namespace vorlek
