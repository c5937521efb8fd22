// The row index kept beside the station list must give the answers that reading the list would:
// FindRow's first row in list order, and the list's prefix search for a row just added.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "fakes.h"
#include "server/row_index.h"
#include "server/station_rows.h"

namespace vorlek::test {
namespace {

// FindRow as the list itself answers it: parse every row from the top.
int FirstRowByReading(FakeStationList& list, Ipv4 address) {
    for (int row = 0;; ++row) {
        const auto text = list.Text(row);
        if (!text) {
            return -1;
        }
        const auto word = RowAddressWord(*text);
        if (word && InetAddr(*word) == address) {
            return row;
        }
    }
}

class RowIndexTest : public ::testing::Test {
protected:
    int Add(const std::string& text) {
        const int row = list.Add(text);
        index.Added(row, text);
        return row;
    }
    void Delete(int row) {
        list.Delete(row);
        index.Deleted(row);
    }

    Journal journal;
    FakeStationList list{journal};
    RowIndex index;
};

TEST_F(RowIndexTest, FindsTheFirstRowInListOrderNotTheFirstAdded) {
    Add("vlhost2 ( 198.51.100.12 ) -- state OFF");
    Add("N/A ( 198.51.100.14 ) -- state OFF");
    Add("vlhost-2 ( 198.51.100.12 ) -- state OFF");
    Add("vlhost2 ( 198.51.100.12 ) -- state NORMAL, remains 00:01:00");

    EXPECT_EQ(index.Find(MakeAddress(198, 51, 100, 12)), 1);
    EXPECT_EQ(index.Find(MakeAddress(198, 51, 100, 14)), 0);
    EXPECT_EQ(index.Find(MakeAddress(198, 51, 100, 11)), -1);
    EXPECT_EQ(index.Count(MakeAddress(198, 51, 100, 12)), 3);

    Delete(1);
    EXPECT_EQ(index.Find(MakeAddress(198, 51, 100, 12)), 1);
    EXPECT_EQ(index.Count(MakeAddress(198, 51, 100, 12)), 2);
    Delete(3);  // beyond the last row: nothing changes
    EXPECT_EQ(index.size(), 3u);
}

TEST_F(RowIndexTest, RowsWithoutAReadableAddressAreFoundAsTheListWouldFindThem) {
    // A name with a space hides the address from the row parse; a word that is not an address
    // reads as 255.255.255.255, as the dotted-quad conversion gives it.
    Add("two words ( 198.51.100.11 )");
    Add("x ( junk )");
    EXPECT_EQ(index.Find(MakeAddress(198, 51, 100, 11)),
              FirstRowByReading(list, MakeAddress(198, 51, 100, 11)));
    EXPECT_EQ(index.Find(kInetNone), FirstRowByReading(list, kInetNone));
    EXPECT_EQ(index.Find(kInetNone), 1);
}

TEST_F(RowIndexTest, AddedRowIsTheOnlyPrefixMatchOnlyWhenNoOtherRowCanBeginWithIt) {
    const int added = Add("vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:00:05");
    EXPECT_TRUE(
        index.IsOnlyRowWithPrefix("vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:00:05"));
    EXPECT_EQ(list.FindPrefix(0, "vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:00:05"),
              added);

    // A second row of the address may begin with the text in another letter case.
    Add("VLHOST1 ( 198.51.100.11 ) -- state NORMAL, remains 00:00:05");
    EXPECT_FALSE(
        index.IsOnlyRowWithPrefix("VLHOST1 ( 198.51.100.11 ) -- state NORMAL, remains 00:00:05"));
    // Address words that are not plain dotted decimal, or that end the text, prove nothing.
    Add("a ( 0x0A.1.2.3 ) -- state OFF");
    EXPECT_FALSE(index.IsOnlyRowWithPrefix("a ( 0x0A.1.2.3 ) -- state OFF"));
    Add("b ( 10.1.2.4");
    EXPECT_FALSE(index.IsOnlyRowWithPrefix("b ( 10.1.2.4"));
    EXPECT_FALSE(index.IsOnlyRowWithPrefix("two words ( 10.1.2.5 )"));
}

// Random rewrites of a room's rows, with duplicates, names that change, hyphens and letter
// case, checked after every step against reading the list.
TEST_F(RowIndexTest, AgreesWithReadingTheListThroughRandomRewrites) {
    std::mt19937 random(8);
    const std::vector<std::string> names = {"vlhost1", "VLHOST1", "vl-host", "a_b", "N/A", "co-op"};
    const auto address = [](int n) {
        return MakeAddress(198, 51, 100, static_cast<std::uint8_t>(10 + n));
    };
    const auto text = [&](int n) {
        const std::string name = names[random() % names.size()];
        const int seconds = static_cast<int>(random() % 4);
        return RowText(name, address(n), random() % 2 ? NormalState(seconds) : OffState(seconds));
    };
    for (int step = 0; step < 3000; ++step) {
        const int station = static_cast<int>(random() % 12);
        const int row = index.Find(address(station));
        ASSERT_EQ(row, FirstRowByReading(list, address(station))) << "step " << step;
        if (row >= 0 && random() % 3 != 0) {
            Delete(row);
        }
        const std::string written = text(station);
        const int added = Add(written);
        if (index.IsOnlyRowWithPrefix(written)) {
            ASSERT_EQ(list.FindPrefix(0, written), added) << written;
        }
        ASSERT_EQ(index.size(), list.Rows().size());
    }
}

}  // namespace
}  // namespace vorlek::test
