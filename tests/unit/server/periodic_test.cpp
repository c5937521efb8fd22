// The one-second work: countdowns, the periodic check, the answer watch and the population.
#include "engine_test.h"

namespace vorlek::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class PeriodicTest : public EngineTest {
protected:
    // A listed station that has reported the given word (its first report gives it a row).
    void Reporting(Ipv4 address, Bytes report) { Receive(address, std::move(report)); }

    void Tick(std::uint32_t seconds = 1) {
        room.clock.now += seconds;
        server->OnTimerTick();
    }
};

TEST_F(PeriodicTest, CountdownFollowsTheClockNotTheTicks) {
    Start({kHost1});
    server->PopulateStations();
    Reporting(kHost1, {0x04, 0x5A, 0x00, 0x00, 0x00});
    ClearRecords();

    room.clock.now += 1;
    server->RefreshCountdowns();
    EXPECT_THAT(room.rows.Rows(),
                ElementsAre("vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:01:29"));

    room.clock.now += 5;  // delayed ticks are made up at once
    server->RefreshCountdowns();
    EXPECT_THAT(room.rows.Rows(),
                ElementsAre("vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:01:24"));
    EXPECT_EQ(Record(0).status, 84u);
    EXPECT_EQ(server->lastTick(), room.clock.now);
    EXPECT_THAT(room.network.sent, IsEmpty());
}

TEST_F(PeriodicTest, StationWhoseTimeRunsOutEndsAtZeroIsSelectedAndPolled) {
    Start({kHost1, kHost2});
    server->PopulateStations();
    Reporting(kHost2, {0x04, 0x02, 0x00, 0x00, 0x80});
    Reporting(kHost1, {0x04, 0x03, 0x00, 0x00, 0x00});
    room.rows.SetSelected(-1, false);
    ClearRecords();

    room.clock.now += 5;
    server->RefreshCountdowns();

    EXPECT_EQ(server->FindStation(kHost1)->status, 0u);
    EXPECT_THAT(room.rows.SelectedRows(),
                ElementsAre("vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:00:00"));
    EXPECT_THAT(room.network.sent, ElementsAre(To(kHost1, kStationPort, {0x04})));
    EXPECT_EQ(server->FindStation(kHost1)->attemptsLeft, 3u);
    EXPECT_EQ(server->savedSelection()[0], 0);
    EXPECT_EQ(server->savedSelection()[1], -1);

    // Polled again on every tick until a report changes the stored word. The polls leave the
    // running answer watch alone, so a station that stays silent is OFF three periods after
    // the first one, and polled no more.
    for (int tick = 1; tick < 15; ++tick) {
        room.network.sent.clear();
        Tick();
        EXPECT_THAT(room.network.sent, ElementsAre(To(kHost1, kStationPort, {0x04})));
    }
    EXPECT_THAT(room.boxes.shown, IsEmpty());
    Tick();
    ASSERT_EQ(room.boxes.shown.size(), 1u);
    EXPECT_EQ(room.boxes.shown[0].text, "Client 'vlhost1' ( 198.51.100.11 ) is OFF");
    room.network.sent.clear();
    Tick();
    EXPECT_THAT(room.network.sent, IsEmpty());
}

TEST_F(PeriodicTest, ClockSetBackCountsNoTime) {
    Start({kHost1, kHost2});
    server->PopulateStations();
    Reporting(kHost1, {0x04, 0x5A, 0x00, 0x00, 0x00});
    Reporting(kHost2, {0x04, 0x20, 0x1C, 0x00, 0x00});  // 7200
    ClearRecords();

    room.clock.now -= 10;
    server->RefreshCountdowns();
    room.clock.now += 1;  // counted from the clock as it now stands
    server->RefreshCountdowns();

    EXPECT_EQ(server->FindStation(kHost1)->status, 89u);
    EXPECT_EQ(server->FindStation(kHost2)->status, 7199u);
    EXPECT_THAT(room.rows.SelectedRows(), IsEmpty());
    EXPECT_THAT(room.network.sent, IsEmpty());
}

