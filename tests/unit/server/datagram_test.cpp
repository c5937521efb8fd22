// The console's reaction to Hello and StatusReport datagrams.
#include <string>

#include "engine_test.h"
#include "server/grant.h"

namespace vorlek::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class DatagramTest : public EngineTest {};

TEST_F(DatagramTest, HelloRegistersStationSelectsItsRowAndAsksTheSenderForItsStatus) {
    Start();
    Receive(kHost1, {0x01});

    EXPECT_EQ(Addresses(), std::vector<Ipv4>{kHost1});
    ASSERT_EQ(server->stations().size(), 1u);
    EXPECT_EQ(Record(0).address, kHost1);
    EXPECT_EQ(Record(0).status, 0u);
    EXPECT_THAT(room.rows.Rows(), ElementsAre("vlhost1 ( 198.51.100.11 )"));
    EXPECT_THAT(room.rows.SelectedRows(), ElementsAre("vlhost1 ( 198.51.100.11 )"));
    EXPECT_THAT(room.network.sent, ElementsAre(To(kHost1, kAgentPort, {0x04}), Warning(kHost1)));
    EXPECT_EQ(server->savedSelection()[0], 0);
    EXPECT_EQ(server->savedSelection()[1], -1);

    // A second station joins a registry that is not empty: its row is added and selected too.
    Receive(kNameless, {0x01}, 10001);
    EXPECT_THAT(room.rows.Rows(),
                ElementsAre("N/A ( 198.51.100.14 )", "vlhost1 ( 198.51.100.11 )"));
    EXPECT_THAT(room.rows.SelectedRows(),
                ElementsAre("N/A ( 198.51.100.14 )", "vlhost1 ( 198.51.100.11 )"));
    EXPECT_THAT(
        room.network.sent,
        ElementsAre(To(kHost1, kAgentPort, {0x04}), Warning(kHost1), To(kNameless, 10001, {0x04}),
                    To(kNameless, 10001, {0x03, 0x58, 0x02, 0x00, 0x90})));

    // That selection is the console's: the stations' first reports drop it, and a command
    // reaches nobody the operator did not select.
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});
    Receive(kNameless, {0x04, 0x02, 0x00, 0x00, 0x80});
    room.network.sent.clear();
    server->SendToSelected(0x80000008);
    EXPECT_THAT(room.rows.SelectedRows(), IsEmpty());
    EXPECT_THAT(room.network.sent, IsEmpty());
}

TEST_F(DatagramTest, SecondHelloOfAStationWithoutStateOnlyGetsTheWarning) {
    Start({kHost1, kHost1});
    Receive(kHost1, {0x01});
    ClearRecords();
    server->setWarningTime(300);

    Receive(kHost1, {0x01});

    EXPECT_EQ(Addresses(), (std::vector<Ipv4>{kHost1, kHost1}));
    EXPECT_EQ(server->stations().size(), 1u);
    EXPECT_THAT(room.rows.Rows(), ElementsAre("vlhost1 ( 198.51.100.11 )"));
    EXPECT_THAT(room.journal, IsEmpty());
    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost1, kAgentPort, {0x03, 0x2C, 0x01, 0x00, 0x90})));

    server->setFlags(server->flags() & ~WarningFlag);
    room.network.sent.clear();
    Receive(kHost1, {0x01});
    EXPECT_THAT(room.network.sent, IsEmpty());
}

TEST_F(DatagramTest, RestartedAgentGetsBackWhatItHadUnlessTheOperatorOrderedTheRestart) {
    Start({kHost1});
    Receive(kHost1, {0x04, 0x5A, 0x00, 0x00, 0x00});
    ClearRecords();

    // Logged off and on: its agent says hello again and reports AVAILABLE.
    Receive(kHost1, {0x01});
    EXPECT_EQ(Record(0).status, OffMark + 90);
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});

    // Its warning follows the comeback: the report that answers it finds no mark.
    EXPECT_THAT(
        room.network.sent,
        ElementsAre(To(kHost1, kAgentPort, {0x04}),
                    To(kHost1, kAgentPort, {0x03, 0x5A, 0x00, 0x00, 0x00}), Warning(kHost1)));
    EXPECT_THAT(room.boxes.shown, IsEmpty());
    EXPECT_THAT(room.rows.Rows(),
                ElementsAre("vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:01:30"));
    EXPECT_EQ(Record(0).status, 90u);

    // "R&eboot": the report right after it carries the old time; the restart comes back free.
    room.rows.SetSelected(0, true);
    server->OnSelectionChanged();
    server->SendToSelected(0x80000008);
    Receive(kHost1, {0x04, 0x5A, 0x00, 0x00, 0x00});
    room.network.sent.clear();
    Receive(kHost1, {0x01});
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});
    EXPECT_THAT(room.network.sent, ElementsAre(Warning(kHost1)));
    EXPECT_THAT(room.rows.Rows(), ElementsAre("vlhost1 ( 198.51.100.11 ) -- state AVAILABLE"));
}

