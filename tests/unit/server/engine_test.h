// A console engine wired to fakes, with the stations the tests talk about.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "fakes.h"
#include "link/address.h"
#include "server/server.h"

namespace vorlek::test {

inline const Ipv4 kOwn = MakeAddress(198, 51, 100, 1);
inline const Ipv4 kHost1 = MakeAddress(198, 51, 100, 11);  // vlhost1
inline const Ipv4 kHost2 = MakeAddress(198, 51, 100, 12);  // vlhost2
inline const Ipv4 kHost3 = MakeAddress(198, 51, 100, 13);  // vlhost3
inline const Ipv4 kNameless = MakeAddress(198, 51, 100, 14);
// Agents send from port 10001; a different source port shows where answers go.
inline constexpr std::uint16_t kAgentPort = 1027;

using Bytes = std::vector<std::uint8_t>;

class EngineTest : public ::testing::Test {
protected:
    EngineTest() {
        room.names.names = {{kHost1, "vlhost1"}, {kHost2, "vlhost2"}, {kHost3, "vlhost3"}};
    }

    Server& Start(std::vector<Ipv4> listed = {}) {
        server.emplace(room.Ports(), kOwn, HostList(std::move(listed)));
        return *server;
    }

    // One datagram arrives and the socket notification is handled.
    void Receive(Ipv4 from, Bytes bytes, std::uint16_t port = kAgentPort) {
        room.network.Deliver({from, port}, std::move(bytes));
        server->HandleDatagram();
    }

    const StationRecord& Record(std::size_t index) const { return server->stations().at(index); }

    std::vector<Ipv4> Addresses() const {
        const auto listed = server->addresses().Addresses();
        return {listed.begin(), listed.end()};
    }

    // Arms the answer watch of every listed station and lets it run out.
    void LetStationsFallSilent() {
        server->CheckAllStations();
        for (std::uint32_t tick = 0; tick < kAnswerAttempts * server->replyTimeout(); ++tick) {
            server->DetectSilentStations();
        }
    }

    void ClearRecords() {
        room.journal.clear();
        room.network.sent.clear();
        room.boxes.shown.clear();
    }

    Room room;
    std::optional<Server> server;
};

inline SentDatagram To(Ipv4 address, std::uint16_t port, Bytes bytes) {
    return {{address, port}, std::move(bytes)};
}

// The default client warning, 600 s, as it answers a Hello or goes out at the first tick.
inline SentDatagram Warning(Ipv4 address, std::uint16_t port = kAgentPort) {
    return To(address, port, {0x03, 0x58, 0x02, 0x00, 0x90});
}

}  // namespace vorlek::test