TEST_F(PeriodicTest, OnlyPlainCountsWithARowAreCountedDown) {
    Start({kHost1, kHost2});
    server->PopulateStations();
    Reporting(kHost1, {0x04, 0x00, 0x00, 0x00, 0x01});  // 0x01000000 seconds
    Reporting(kHost2, {0x04, 0x58, 0x02, 0x00, 0x20});  // paused with 600
    StationRecord& rowless = server->AppendStation(kHost3);
    rowless.status = 100;
    ClearRecords();

    room.clock.now += 5;
    server->RefreshCountdowns();

    EXPECT_EQ(server->FindStation(kHost1)->status, 0x01000000u);
    EXPECT_EQ(server->FindStation(kHost2)->status, 0x20000258u);
    EXPECT_EQ(rowless.status, 100u);
    EXPECT_THAT(room.journal, IsEmpty());
}

TEST_F(PeriodicTest, RewrittenRowsKeepTheirOwnSelectionWhereverTheySortIn) {
    Start({kHost2, kHost3, kNameless});
    server->PopulateStations();
    Reporting(kHost2, {0x04, 0x5A, 0x00, 0x00, 0x00});
    Reporting(kHost3, {0x04, 0x5A, 0x00, 0x00, 0x00});
    // The operator clicks vlhost3's row (row 2, below the OFF row of the nameless station).
    room.rows.SetSelected(-1, false);
    room.rows.SetSelected(2, true);
    server->OnSelectionChanged();
    // A new station's row sorts in first, and vlhost3 loses its name: both move the rows.
    Receive(kHost1, {0x01});
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});
    room.rowNames.Refreshed(kHost3, std::nullopt);
    ClearRecords();

    Tick();

    EXPECT_THAT(room.rows.Rows(),
                ElementsAre("N/A ( 198.51.100.13 ) -- state NORMAL, remains 00:01:29",
                            "N/A ( 198.51.100.14 ) -- state OFF",
                            "vlhost1 ( 198.51.100.11 ) -- state AVAILABLE",
                            "vlhost2 ( 198.51.100.12 ) -- state NORMAL, remains 00:01:29"));
    // vlhost1's row lost the selection it was added with at its first report; nothing selects
    // vlhost2's.
    EXPECT_THAT(room.rows.SelectedRows(),
                ElementsAre("N/A ( 198.51.100.13 ) -- state NORMAL, remains 00:01:29"));
    server->SendToSelected(0x80000001);
    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost3, kStationPort, {0x03, 0x01, 0x00, 0x00, 0x80})));
}

TEST_F(PeriodicTest, PeriodicCheckFiresWhenTheCounterIsAMultipleOfThePeriod) {
    Start({kHost1, kHost2});
    server->PopulateStations();
    room.network.sent.clear();

    for (int tick = 1; tick < 60; ++tick) {
        server->CountCheckTick();
    }
    EXPECT_EQ(server->checkCounter(), 119);
    EXPECT_THAT(room.network.sent, IsEmpty());

    server->CountCheckTick();
    EXPECT_EQ(server->checkCounter(), 120);
    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost1, kStationPort, {0x04}), To(kHost2, kStationPort, {0x04})));
    EXPECT_EQ(server->FindStation(kHost1)->attemptsLeft, 3u);

    room.network.sent.clear();
    for (int tick = 0; tick < 60; ++tick) {
        server->CountCheckTick();
    }
    EXPECT_EQ(server->checkCounter(), 180);
    EXPECT_EQ(room.network.sent.size(), 2u);

    // Switched off, the counter stands still.
    server->setFlags(server->flags() & ~PeriodicCheckFlag);
    room.network.sent.clear();
    for (int tick = 0; tick < 200; ++tick) {
        server->CountCheckTick();
    }
    EXPECT_EQ(server->checkCounter(), 180);
    EXPECT_THAT(room.network.sent, IsEmpty());
}

TEST_F(PeriodicTest, PeriodBelowOneMeansNoCheck) {
    Start({kHost1});
    for (const std::uint32_t period : {0u, 0xFFFFFFFFu, 0x80000000u}) {
        server->setCheckPeriod(period);
        for (int tick = 0; tick < 130; ++tick) {
            server->CountCheckTick();
        }
    }
    EXPECT_THAT(room.network.sent, IsEmpty());

    server->setCheckPeriod(1);
    server->CountCheckTick();
    EXPECT_THAT(room.network.sent, ElementsAre(To(kHost1, kStationPort, {0x04})));
}