struct AnswerCase {
    const char* name;
    StatusWord stored;
    StatusWord reported;
    Restart restart;
    bool offShown;
    ReportAnswer answer;
};

TEST(AnswerReport, GivesTheStoredStateBackOnlyToAnAgentThatLostIt) {
    constexpr StatusWord kFree = 0x80000002;
    constexpr StatusWord kBlock = 0x80000003;
    constexpr StatusWord kAway = OffMark + 90;      // marked, 90 s stored
    constexpr StatusWord kGone = OffMark + kBlock;  // marked, BLOCKED stored
    constexpr auto kNone = Restart::None;
    constexpr auto kAgain = Restart::Unordered;
    constexpr auto kOrdered = Restart::Ordered;
    constexpr auto kDone = Restart::OrderedDone;
    const AnswerCase cases[] = {
        {"plain report", 90, 60, kNone, false, {60, 60, {}, false, false}},
        {"BLOCKED again", kBlock, kBlock, kNone, false, {kBlock, kBlock, {}, false, false}},
        {"populated, BLOCKED", OffMark, kBlock, kNone, true, {kBlock, kBlock, {}, false, true}},
        {"OFF, AVAILABLE", kAway, kFree, kNone, true, {90, 90, 90, true, false}},
        {"OFF, PAUSED", OffMark + 600, 0x80000001, kNone, true, {0x80000001, 600, {}, true, false}},
        {"OFF, ran out and locked", kAway, kBlock, kNone, true, {kBlock, kBlock, {}, true, true}},
        {"restart, AVAILABLE", kAway, kFree, kAgain, false, {90, 90, 90, false, false}},
        {"restart, starting BLOCKED", kAway, kBlock, kAgain, false, {90, 90, 90, false, false}},
        {"restart after OFF", kAway, kBlock, kAgain, true, {90, 90, 90, true, false}},
        {"was BLOCKED", kGone, kFree, kAgain, false, {kBlock, kBlock, kBlock, false, false}},
        {"restart, own time", kAway, 30, kAgain, false, {30, 30, {}, false, false}},
        {"ordered, OFF meanwhile", kAway, kFree, kDone, true, {kFree, kFree, {}, true, false}},
        {"ordered, no Hello", kAway, kFree, kOrdered, false, {kFree, kFree, {}, false, false}},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ReportAnswer answer = AnswerReport(c.stored, c.reported, c.restart, c.offShown);
        EXPECT_EQ(answer.shown, c.answer.shown);
        EXPECT_EQ(answer.stored, c.answer.stored);
        EXPECT_EQ(answer.command, c.answer.command);
        EXPECT_EQ(answer.announceOn, c.answer.announceOn);
        EXPECT_EQ(answer.announceBlocked, c.answer.announceBlocked);
    }
}

TEST_F(DatagramTest, UnderHellosListedOnlyAnAddressOfTheArrayIsRegistered) {
    server.emplace(room.Ports(), kOwn, HostList({kHost1}), HelloSource::Listed);
    Receive(kHost2, {0x01});
    Receive(kNameless, {0x01, 0x00});
    EXPECT_EQ(Addresses(), std::vector<Ipv4>{kHost1});
    EXPECT_THAT(server->stations(), IsEmpty());
    EXPECT_THAT(room.journal, IsEmpty());
    EXPECT_THAT(room.network.sent, IsEmpty());

    Receive(kHost1, {0x01});
    EXPECT_EQ(Addresses(), std::vector<Ipv4>{kHost1});
    EXPECT_THAT(room.rows.SelectedRows(), ElementsAre("vlhost1 ( 198.51.100.11 )"));
    EXPECT_THAT(room.network.sent, ElementsAre(To(kHost1, kAgentPort, {0x04}), Warning(kHost1)));
}

