// The names of the rows: looked up once at first sight, kept between ticks, refreshed beside the
// console's thread in a fair order, and rewritten into the rows when they change.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine_test.h"
#include "server/name_cache.h"
#include "server/name_schedule.h"

namespace vorlek::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(NameCache, LooksAnAddressUpOnceAndKeepsItsNameFailedOrNot) {
    FakeNames names;
    names.names = {{kHost1, "vlhost1"}, {kHost2, ""}};
    FakeNameRefresh refresh(names);
    NameCache cache(refresh);

    EXPECT_EQ(cache.RowName(kHost1), "vlhost1");
    EXPECT_EQ(cache.RowName(kHost2), "N/A");
    EXPECT_EQ(cache.NoticeName(kNameless), "N/A");
    names.names[kHost1] = "renamed";
    names.names[kNameless] = "found";
    EXPECT_EQ(cache.RowName(kHost1), "vlhost1");
    EXPECT_EQ(cache.NoticeName(kNameless), "N/A");

    EXPECT_EQ(names.reverseLookUps, 3);
    EXPECT_THAT(refresh.kept, ElementsAre(kHost1, kHost2, kNameless));
}

TEST(NameCache, NewRowsShareOneShortWaitPerTickAndPromptAnswersCostNothing) {
    using std::chrono::microseconds;
    FakeNames names;
    names.names = {{kHost1, "vlhost1"}, {kHost2, "vlhost2"}, {kHost3, "vlhost3"}};
    FakeNameRefresh refresh(names);
    refresh.late = {{kHost1, kPromptAnswer},
                    {kHost2, microseconds{60'000}},
                    {kHost3, microseconds{60'000}},
                    {kNameless, microseconds{60'000}}};
    NameCache cache(refresh);
    const std::vector<Ipv4> room = {kHost1, kHost2, kHost3};
    cache.Expect(room);
    cache.NewTick();

    EXPECT_EQ(cache.RowName(kHost1), "vlhost1");
    EXPECT_EQ(cache.RowName(kHost2), "vlhost2");
    // 40 ms of the tick's wait are left: the third answer does not come in time.
    EXPECT_EQ(cache.RowName(kHost3), "N/A");
    // Spent: only an answer already there is taken until the next tick.
    EXPECT_EQ(cache.RowName(kNameless), "N/A");
    EXPECT_THAT(refresh.waits,
                ElementsAre(kFirstSightWait + kPromptAnswer, kFirstSightWait + kPromptAnswer,
                            microseconds{40'000} + kPromptAnswer, microseconds{0}));
    // Each address was looked up once, all three of the room together before their rows.
    EXPECT_THAT(refresh.kept, ElementsAre(kHost1, kHost2, kHost3, kNameless));

    cache.Refreshed(kHost3, "vlhost3");
    EXPECT_THAT(cache.TakeRenamed(), ElementsAre(kHost3));
    EXPECT_EQ(cache.RowName(kHost3), "vlhost3");
    // A notice takes the kept name, even "N/A", and waits long only for a station never named.
    EXPECT_EQ(cache.NoticeName(kNameless), "N/A");
    refresh.late.clear();
    const Ipv4 unseen = MakeAddress(198, 51, 100, 15);
    names.names[unseen] = "vlhost5";
    EXPECT_EQ(cache.NoticeName(unseen), "vlhost5");
    EXPECT_EQ(refresh.waits.back(), kNoticeNameWait);
    EXPECT_EQ(refresh.waits.size(), 5u);
}

TEST(NameCache, HandsBackEachChangedNameOnceAndAFailedLookUpAsNA) {
    FakeNames names;
    names.names = {{kHost1, "vlhost1"}, {kHost2, "vlhost2"}};
    FakeNameRefresh refresh(names);
    NameCache cache(refresh);
    cache.RowName(kHost1);
    cache.RowName(kHost2);

    cache.Refreshed(kHost1, "vlhost1");
    cache.Refreshed(kHost3, "never kept");
    EXPECT_THAT(cache.TakeRenamed(), IsEmpty());

    cache.Refreshed(kHost2, std::nullopt);
    cache.Refreshed(kHost1, "pc-1");
    cache.Refreshed(kHost2, "");
    cache.Refreshed(kHost1, "pc-one");
    EXPECT_THAT(cache.TakeRenamed(), ElementsAre(kHost2, kHost1));
    EXPECT_THAT(cache.TakeRenamed(), IsEmpty());
    EXPECT_EQ(cache.RowName(kHost1), "pc-one");
    EXPECT_EQ(cache.RowName(kHost2), "N/A");
    EXPECT_EQ(cache.RowName(kHost3), "N/A");
}

TEST(NameSchedule, LooksNewAddressesUpFirstThenEachAgainAfterAPeriodLongestWaitingFirst) {
    NameSchedule schedule;
    // Start near the wrap of the millisecond clock.
    const std::uint32_t t0 = 0xFFFFF000u;
    EXPECT_EQ(schedule.WaitMs(t0), std::nullopt);
    schedule.AddFirst(kHost1);
    schedule.AddFirst(kHost2);
    EXPECT_EQ(schedule.WaitMs(t0), 0u);
    EXPECT_EQ(schedule.TakeDue(t0), kHost1);
    EXPECT_EQ(schedule.TakeDue(t0), kHost2);
    schedule.Done(kHost1, t0);
    schedule.Done(kHost2, t0 + 500);
    EXPECT_EQ(schedule.WaitMs(t0 + 1000), kNameRefreshPeriodMs - 1000);
    EXPECT_EQ(schedule.TakeDue(t0 + kNameRefreshPeriodMs - 1), std::nullopt);

    const std::uint32_t t1 = t0 + kNameRefreshPeriodMs + 600;
    EXPECT_EQ(schedule.TakeDue(t1), kHost1);
    EXPECT_EQ(schedule.TakeDue(t1), kHost2);
    // Both are being looked up: nothing is handed out twice.
    EXPECT_EQ(schedule.TakeDue(t1 + kNameRefreshPeriodMs), std::nullopt);
    EXPECT_EQ(schedule.WaitMs(t1), std::nullopt);

    // The second look-up began later but ended first: the first is still due first.
    schedule.Done(kHost2, t1 + 10);
    schedule.Done(kHost1, t1);
    EXPECT_EQ(schedule.WaitMs(t1 + 1000), kNameRefreshPeriodMs - 1000);
    EXPECT_EQ(schedule.TakeDue(t1 + kNameRefreshPeriodMs), kHost1);
    EXPECT_EQ(schedule.TakeDue(t1 + kNameRefreshPeriodMs), std::nullopt);
    // A new address goes before one that is due.
    schedule.AddFirst(kHost3);
    EXPECT_EQ(schedule.TakeDue(t1 + kNameRefreshPeriodMs + 10), kHost3);
    EXPECT_EQ(schedule.TakeDue(t1 + kNameRefreshPeriodMs + 10), kHost2);
}

class RowNames : public EngineTest {};

TEST_F(RowNames, TicksTakeKeptNamesAndRewriteRenamedRowsWithTheirState) {
    Server& console = Start({kHost1, kHost2, kHost3});
    console.OnTimerTick();
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});
    Receive(kHost2, {0x04, 0x3C, 0x00, 0x00, 0x00});
    const int lookUps = room.names.reverseLookUps;
    room.clock.now += 1;
    console.OnTimerTick();
    room.clock.now += 1;
    console.OnTimerTick();
    EXPECT_EQ(room.names.reverseLookUps, lookUps);

    room.rowNames.Refreshed(kHost1, "pc-198-51-100-11");
    room.rowNames.Refreshed(kHost2, std::nullopt);
    room.clock.now += 1;
    console.OnTimerTick();

    EXPECT_THAT(room.rows.Rows(),
                ElementsAre("N/A ( 198.51.100.12 ) -- state NORMAL, remains 00:00:57",
                            "pc-198-51-100-11 ( 198.51.100.11 ) -- state AVAILABLE",
                            "vlhost3 ( 198.51.100.13 ) -- state OFF"));
    EXPECT_EQ(room.names.reverseLookUps, lookUps);
}

}  // namespace
}  // namespace vorlek::test
