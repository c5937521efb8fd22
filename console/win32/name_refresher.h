// Looks the console's row names up on threads of their own, so that a slow name server, or one
// that never answers, holds none of the console's work: a new address at once, and every address
// again and again. Results come back to the console's thread as a posted message; TakeResults()
// collects them there, and AwaitFirst() waits briefly for the first answer of a new one.
#pragma once

#include <windows.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/name_cache.h"

namespace vorlek {

struct RefreshedName {
    Ipv4 address;
    std::optional<std::string> name;
};

class NameRefresher final : public NameRefresh {
public:
    NameRefresher();
    // Further calls of the object's methods after its destruction are never made, but its
    // threads may still be inside a look-up: they keep what they share alive and end by
    // themselves.
    ~NameRefresher() override;
    NameRefresher(const NameRefresher&) = delete;
    NameRefresher& operator=(const NameRefresher&) = delete;

    // Where the results are announced: message is posted to window (nullptr: nowhere) once
    // results wait, and again only after TakeResults(). The threads start here, during the
    // console's start, rather than in its first tick.
    void Announce(HWND window, UINT message);
    // Schedules the addresses; the threads start with the first ones unless started before.
    void LookUpFirst(std::span<const Ipv4> addresses) override;
    FirstAnswer AwaitFirst(Ipv4 address, std::chrono::microseconds longest) override;
    std::vector<RefreshedName> TakeResults();
    // The threads end after their current look-up; one that hangs is abandoned, never waited
    // for, and ends with the process.
    void Stop();

    struct Shared;

private:
    // Once; later calls do nothing.
    void StartThreads();

    std::shared_ptr<Shared> shared_;
    bool started_ = false;
};

}  // namespace vorlek