TEST(ServerSwitches, AreReadWithoutRegardToCaseTheJournalFolderAsGivenAndAnythingElseIsRefused) {
    ServerSwitches switches;
    const std::vector<std::string> given{"/HELLOS=Listed", "/Journal=D:\\Room Book",
                                         "/notices=SUMMARY", "/orders=SIGNED"};
    EXPECT_EQ(ReadServerSwitches(given, switches), std::nullopt);
    EXPECT_EQ(switches.hellos, HelloSource::Listed);
    EXPECT_EQ(switches.notices, NoticeMode::Summary);
    EXPECT_EQ(switches.orders, ConsoleOrders::Signed);
    EXPECT_EQ(switches.journal, "D:\\Room Book");
    const std::vector<std::string> defaults{"/hellos=any", "/notices=each", "/orders=unsigned"};
    EXPECT_EQ(ReadServerSwitches(defaults, switches), std::nullopt);
    EXPECT_EQ(switches.hellos, HelloSource::Any);
    EXPECT_EQ(switches.notices, NoticeMode::Each);
    EXPECT_EQ(switches.orders, ConsoleOrders::Unsigned);
    EXPECT_EQ(switches.journal, std::nullopt);

    const std::string usage =
        "\nUsage: VorlekServer.exe [/hellos=any|listed] [/notices=each|summary] "
        "[/orders=unsigned|signed] [/journal=FOLDER]";
    const std::vector<std::string> agents{"/hellos=listed", "/hold=hooks"};
    EXPECT_EQ(ReadServerSwitches(agents, switches), "Unknown switch \"/hold=hooks\"." + usage);
    const std::vector<std::string> twice{"/journal=a", "/JOURNAL=b"};
    EXPECT_EQ(ReadServerSwitches(twice, switches), "Switch given twice: \"/JOURNAL=b\"." + usage);
    const std::vector<std::string> empty{"/journal="};
    EXPECT_EQ(ReadServerSwitches(empty, switches), "Unknown value in \"/journal=\"." + usage);
}

TEST_F(DatagramTest, ReportFromUnlistedAddressChangesNothing) {
    Start({kHost1});
    Receive(kHost2, {0x04, 0x02, 0x00, 0x00, 0x80});

    EXPECT_THAT(server->stations(), IsEmpty());
    EXPECT_THAT(room.journal, IsEmpty());
    EXPECT_THAT(room.network.sent, IsEmpty());
    EXPECT_EQ(server->savedSelection()[0], -1);
}

TEST_F(DatagramTest, FirstReportOfListedStationAddsItsRowThenRewritesIt) {
    Start({kHost1});
    Receive(kHost1, {0x04, 0x5A, 0x00, 0x00, 0x00});

    ASSERT_EQ(server->stations().size(), 1u);
    EXPECT_EQ(Record(0).status, 90u);
    EXPECT_THAT(room.journal,
                ElementsAre("add vlhost1 ( 198.51.100.11 )", "delete vlhost1 ( 198.51.100.11 )",
                            "add vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:01:30"));
    // The rewritten row is not selected; the saved selection names row 0.
    EXPECT_THAT(room.rows.SelectedRows(), IsEmpty());
    EXPECT_EQ(server->savedSelection()[0], 0);
    EXPECT_THAT(room.network.sent, IsEmpty());
}

struct ReportCase {
    std::vector<std::uint8_t> datagram;
    const char* row;
    bool deathTimerCleared;
    StatusWord stored;
};

