// The server's start values, its address array and registry, and the start-up discovery.
#include <map>

#include "engine_test.h"

namespace vorlek::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RegistryTest : public EngineTest {};

TEST_F(RegistryTest, StartValues) {
    Start({kHost1});

    EXPECT_EQ(server->flags(), 0x38u);
    for (const std::int32_t row : server->savedSelection()) {
        ASSERT_EQ(row, -1);
    }
    EXPECT_EQ(server->savedSelection().size(), 2048u);
    EXPECT_EQ(server->checkCounter(), 60);
    EXPECT_EQ(server->checkPeriod(), 60);
    EXPECT_EQ(server->replyTimeout(), 5u);
    EXPECT_EQ(server->lastTick(), room.clock.now);
    EXPECT_EQ(server->warningTime(), 600u);
    EXPECT_THAT(server->stations(), IsEmpty());
    EXPECT_THAT(room.network.sent, IsEmpty());
    EXPECT_THAT(room.journal, IsEmpty());
}

TEST_F(RegistryTest, AddressesGrowAtTheEndWithDuplicatesKept) {
    Start({kHost1, kHost2, kHost3});
    server->AddAddress(kNameless);
    server->AddAddress(kHost2);

    EXPECT_EQ(Addresses(), (std::vector<Ipv4>{kHost1, kHost2, kHost3, kNameless, kHost2}));
    EXPECT_TRUE(server->IsListedAddress(kHost2));
    EXPECT_TRUE(server->IsListedAddress(kNameless));
    EXPECT_FALSE(server->IsListedAddress(kOwn));
}

TEST_F(RegistryTest, RecordsKeepTheirOrderAndTheFirstOfAnAddressIsFound) {
    Start();
    StationRecord& first = server->AppendStation(kHost1);
    server->AppendStation(kHost2);
    StationRecord& second = server->AppendStation(kHost1);
    second.status = 7;
    // Many more records later, the ones found earlier are still where they were.
    for (int i = 0; i < 1000; ++i) {
        server->AppendStation(kNameless);
    }

    EXPECT_EQ(server->FindStation(kHost1), &first);
    EXPECT_EQ(&Record(2), &second);
    EXPECT_EQ(first.status, 0u);
    EXPECT_EQ(first.waitTicks, 0u);
    EXPECT_EQ(first.attemptsLeft, 0u);
    EXPECT_EQ(Record(1).address, kHost2);
    EXPECT_EQ(server->FindStation(kHost3), nullptr);
}

TEST_F(RegistryTest, SendToAllStationsSendsTheBytesToEveryAddressInOrder) {
    Start({kHost2, kHost1, kHost2});
    const std::uint8_t warning[] = {0x03, 0x58, 0x02, 0x00, 0x90};
    server->SendToAllStations(warning);

    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost2, kStationPort, {0x03, 0x58, 0x02, 0x00, 0x90}),
                            To(kHost1, kStationPort, {0x03, 0x58, 0x02, 0x00, 0x90}),
                            To(kHost2, kStationPort, {0x03, 0x58, 0x02, 0x00, 0x90})));

    room.network.sent.clear();
    Start();
    server->SendToAllStations(warning);
    EXPECT_THAT(room.network.sent, IsEmpty());
}

class DiscoveryTest : public EngineTest {
protected:
    // Datagrams that arrive the given number of seconds after the discovery started; a wait with
    // nothing waiting lasts until the next second.
    void Arriving(std::uint32_t second, Ipv4 from, Bytes bytes) {
        schedule_.emplace(second, Arrival{from, std::move(bytes)});
    }

    void Discover() {
        const std::uint32_t start = room.clock.now;
        for (auto [first, last] = schedule_.equal_range(0); first != last; ++first) {
            room.network.Deliver({first->second.from, kStationPort}, first->second.bytes);
        }
        room.network.onWait = [this, start] {
            if (!room.network.HasWaiting()) {
                room.clock.now += 1;
                const auto [first, last] = schedule_.equal_range(room.clock.now - start);
                for (auto it = first; it != last; ++it) {
                    room.network.Deliver({it->second.from, kStationPort}, it->second.bytes);
                }
            }
        };
        server->Discover();
    }

private:
    struct Arrival {
        Ipv4 from;
        Bytes bytes;
    };
    std::multimap<std::uint32_t, Arrival> schedule_;
};

TEST_F(DiscoveryTest, CollectsEachSenderOnceInOrderOfFirstDatagramForFiveSeconds) {
    Start();
    Arriving(0, kOwn, {0x04});  // the broadcast coming back
    Arriving(0, kHost2, {0x04, 0x02, 0x00, 0x00, 0x80});
    Arriving(2, kHost1, {0x01});
    Arriving(2, kHost2, {0x04, 0x02, 0x00, 0x00, 0x80});
    Arriving(3, kNameless, Bytes(600, 0x04));  // too long: the receive fails
    Arriving(5, kHost3, {});
    Arriving(7, kNameless, {0x04, 0x02, 0x00, 0x00, 0x80});  // after the window

    Discover();

    EXPECT_THAT(room.network.sent, ElementsAre(To(0xFFFFFFFF, kStationPort, {0x04})));
    EXPECT_EQ(Addresses(), (std::vector<Ipv4>{kHost2, kHost1, kHost3}));
    EXPECT_THAT(room.network.receiveBufferSizes, ::testing::Each(512u));
    // It waited on the socket instead of spinning, and stopped once the clock passed start + 5.
    EXPECT_LE(room.network.waits, 20);
    EXPECT_EQ(room.clock.now - server->lastTick(), 6u);
    EXPECT_THAT(room.journal, IsEmpty());
}

TEST_F(DiscoveryTest, LetsARoomsAnswersGatherAfterTakingSome) {
    Start();
    Arriving(0, kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});
    Arriving(2, kHost2, {0x04, 0x02, 0x00, 0x00, 0x80});
    // The rest of the room answers while the discovery pauses after its first answer.
    room.network.onPause = [this] {
        room.network.onPause = nullptr;
        room.network.Deliver({kHost3, kStationPort}, {0x04, 0x02, 0x00, 0x00, 0x80});
        room.network.Deliver({kNameless, kStationPort}, {0x01});
    };

    Discover();

    EXPECT_EQ(Addresses(), (std::vector<Ipv4>{kHost1, kHost3, kNameless, kHost2}));
    // A pause after each wait that gave answers, none after the empty ones.
    using std::chrono::milliseconds;
    EXPECT_THAT(room.network.pauses,
                ElementsAre(milliseconds(20), milliseconds(20), milliseconds(20)));
}

TEST_F(DiscoveryTest, KeepsAtMostTheLimitOfStations) {
    Start({kHost1});
    std::vector<Ipv4> expected;
    for (std::size_t i = 0; i < kDiscoveryLimit + 10; ++i) {
        const Ipv4 address = MakeAddress(10, static_cast<std::uint8_t>(i / 65536 + 1),
                                         static_cast<std::uint8_t>(i / 256 % 256),
                                         static_cast<std::uint8_t>(i % 256));
        Arriving(1, address, {0x04, 0x02, 0x00, 0x00, 0x80});
        if (i < kDiscoveryLimit) {
            expected.push_back(address);
        }
    }
    room.network.DeliverFailure();

    Discover();

    EXPECT_EQ(Addresses(), expected);
}

TEST_F(DiscoveryTest, NobodyAnsweringLeavesNoAddresses) {
    Start({kHost1});
    Discover();

    EXPECT_THAT(Addresses(), IsEmpty());
    EXPECT_EQ(room.network.sent.size(), 1u);
}

}  // namespace
}  // namespace vorlek::test
