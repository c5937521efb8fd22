// Row and notice texts, the address word of a row, and the order of the stand-in list box.
#include <algorithm>
#include <string>

#include "engine_test.h"
#include "server/station_rows.h"

namespace vorlek::test {
namespace {

using ::testing::ElementsAre;

TEST(StationRowsTest, RowFormats) {
    EXPECT_EQ(RowText("vlhost1", kHost1), "vlhost1 ( 198.51.100.11 )");
    EXPECT_EQ(RowText("N/A", kHost1, NormalState(5400)),
              "N/A ( 198.51.100.11 ) -- state NORMAL, remains 01:30:00");
    EXPECT_EQ(RowText("vlhost1", kHost1, PausedState(360000)),
              "vlhost1 ( 198.51.100.11 ) -- state PAUSED, remains 100:00:00");
    EXPECT_EQ(RowText("vlhost1", kHost1, kUnlimitedState),
              "vlhost1 ( 198.51.100.11 ) -- state UNLIMITED");
    EXPECT_EQ(RowText("vlhost1", kHost1, kAvailableState),
              "vlhost1 ( 198.51.100.11 ) -- state AVAILABLE");
    EXPECT_EQ(RowText("vlhost1", kHost1, kBlockedState),
              "vlhost1 ( 198.51.100.11 ) -- state BLOCKED");
    EXPECT_EQ(NoticeText("vlhost1", kHost1, "OFF"), "Client 'vlhost1' ( 198.51.100.11 ) is OFF");
}

TEST(StationRowsTest, OffRowShowsRemainingTimeOnlyForACount) {
    EXPECT_EQ(RowText("h", kHost1, OffState(0)), "h ( 198.51.100.11 ) -- state OFF");
    EXPECT_EQ(RowText("h", kHost1, OffState(1)),
              "h ( 198.51.100.11 ) -- state OFF, remains 00:00:01");
    EXPECT_EQ(RowText("h", kHost1, OffState(0xFFFFFF)),
              "h ( 198.51.100.11 ) -- state OFF, remains 4660:20:15");
    EXPECT_EQ(RowText("h", kHost1, OffState(0x1000000)), "h ( 198.51.100.11 ) -- state OFF");
    EXPECT_EQ(RowText("h", kHost1, OffState(0x80000003)), "h ( 198.51.100.11 ) -- state OFF");
}

TEST(StationRowsTest, LongNameIsCutToKeepAddressAndStateWithin255Characters) {
    const std::string name(400, 'n');
    const std::string row = RowText(name, MakeAddress(255, 255, 255, 254), OffState(0xFFFFFF));
    EXPECT_EQ(row.size(), 255u);
    EXPECT_EQ(row, std::string(202, 'n') + " ( 255.255.255.254 ) -- state OFF, remains 4660:20:15");
    EXPECT_EQ(RowAddressWord(row), "255.255.255.254");

    const std::string notice = NoticeText(name, kHost1, "BLOCKED");
    EXPECT_EQ(notice.size(), 255u);
    EXPECT_EQ(notice.substr(notice.size() - 30), "' ( 198.51.100.11 ) is BLOCKED");

    // A name that just fits is not cut.
    EXPECT_EQ(RowText(std::string(237, 'n'), kHost1).size(), 255u);
    EXPECT_EQ(RowText(std::string(236, 'n'), kHost1).size(), 254u);
}

TEST(StationRowsTest, AddressWordIsReadLikeTheScanPattern) {
    EXPECT_EQ(RowAddressWord("vlhost1 ( 198.51.100.11 ) -- state OFF"), "198.51.100.11");
    EXPECT_EQ(RowAddressWord("  n\t(\t1.2.3.4\t)"), "1.2.3.4");
    EXPECT_EQ(RowAddressWord("n (1.2.3.4)"), "1.2.3.4)");
    EXPECT_EQ(RowAddressWord("n(1.2.3.4)"), std::nullopt);
    EXPECT_EQ(RowAddressWord("( 1.2.3.4 )"), std::nullopt);
    EXPECT_EQ(RowAddressWord("n ( "), std::nullopt);
    EXPECT_EQ(RowAddressWord("n"), std::nullopt);
    EXPECT_EQ(RowAddressWord(""), std::nullopt);
}

// The stand-in list box must order rows as the real one does, or the engine's index
// bookkeeping is tested against the wrong list. The order below was measured under Wine.
TEST(FakeStationListTest, SortsAndSearchesLikeTheListBox) {
    const std::vector<std::string> measured = {
        "a_b",
        "aa",
        "ab",
        "a-b",
        "A-c",
        "con",
        "coop",
        "co-op",
        "n/a ( 1.1.1.1 )",
        "N/A ( 198.51.100.14 ) -- state OFF",
        "vlhost10 ( 1.2.3.4 )",
        "vlhost2 ( 198.51.100.12 )",
        "vlhost2 ( 198.51.100.12 ) -- state NORMAL, remains 00:01:30",
        "vlhost2 ( 198.51.100.12 ) -- state OFF",
    };
    std::vector<std::string> shuffled = measured;
    std::reverse(shuffled.begin(), shuffled.end());
    std::rotate(shuffled.begin(), shuffled.begin() + 5, shuffled.end());
    Journal journal;
    FakeStationList list(journal);
    for (const std::string& row : shuffled) {
        list.Add(row);
    }

    EXPECT_EQ(list.Rows(), measured);
    EXPECT_EQ(list.FindPrefix(0, "vlhost2 ( 198.51.100.12 )"), 11);
    EXPECT_EQ(list.FindPrefix(11, "VLHOST2 ( 198.51.100.12 )"), 12);
    EXPECT_EQ(list.FindPrefix(13, "a_b"), 0);  // wraps to the top
    EXPECT_EQ(list.FindPrefix(0, "a_b"), 0);   // and ends at the start row
    EXPECT_EQ(list.FindPrefix(0, "zz"), -1);
}

}  // namespace
}  // namespace vorlek::test