TEST_F(DatagramTest, EachReportedWordGivesItsRowAndStoredWord) {
    const ReportCase cases[] = {
        {{0x04, 0x00, 0x00, 0x00, 0x80},
         "vlhost1 ( 198.51.100.11 ) -- state UNLIMITED",
         true,
         0x80000000},
        {{0x04, 0x02, 0x00, 0x00, 0x80},
         "vlhost1 ( 198.51.100.11 ) -- state AVAILABLE",
         true,
         0x80000002},
        {{0x04, 0x58, 0x02, 0x00, 0x20},
         "vlhost1 ( 198.51.100.11 ) -- state PAUSED, remains 00:10:00",
         false,
         0x20000258},
        // Any other word from PausedFlag up is a pause; its low 24 bits are the seconds.
        {{0x04, 0x3C, 0x00, 0x00, 0x80},
         "vlhost1 ( 198.51.100.11 ) -- state PAUSED, remains 00:01:00",
         false,
         0x8000003C},
        {{0x04, 0x4D, 0x0E, 0x00, 0x00},
         "vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 01:01:01",
         false,
         3661},
        {{0x04, 0xFF, 0xFF, 0xFF, 0x1F},
         "vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 149130:48:31",
         false,
         0x1FFFFFFF},
    };
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(c.row);
        Room local;
        local.names.names = {{kHost1, "vlhost1"}};
        Server console(local.Ports(), kOwn, HostList({kHost1}));
        local.network.Deliver({kHost1, kAgentPort}, {0x01});
        console.HandleDatagram();
        local.journal.clear();

        local.network.Deliver({kHost1, kAgentPort}, c.datagram);
        console.HandleDatagram();

        EXPECT_THAT(local.rows.Rows(), ElementsAre(c.row));
        EXPECT_EQ(console.stations().at(0).status, c.stored);
        EXPECT_EQ(local.journal.front() == "death timer N/A", c.deathTimerCleared);
        EXPECT_THAT(local.boxes.shown, IsEmpty());
    }
}

TEST_F(DatagramTest, ReportsLeaveADeathTimerValueBeingTypedAlone) {
    Start({kHost1});
    room.window.typed = true;
    Receive(kHost1, {0x04, 0x00, 0x00, 0x00, 0x80});
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});
    Receive(kHost1, {0x04, 0x03, 0x00, 0x00, 0x80});
    EXPECT_THAT(room.journal, ::testing::Not(::testing::Contains("death timer N/A")));
    EXPECT_THAT(room.rows.Rows(), ElementsAre("vlhost1 ( 198.51.100.11 ) -- state BLOCKED"));

    room.window.typed = false;
    room.journal.clear();
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});
    EXPECT_EQ(room.journal.front(), "death timer N/A");
}

TEST_F(DatagramTest, PausedWordShowsTheStoredSecondsAndKeepsThem) {
    Start({kHost1});
    Receive(kHost1, {0x04, 0x18, 0x15, 0x00, 0x00});  // 5400 seconds
    Receive(kHost1, {0x04, 0x01, 0x00, 0x00, 0x80});

    EXPECT_THAT(room.rows.Rows(),
                ElementsAre("vlhost1 ( 198.51.100.11 ) -- state PAUSED, remains 01:30:00"));
    EXPECT_EQ(Record(0).status, 5400u);
}

TEST_F(DatagramTest, BlockedTwiceGivesOneBox) {
    Start({kHost1, kHost2});
    Receive(kHost2, {0x04, 0x5A, 0x00, 0x00, 0x00});
    Receive(kHost1, {0x04, 0x5A, 0x00, 0x00, 0x00});
    room.rows.SetSelected(-1, false);
    room.journal.clear();
    // While the box is open, a station whose row sorts in first says hello (its row selected).
    room.boxes.whileOpen = [this] {
        Receive(kNameless, {0x01});
        room.journal.push_back("hello");
    };

    Receive(kHost1, {0x04, 0x03, 0x00, 0x00, 0x80});

    EXPECT_THAT(room.journal,
                ElementsAre("death timer N/A",
                            "delete vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:01:30",
                            "add vlhost1 ( 198.51.100.11 ) -- state BLOCKED",
                            "box Client 'vlhost1' ( 198.51.100.11 ) is BLOCKED",
                            "add N/A ( 198.51.100.14 )", "hello", "box closed", "foreground"));
    EXPECT_THAT(room.boxes.shown,
                ElementsAre(ShownBox{"Client 'vlhost1' ( 198.51.100.11 ) is BLOCKED",
                                     "Vorlek Information", BoxIcon::Information}));
    // The station's row is selected where it now is; vlhost2's row is not.
    EXPECT_THAT(room.rows.SelectedRows(),
                ElementsAre("N/A ( 198.51.100.14 )", "vlhost1 ( 198.51.100.11 ) -- state BLOCKED"));
    EXPECT_EQ(Record(1).status, 0x80000003u);

    room.journal.clear();
    Receive(kHost1, {0x04, 0x03, 0x00, 0x00, 0x80});
    EXPECT_THAT(room.journal, IsEmpty());
    EXPECT_EQ(room.boxes.shown.size(), 1u);
}