TEST_F(PeriodicTest, CheckArmsTheAnswerWatchOnlyWithTimeoutFlag) {
    Start({kHost1, kHost2, kHost1});
    server->PopulateStations();
    room.network.sent.clear();
    server->setFlags(server->flags() & ~TimeoutFlag);
    server->FindStation(kHost1)->attemptsLeft = 0;
    server->FindStation(kHost2)->attemptsLeft = 0;
    server->CheckAllStations();
    EXPECT_EQ(Record(0).attemptsLeft, 0u);
    EXPECT_EQ(Record(1).attemptsLeft, 0u);

    server->setFlags(server->flags() | TimeoutFlag);
    server->CheckAllStations();
    // The address listed twice gets two requests; only its first record is armed.
    EXPECT_EQ(room.network.sent.size(), 6u);
    EXPECT_EQ(Record(0).attemptsLeft, 3u);
    EXPECT_EQ(Record(1).attemptsLeft, 3u);
    EXPECT_EQ(Record(2).attemptsLeft, 0u);
}

TEST_F(PeriodicTest, SilentStationIsDeclaredOffAfterThreePeriods) {
    Start({kHost1});
    Reporting(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});
    server->CheckAllStations();
    ClearRecords();

    for (int tick = 1; tick < 15; ++tick) {
        // A check while the watch runs leaves it to end (three timeouts may outlast a period).
        if (tick == 10) {
            server->CheckAllStations();
            room.network.sent.clear();
        }
        server->DetectSilentStations();
    }
    EXPECT_THAT(room.journal, IsEmpty());
    EXPECT_EQ(Record(0).attemptsLeft, 1u);
    EXPECT_EQ(Record(0).waitTicks, 4u);

    room.boxes.whileOpen = [this] {
        // The mark and the row are in place before the box.
        EXPECT_EQ(Record(0).status, OffMark | 0x80000002u);
        EXPECT_EQ(Record(0).attemptsLeft, 0u);
    };
    server->DetectSilentStations();

    EXPECT_THAT(room.journal, ElementsAre("delete vlhost1 ( 198.51.100.11 ) -- state AVAILABLE",
                                          "add vlhost1 ( 198.51.100.11 ) -- state OFF",
                                          "box Client 'vlhost1' ( 198.51.100.11 ) is OFF",
                                          "box closed", "foreground"));
    EXPECT_EQ(room.boxes.shown.at(0), (ShownBox{"Client 'vlhost1' ( 198.51.100.11 ) is OFF",
                                                "Vorlek Information", BoxIcon::Information}));
    EXPECT_EQ(Record(0).status, OffMark | 0x80000002u);
    EXPECT_THAT(room.network.sent, IsEmpty());
}

TEST_F(PeriodicTest, CountingStationKeepsItsRemainingTimeInTheOffRow) {
    Start({kHost1});
    Reporting(kHost1, {0x04, 0x5A, 0x00, 0x00, 0x00});
    LetStationsFallSilent();

    EXPECT_THAT(room.rows.Rows(),
                ElementsAre("vlhost1 ( 198.51.100.11 ) -- state OFF, remains 00:01:30"));
    EXPECT_EQ(Record(0).status, OffMark + 90);
}

TEST_F(PeriodicTest, StationAlreadyOffGetsItsRowRewrittenWithoutBox) {
    Start({kHost1});
    server->OnTimerTick();
    room.journal.clear();

    for (int tick = 0; tick < 15; ++tick) {
        server->DetectSilentStations();
    }

    EXPECT_THAT(room.journal, ElementsAre("delete vlhost1 ( 198.51.100.11 ) -- state OFF",
                                          "add vlhost1 ( 198.51.100.11 ) -- state OFF"));
    EXPECT_THAT(room.boxes.shown, IsEmpty());
}

TEST_F(PeriodicTest, StationWithoutRowDeclaredOffGetsANewRow) {
    Start({kHost1});
    server->AppendStation(kHost1);
    LetStationsFallSilent();

    EXPECT_THAT(room.rows.Rows(), ElementsAre("vlhost1 ( 198.51.100.11 ) -- state OFF"));
    EXPECT_EQ(room.boxes.shown.size(), 1u);
}

