// /notices=summary and /journal=: one box for the notices of a tick, and the lines that account
// for the time given.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine_test.h"
#include "server/notice_summary.h"
#include "server/time_journal.h"

namespace vorlek::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RecordingJournal : public TimeJournal {
public:
    void Record(const JournalEntry& entry) override {
        lines.push_back(JournalLine(kAt, entry, kOwn));
    }
    static constexpr LocalTime kAt{2026, 12, 9, 14, 3, 7, 60};
    std::vector<std::string> lines;
};

TEST(NoticeSummary, OneStationKeepsItsOwnTextManyAreCountedAndTheFirstTwentyNamed) {
    NoticeSummary summary;
    EXPECT_EQ(summary.TakeNext(), std::nullopt);
    summary.Add("BLOCKED", "vlhost3", kHost3);
    for (std::uint8_t i = 1; i <= 22; ++i) {
        summary.Add("OFF", "pc" + std::to_string(i), MakeAddress(198, 18, 0, i));
    }
    summary.Add("ON", "vlhost1", kHost1);
    summary.Add("ON", "vlhost2", kHost2);

    std::string off = "22 clients are OFF";
    for (int i = 1; i <= 20; ++i) {
        off += "\npc" + std::to_string(i) + " ( 198.18.0." + std::to_string(i) + " )";
    }
    EXPECT_EQ(summary.TakeNext(), off + "\nand 2 more");
    EXPECT_EQ(summary.TakeNext(),
              "2 clients are ON\nvlhost1 ( 198.51.100.11 )\nvlhost2 ( 198.51.100.12 )");
    EXPECT_EQ(summary.TakeNext(), "Client 'vlhost3' ( 198.51.100.13 ) is BLOCKED");
    EXPECT_EQ(summary.TakeNext(), std::nullopt);
}

TEST(TimeJournal, EveryCommandHasItsEventAndSecondsAndFieldsAreQuotedAsCsvWants) {
    const std::pair<StatusWord, std::string_view> events[] = {
        {0xC0000E10, "add-time,3600"}, {0x90000258, "warning,600"}, {0x00000E10, "set-time,3600"},
        {0x80000000, "unlimited,"},    {0x80000001, "pause,"},      {0x80000002, "free,"},
        {0x80000003, "block,"},        {0x80000005, "resume,"},     {0x80000007, "log-off,"},
        {0x80000008, "reboot,"},
    };
    for (const auto& [word, expected] : events) {
        const auto event = CommandEvent(word);
        ASSERT_TRUE(event) << word;
        EXPECT_EQ(std::string(event->name) + "," +
                      (event->seconds ? std::to_string(*event->seconds) : ""),
                  expected);
    }
    EXPECT_EQ(CommandEvent(0x80000004), std::nullopt);

    const LocalTime west{2026, 1, 2, 3, 4, 5, -330};
    EXPECT_EQ(JournalFileName(west), "vorlek-2026-01-02.csv");
    EXPECT_EQ(JournalLine(west, {"a,\"b\"", kHost1, "OFF", std::nullopt}, kOwn),
              "2026-01-02T03:04:05-05:30,\"a,\"\"b\"\"\",198.51.100.11,OFF,,198.51.100.1\r\n");
    EXPECT_EQ(LostLinesLine(RecordingJournal::kAt, 12, kOwn),
              "2026-12-09T14:03:07+01:00,,,lost,12,198.51.100.1\r\n");
}

class NoticesTest : public EngineTest {};

TEST_F(NoticesTest, SummaryShowsOneBoxAfterEveryRowOfTheTickIsOffAndTicksGoOn) {
    Start({kHost1, kHost2, kHost3});
    server->setNotices(NoticeMode::Summary);
    RecordingJournal journal;
    server->setJournal(&journal);
    server->OnTimerTick();
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});
    Receive(kHost2, {0x04, 0x02, 0x00, 0x00, 0x80});
    Receive(kHost3, {0x04, 0x02, 0x00, 0x00, 0x80});
    ClearRecords();
    // While the summary is open, the ticks go on and gather without opening another box.
    room.boxes.whileOpen = [&] {
        room.clock.now += 1;
        server->OnTimerTick();
    };

    LetStationsFallSilent();
    EXPECT_THAT(room.boxes.shown, IsEmpty());
    EXPECT_THAT(room.rows.Rows(), ElementsAre("vlhost1 ( 198.51.100.11 ) -- state OFF",
                                              "vlhost2 ( 198.51.100.12 ) -- state OFF",
                                              "vlhost3 ( 198.51.100.13 ) -- state OFF"));
    server->OnTimerTick();

    ASSERT_EQ(room.boxes.shown.size(), 1u);
    EXPECT_EQ(room.boxes.shown[0].text,
              "3 clients are OFF\nvlhost1 ( 198.51.100.11 )\nvlhost2 ( 198.51.100.12 )\n"
              "vlhost3 ( 198.51.100.13 )");
    // The client warning that the first tick sent every listed station, a station back ON (its
    // state given back first), a command and the warning for every station are journaled.
    Receive(kHost2, {0x04, 0x02, 0x00, 0x00, 0x80});
    room.rows.SetSelected(-1, false);
    room.rows.SetSelected(0, true);
    server->OnSelectionChanged();
    server->AddTime(1800);
    server->SendToAllStations(BuildCommand(kWarningBase + 60));
    EXPECT_THAT(journal.lines,
                ElementsAre("2026-12-09T14:03:07+01:00,vlhost1,198.51.100.11,warning,600,"
                            "198.51.100.1\r\n",
                            "2026-12-09T14:03:07+01:00,vlhost2,198.51.100.12,warning,600,"
                            "198.51.100.1\r\n",
                            "2026-12-09T14:03:07+01:00,vlhost3,198.51.100.13,warning,600,"
                            "198.51.100.1\r\n",
                            "2026-12-09T14:03:07+01:00,vlhost1,198.51.100.11,OFF,,198.51.100.1\r\n",
                            "2026-12-09T14:03:07+01:00,vlhost2,198.51.100.12,OFF,,198.51.100.1\r\n",
                            "2026-12-09T14:03:07+01:00,vlhost3,198.51.100.13,OFF,,198.51.100.1\r\n",
                            "2026-12-09T14:03:07+01:00,vlhost2,198.51.100.12,restore,,"
                            "198.51.100.1\r\n",
                            "2026-12-09T14:03:07+01:00,vlhost2,198.51.100.12,ON,,198.51.100.1\r\n",
                            "2026-12-09T14:03:07+01:00,vlhost1,198.51.100.11,add-time,1800,"
                            "198.51.100.1\r\n",
                            "2026-12-09T14:03:07+01:00,vlhost1,198.51.100.11,warning,60,"
                            "198.51.100.1\r\n",
                            "2026-12-09T14:03:07+01:00,vlhost2,198.51.100.12,warning,60,"
                            "198.51.100.1\r\n",
                            "2026-12-09T14:03:07+01:00,vlhost3,198.51.100.13,warning,60,"
                            "198.51.100.1\r\n"));
}

}  // namespace
}  // namespace vorlek::test