TEST_F(DatagramTest, CountingStationBackFromOffIsGivenItsTimeAgain) {
    Start({kHost1});
    Receive(kHost1, {0x04, 0x5A, 0x00, 0x00, 0x00});
    LetStationsFallSilent();
    ASSERT_EQ(Record(0).status, OffMark + 90);
    ClearRecords();

    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});

    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost1, kAgentPort, {0x03, 0x5A, 0x00, 0x00, 0x00})));
    EXPECT_THAT(
        room.journal,
        ElementsAre("delete vlhost1 ( 198.51.100.11 ) -- state OFF, remains 00:01:30",
                    "add vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:01:30",
                    "box Client 'vlhost1' ( 198.51.100.11 ) is ON", "box closed", "foreground"));
    EXPECT_EQ(room.boxes.shown.at(0), (ShownBox{"Client 'vlhost1' ( 198.51.100.11 ) is ON",
                                                "Vorlek Information", BoxIcon::Information}));
    EXPECT_EQ(Record(0).status, 90u);
    EXPECT_EQ(Record(0).attemptsLeft, 0u);
}

TEST_F(DatagramTest, PausedStationBackFromOffComesBackCounting) {
    Start({kHost1});
    Receive(kHost1, {0x04, 0x58, 0x02, 0x00, 0x20});
    LetStationsFallSilent();
    ASSERT_EQ(Record(0).status, OffMark + PausedFlag + 600);
    ClearRecords();

    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});

    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost1, kAgentPort, {0x03, 0x58, 0x02, 0x00, 0x00})));
    EXPECT_EQ(room.boxes.shown.size(), 1u);
    EXPECT_THAT(room.rows.Rows(),
                ElementsAre("vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:10:00"));
    EXPECT_EQ(Record(0).status, 600u);
}

struct ComebackCase {
    const char* name;
    std::vector<std::uint8_t> before;  // the report that the station went OFF with
    std::vector<std::uint8_t> back;    // its report when it answers again
    const char* row;
    StatusWord stored;
};

TEST_F(DatagramTest, StationBackFromOffKeepsTheStateItReportsUnlessItRestarted) {
    const ComebackCase cases[] = {
        // Its agent counted on, ran out and locked itself: no time is given back.
        {"counting, then BLOCKED",
         {0x04, 0x48, 0x02, 0x00, 0x00},
         {0x04, 0x03, 0x00, 0x00, 0x80},
         "vlhost1 ( 198.51.100.11 ) -- state BLOCKED",
         0x80000003},
        {"BLOCKED, then BLOCKED",
         {0x04, 0x03, 0x00, 0x00, 0x80},
         {0x04, 0x03, 0x00, 0x00, 0x80},
         "vlhost1 ( 198.51.100.11 ) -- state BLOCKED",
         0x80000003},
        // A reboot word stored from a report is never sent back.
        {"reboot word, then AVAILABLE",
         {0x04, 0x08, 0x00, 0x00, 0x80},
         {0x04, 0x02, 0x00, 0x00, 0x80},
         "vlhost1 ( 198.51.100.11 ) -- state AVAILABLE",
         0x80000002},
    };
    for (const ComebackCase& c : cases) {
        SCOPED_TRACE(c.name);
        Room local;
        local.names.names = {{kHost1, "vlhost1"}};
        Server console(local.Ports(), kOwn, HostList({kHost1}));
        local.network.Deliver({kHost1, kAgentPort}, c.before);
        console.HandleDatagram();
        console.CheckAllStations();
        for (int tick = 0; tick < 15; ++tick) {
            console.DetectSilentStations();
        }
        local.boxes.shown.clear();
        local.network.sent.clear();
        // The word that stands is in place before the "is ON" box.
        local.boxes.whileOpen = [&] { EXPECT_EQ(console.stations().at(0).status, c.stored); };

        local.network.Deliver({kHost1, kAgentPort}, c.back);
        console.HandleDatagram();

        EXPECT_THAT(local.network.sent, IsEmpty());
        EXPECT_THAT(local.rows.Rows(), ElementsAre(c.row));
        EXPECT_EQ(console.stations().at(0).status, c.stored);
        ASSERT_FALSE(local.boxes.shown.empty());
        EXPECT_EQ(local.boxes.shown[0].text, "Client 'vlhost1' ( 198.51.100.11 ) is ON");
        // A BLOCKED comeback is announced like any BLOCKED report.
        EXPECT_EQ(local.boxes.shown.size(), c.stored == 0x80000003 ? 2u : 1u);
    }
}