TEST_F(PeriodicTest, ReplyTimeoutZeroWaitsForEverAndOneLoweredBelowTheWaitEndsIt) {
    Start({kHost1, kHost2});
    server->AppendStation(kHost1);
    server->AppendStation(kHost2);
    server->setReplyTimeout(0);
    server->CheckAllStations();
    for (int tick = 0; tick < 100; ++tick) {
        server->DetectSilentStations();
    }
    EXPECT_THAT(room.boxes.shown, IsEmpty());
    EXPECT_EQ(Record(0).attemptsLeft, 3u);

    server->setReplyTimeout(2);  // both watches stand far beyond it
    server->DetectSilentStations();
    EXPECT_EQ(Record(0).attemptsLeft, 2u);
    for (int tick = 0; tick < 3; ++tick) {
        server->DetectSilentStations();
    }
    EXPECT_THAT(room.boxes.shown, IsEmpty());
    server->DetectSilentStations();
    EXPECT_EQ(room.boxes.shown.size(), 2u);
}

TEST_F(PeriodicTest, TickInsideAnOffBoxReportsEachStationOnce) {
    Start({kHost1, kHost2});
    server->setFlags(server->flags() | PopulatedFlag);
    server->AppendStation(kHost1);
    server->AppendStation(kHost2);
    server->CheckAllStations();
    for (int tick = 1; tick < 15; ++tick) {
        server->DetectSilentStations();
    }
    room.boxes.whileOpen = [this] { server->OnTimerTick(); };

    server->DetectSilentStations();

    ASSERT_EQ(room.boxes.shown.size(), 2u);
    EXPECT_EQ(room.boxes.shown[0].text, "Client 'vlhost1' ( 198.51.100.11 ) is OFF");
    EXPECT_EQ(room.boxes.shown[1].text, "Client 'vlhost2' ( 198.51.100.12 ) is OFF");
    EXPECT_EQ(server->FindStation(kHost1)->status & OffMark, OffMark);
    EXPECT_EQ(server->FindStation(kHost2)->status & OffMark, OffMark);
}

TEST_F(PeriodicTest, FirstTickPopulatesEveryListedAddressOnce) {
    Start({kHost2, kNameless, kHost2});
    Receive(kHost1, {0x01});  // a Hello (and an answer) before the first tick
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});
    ClearRecords();

    server->OnTimerTick();

    EXPECT_TRUE(server->flags() & PopulatedFlag);
    // The station that said hello keeps its first record and gets a second one.
    ASSERT_EQ(server->stations().size(), 5u);
    EXPECT_EQ(Record(0).status, 0x80000002u);
    for (std::size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(Record(i).status, OffMark);
    }
    EXPECT_EQ(Record(4).address, kHost1);
    EXPECT_THAT(room.rows.Rows(), ElementsAre("N/A ( 198.51.100.14 ) -- state OFF",
                                              "vlhost1 ( 198.51.100.11 ) -- state AVAILABLE",
                                              "vlhost1 ( 198.51.100.11 ) -- state OFF",
                                              "vlhost2 ( 198.51.100.12 ) -- state OFF",
                                              "vlhost2 ( 198.51.100.12 ) -- state OFF"));
    EXPECT_THAT(room.boxes.shown, IsEmpty());
    // The requests, then the client warning, which no agent has when it starts.
    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost2, kStationPort, {0x04}), To(kNameless, kStationPort, {0x04}),
                            To(kHost2, kStationPort, {0x04}), To(kHost1, kStationPort, {0x04}),
                            Warning(kHost2, kStationPort), Warning(kNameless, kStationPort),
                            Warning(kHost2, kStationPort), Warning(kHost1, kStationPort)));
    EXPECT_EQ(server->FindStation(kHost1), &Record(0));
    EXPECT_EQ(server->FindStation(kHost2), &Record(1));

    Tick();
    EXPECT_EQ(server->stations().size(), 5u);
}

TEST_F(PeriodicTest, EmptyAddressListPopulatesAndChecksNothing) {
    Start();
    server->OnTimerTick();
    server->setCheckPeriod(1);
    Tick();

    EXPECT_TRUE(server->flags() & PopulatedFlag);
    EXPECT_THAT(server->stations(), IsEmpty());
    EXPECT_THAT(room.journal, IsEmpty());
    EXPECT_THAT(room.network.sent, IsEmpty());
}

}  // namespace
}  // namespace vorlek::test
