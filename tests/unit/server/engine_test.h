// A console engine wired to fakes, with the stations the tests talk about.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "fakes.h"
#include "link/address.h"
#include "server/server.h"
#include "tests/unit/link/fake_signer.h"

namespace vorlek::test {

inline const Ipv4 kOwn = MakeAddress(198, 51, 100, 1);
inline const Ipv4 kHost1 = MakeAddress(198, 51, 100, 11);  // vlhost1
inline const Ipv4 kHost2 = MakeAddress(198, 51, 100, 12);  // vlhost2
inline const Ipv4 kHost3 = MakeAddress(198, 51, 100, 13);  // vlhost3
inline const Ipv4 kNameless = MakeAddress(198, 51, 100, 14);
// Agents send from port 10001; a different source port shows where answers go.
inline constexpr std::uint16_t kAgentPort = 1027;

using Bytes = std::vector<std::uint8_t>;
// The byte FakeSigner fills the signatures of a signing console's key with.
inline constexpr std::uint8_t kConsoleKey = 0x5C;

class EngineTest : public ::testing::Test {
protected:
    EngineTest() {
        room.names.names = {{kHost1, "vlhost1"}, {kHost2, "vlhost2"}, {kHost3, "vlhost3"}};
    }

    Server& Start(std::vector<Ipv4> listed = {}) {
        server.emplace(room.Ports(), kOwn, HostList(std::move(listed)));
        return *server;
    }

    // A console started with /orders=signed whose key signs as FakeSigner(kConsoleKey).
    Server& StartSigning(std::vector<Ipv4> listed = {}, std::uint64_t lastSequence = 0) {
        signing.emplace(signer, sequences, lastSequence);
        server.emplace(room.Ports(), kOwn, HostList(std::move(listed)), HelloSource::Any,
                       &*signing);
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
    testing::FakeSigner signer{kConsoleKey};
    FakeSequences sequences;
    std::optional<OrderSigning> signing;
    std::optional<Server> server;
};

inline SentDatagram To(Ipv4 address, std::uint16_t port, Bytes bytes) {
    return {{address, port}, std::move(bytes)};
}

// The Command for word signed by the test's console key, FakeSigner's signature being the
// signed message's first 40 bytes (all of it) and then the key's byte.
inline Bytes SignedCommandBytes(StatusWord word, std::uint64_t sequence, Ipv4 station,
                                const Nonce& nonce) {
    Bytes head = {0x03,
                  static_cast<std::uint8_t>(word),
                  static_cast<std::uint8_t>(word >> 8),
                  static_cast<std::uint8_t>(word >> 16),
                  static_cast<std::uint8_t>(word >> 24),
                  0x02};
    for (int i = 0; i < 8; ++i) {
        head.push_back(static_cast<std::uint8_t>(sequence >> (8 * i)));
    }
    Bytes bytes = head;
    bytes.insert(bytes.end(), kOrderDomain.begin(), kOrderDomain.end());
    const auto* octets = reinterpret_cast<const std::uint8_t*>(&station);
    bytes.insert(bytes.end(), octets, octets + 4);
    bytes.insert(bytes.end(), nonce.begin(), nonce.end());
    bytes.insert(bytes.end(), head.begin(), head.end());
    bytes.resize(kSignedCommandSize, kConsoleKey);
    return bytes;
}

// The default client warning, 600 s, as it answers a Hello or goes out at the first tick.
inline SentDatagram Warning(Ipv4 address, std::uint16_t port = kAgentPort) {
    return To(address, port, {0x03, 0x58, 0x02, 0x00, 0x90});
}

}  // namespace vorlek::test