TEST_F(DatagramTest, StationPopulatedAsOffAnswersWithoutCommandOrBox) {
    Start({kHost1});
    server->OnTimerTick();
    ASSERT_EQ(Record(0).status, OffMark);
    ClearRecords();

    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});

    EXPECT_THAT(room.network.sent, IsEmpty());
    EXPECT_THAT(room.boxes.shown, IsEmpty());
    EXPECT_THAT(room.rows.Rows(), ElementsAre("vlhost1 ( 198.51.100.11 ) -- state AVAILABLE"));
    EXPECT_EQ(Record(0).status, 0x80000002u);
    EXPECT_EQ(Record(0).attemptsLeft, 0u);
}

TEST_F(DatagramTest, ReportHandledInsideTheOnBoxFindsTheStationAlreadyBack) {
    Start({kHost1});
    Receive(kHost1, {0x04, 0x5A, 0x00, 0x00, 0x00});
    LetStationsFallSilent();
    ClearRecords();
    room.boxes.whileOpen = [this] {
        // The record is complete before the box: the mark is gone and the watch has ended.
        EXPECT_EQ(Record(0).status, 90u);
        EXPECT_EQ(Record(0).attemptsLeft, 0u);
        Receive(kHost1, {0x04, 0x03, 0x00, 0x00, 0x80});
    };

    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});

    // One comeback: one restore command and one "is ON"; the nested BLOCKED report has its own
    // box. The outer call had finished its changes before its box, so the newer state stands.
    EXPECT_EQ(room.network.sent.size(), 1u);
    ASSERT_EQ(room.boxes.shown.size(), 2u);
    EXPECT_EQ(room.boxes.shown[0].text, "Client 'vlhost1' ( 198.51.100.11 ) is ON");
    EXPECT_EQ(room.boxes.shown[1].text, "Client 'vlhost1' ( 198.51.100.11 ) is BLOCKED");
    EXPECT_THAT(room.rows.Rows(), ElementsAre("vlhost1 ( 198.51.100.11 ) -- state BLOCKED"));
    EXPECT_EQ(Record(0).status, 0x80000003u);
}

TEST_F(DatagramTest, ReportInsideTheBlockedBoxStays) {
    Start({kHost1});
    Receive(kHost1, {0x04, 0x5A, 0x00, 0x00, 0x00});
    room.boxes.whileOpen = [this] {
        EXPECT_EQ(Record(0).status, 0x80000003u);
        Receive(kHost1, {0x04, 0x10, 0x0E, 0x00, 0x00});  // the operator gave an hour
    };

    Receive(kHost1, {0x04, 0x03, 0x00, 0x00, 0x80});

    EXPECT_EQ(Record(0).status, 3600u);
    EXPECT_THAT(room.rows.Rows(),
                ElementsAre("vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 01:00:00"));
}

TEST_F(DatagramTest, HelloInsideABlockedBoxIsRegisteredAtOnce) {
    Start({kHost1});
    Receive(kHost1, {0x04, 0x5A, 0x00, 0x00, 0x00});
    room.boxes.whileOpen = [this] {
        Receive(kHost2, {0x01});
        EXPECT_EQ(server->stations().size(), 2u);
    };

    Receive(kHost1, {0x04, 0x03, 0x00, 0x00, 0x80});

    EXPECT_THAT(room.rows.Rows(), ElementsAre("vlhost1 ( 198.51.100.11 ) -- state BLOCKED",
                                              "vlhost2 ( 198.51.100.12 )"));
    EXPECT_EQ(Addresses(), (std::vector<Ipv4>{kHost1, kHost2}));
}

TEST_F(DatagramTest, ForeignShortAndOverlongDatagramsChangeNothing) {
    Start({kHost1});
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00});  // a report one byte short
    Receive(kHost1, {0x04});                    // another console's status request
    Receive(kHost1, {0x02});
    Receive(kHost1, {0x03, 0x02, 0x00, 0x00, 0x80});
    Receive(kHost1, {});
    Bytes overlong(600, 0x00);
    overlong[0] = 0x01;
    Receive(kHost1, overlong);
    room.network.DeliverFailure();
    server->HandleDatagram();
    server->HandleDatagram();  // a notification with nothing waiting

    EXPECT_THAT(server->stations(), IsEmpty());
    EXPECT_EQ(Addresses(), std::vector<Ipv4>{kHost1});
    EXPECT_THAT(room.journal, IsEmpty());
    EXPECT_THAT(room.network.sent, IsEmpty());
    // Every notification takes one datagram, the empty one included, into 512 bytes.
    EXPECT_EQ(room.network.receiveBufferSizes, std::vector<std::size_t>(8, 512));

    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80, 0xEE});  // trailing bytes are not looked at
    EXPECT_THAT(room.rows.Rows(), ElementsAre("vlhost1 ( 198.51.100.11 ) -- state AVAILABLE"));
}

TEST_F(DatagramTest, LongHostNameIsCutSoTheRowKeepsItsAddressAndState) {
    const std::string longName(300, 'x');
    room.names.names[kHost1] = longName;
    Start({kHost1});
    Receive(kHost1, {0x01});
    const std::string added = room.rows.Rows().at(0);
    EXPECT_EQ(added, std::string(237, 'x') + " ( 198.51.100.11 )");

    Receive(kHost1, {0x04, 0x03, 0x00, 0x00, 0x80});

    ASSERT_EQ(room.rows.Rows().size(), 1u);
    EXPECT_EQ(room.rows.Rows()[0], std::string(220, 'x') + " ( 198.51.100.11 ) -- state BLOCKED");
    EXPECT_EQ(room.boxes.shown.at(0).text,
              "Client '" + std::string(217, 'x') + "' ( 198.51.100.11 ) is BLOCKED");
}

TEST_F(DatagramTest, StationWithoutNameIsShownAsNotAvailable) {
    room.names.names[kHost2] = "";
    Start({kNameless, kHost2});
    Receive(kNameless, {0x04, 0x03, 0x00, 0x00, 0x80});
    Receive(kHost2, {0x04, 0x00, 0x00, 0x00, 0x80});

    EXPECT_THAT(room.rows.Rows(), ElementsAre("N/A ( 198.51.100.12 ) -- state UNLIMITED",
                                              "N/A ( 198.51.100.14 ) -- state BLOCKED"));
    EXPECT_EQ(room.boxes.shown.at(0).text, "Client 'N/A' ( 198.51.100.14 ) is BLOCKED");
}

TEST_F(DatagramTest, ASigningConsoleRestoresOnlyWhatItGrantedCountedByItsOwnClock) {
    StartSigning({kHost1});
    const Nonce second{2, 2, 2, 2, 2, 2, 2, 2};
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80, 1, 1, 1, 1, 1, 1, 1, 1});
    room.rows.SetSelected(0, true);
    server->OnSelectionChanged();
    server->AddTime(3600);
    // A forged report claims 194 days; ten minutes later the agent restarts.
    Receive(kHost1, {0x04, 0xFF, 0xFF, 0xFF, 0x00});
    sequences.nowMs += 600000;
    Receive(kHost1, {0x01, 2, 2, 2, 2, 2, 2, 2, 2});
    room.network.sent.clear();
    // The restore, then the warning that follows a restart's comeback, each with its own
    // sequence.
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80, 2, 2, 2, 2, 2, 2, 2, 2});

    EXPECT_THAT(
        room.network.sent,
        ElementsAre(
            To(kHost1, kAgentPort, SignedCommandBytes(3000, sequences.nowMs, kHost1, second)),
            To(kHost1, kAgentPort,
               SignedCommandBytes(0x90000258, sequences.nowMs + 1, kHost1, second))));
    EXPECT_THAT(room.rows.Rows(),
                ElementsAre("vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:50:00"));

    // At zero the station's BLOCKED report is shown as always, and the next restart gets back
    // BLOCKED.
    sequences.nowMs += 3000000;
    Receive(kHost1, {0x04, 0x03, 0x00, 0x00, 0x80, 2, 2, 2, 2, 2, 2, 2, 2});
    EXPECT_THAT(room.rows.Rows(), ElementsAre("vlhost1 ( 198.51.100.11 ) -- state BLOCKED"));
    Receive(kHost1, {0x01});
    room.network.sent.clear();
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});
    EXPECT_THAT(
        room.network.sent,
        ElementsAre(To(kHost1, kAgentPort,
                       SignedCommandBytes(0x80000003, sequences.nowMs, kHost1, kNoNonce)),
                    To(kHost1, kAgentPort,
                       SignedCommandBytes(0x90000258, sequences.nowMs + 1, kHost1, kNoNonce))));
}

struct GrantCase {
    Grant before;
    StatusWord event;  // an order, or with report set a station's report
    bool report;
    std::uint64_t atMs;
    Grant after;
};

TEST(GrantTest, ReportsLowerWhatTheConsoleGrantedAndNeverRaiseIt) {
    constexpr auto N = StationState::NORMAL;
    constexpr auto P = StationState::PAUSED;
    constexpr auto B = StationState::BLOCKED;
    constexpr auto U = StationState::UNLIMITED;
    const GrantCase cases[] = {
        {{B, 0, 0}, 0xC0000E10, false, 1000, {N, 3600, 1000}},
        {{N, 3600, 0}, 0xC0000E10, false, 10500, {N, 7190, 10500}},
        {{N, 3600, 0}, 600, false, 0, {N, 600, 0}},
        {{N, 60, 0}, ModeWord(ModeCommand::Pause), false, 30000, {P, 30, 30000}},
        {{P, 30, 0}, ModeWord(ModeCommand::Resume), false, 90000, {N, 30, 90000}},
        {{N, 60, 0}, ModeWord(ModeCommand::Unlimited), false, 0, {U, 0, 0}},
        {{U, 0, 0}, 0xC0000E10, false, 0, {U, 0, 0}},
        {{N, 60, 0}, ModeWord(ModeCommand::LogOff), false, 0, {N, 60, 0}},
        {{N, 60, 0}, 0x9000012C, false, 0, {N, 60, 0}},
        // Counted by the console's clock; at zero the grant is BLOCKED.
        {{N, 60, 0}, 0x00FFFFFF, true, 59999, {N, 1, 59000}},
        {{N, 60, 0}, 50, true, 60000, {B, 0, 60000}},
        // Reports: less time lowers, more time, another mode or 194 days do not raise.
        {{N, 3600, 0}, 600, true, 0, {N, 600, 0}},
        {{N, 3600, 0}, 0x20000258, true, 0, {N, 600, 0}},
        {{P, 3600, 0}, 0x20FFFFFF, true, 0, {P, 3600, 0}},
        {{N, 600, 0}, 0x00FFFFFF, true, 0, {N, 600, 0}},
        {{N, 600, 0}, ModeWord(StationState::UNLIMITED), true, 0, {N, 600, 0}},
        {{B, 0, 0}, 0x00FFFFFF, true, 0, {B, 0, 0}},
        {{U, 0, 0}, ModeWord(StationState::BLOCKED), true, 0, {B, 0, 0}},
    };
    for (const GrantCase& c : cases) {
        const Grant got = c.report ? LowerByReport(c.before, c.event, c.atMs)
                                   : GrantAfter(c.before, c.event, c.atMs);
        EXPECT_EQ(got.state, c.after.state) << std::hex << c.event;
        EXPECT_EQ(got.seconds, c.after.seconds) << std::hex << c.event;
        EXPECT_EQ(got.atMs, c.after.atMs) << std::hex << c.event;
    }
    EXPECT_EQ(RestoreWord({P, 90, 0}), 0x2000005Au);
    EXPECT_EQ(RestoreWord({U, 0, 0}), 0x80000000u);
    EXPECT_TRUE(GivesTime(0xC0000001));
    EXPECT_TRUE(GivesTime(ModeWord(ModeCommand::Free)));
    EXPECT_FALSE(GivesTime(ModeWord(ModeCommand::Block)));
    EXPECT_FALSE(GivesTime(0x9000012C));
    EXPECT_EQ(WithheldText(3).substr(0, 52),
              "Signed orders: nothing was sent to 3 rows that the c");
}

}  // namespace
}  // namespace vorlek::test
