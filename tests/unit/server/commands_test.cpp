// The operator's commands to the selected stations, the selection's restore and the row look-up.
#include <string>

#include "engine_test.h"

namespace vorlek::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class CommandsTest : public EngineTest {
protected:
    // Three stations that said hello, in an order other than their rows': all rows selected.
    void ThreeGreetedStations() {
        Start();
        Receive(kHost3, {0x01});
        Receive(kHost1, {0x01});
        Receive(kHost2, {0x01});
        ClearRecords();
    }

    std::vector<std::int32_t> Saved() const {
        std::vector<std::int32_t> saved;
        for (const std::int32_t row : server->savedSelection()) {
            if (row < 0) {
                break;
            }
            saved.push_back(row);
        }
        return saved;
    }
};

TEST_F(CommandsTest, EverySelectedRowGetsOneCommandInRowOrder) {
    ThreeGreetedStations();

    server->SendToSelected(0x80000001);

    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost1, kStationPort, {0x03, 0x01, 0x00, 0x00, 0x80}),
                            To(kHost2, kStationPort, {0x03, 0x01, 0x00, 0x00, 0x80}),
                            To(kHost3, kStationPort, {0x03, 0x01, 0x00, 0x00, 0x80})));
    EXPECT_EQ(Saved(), (std::vector<std::int32_t>{0, 1, 2}));
}

TEST_F(CommandsTest, ZeroBlocksAndThePausedBitIsCleared) {
    ThreeGreetedStations();
    room.rows.SetSelected(-1, false);
    room.rows.SetSelected(1, true);

    server->SendToSelected(0);
    server->SendToSelected(PausedFlag + 60);

    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost2, kStationPort, {0x03, 0x03, 0x00, 0x00, 0x80}),
                            To(kHost2, kStationPort, {0x03, 0x3C, 0x00, 0x00, 0x00})));
}

TEST_F(CommandsTest, NothingIsSentBeforeASelectionWasSaved) {
    Start({kHost1, kHost2});
    server->PopulateStations();
    room.rows.SetSelected(0, true);
    room.network.sent.clear();

    server->SendToSelected(0x80000005);
    server->AddTime(60);

    EXPECT_THAT(room.network.sent, IsEmpty());
    EXPECT_EQ(server->savedSelection()[0], -1);
}

TEST_F(CommandsTest, ClearedSelectionStopsEveryCommand) {
    ThreeGreetedStations();
    room.rows.SetSelected(-1, false);
    server->OnSelectionChanged();
    EXPECT_THAT(room.network.sent, IsEmpty());
    EXPECT_EQ(server->savedSelection()[0], -1);

    room.rows.SetSelected(2, true);  // selected, but never taken
    server->SendToSelected(0x80000003);
    EXPECT_THAT(room.network.sent, IsEmpty());
}

TEST_F(CommandsTest, SelectionChangeQueriesEverySelectedRowAndAsksForReselect) {
    ThreeGreetedStations();
    room.rows.SetSelected(1, false);

    server->OnSelectionChanged();

    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost1, kStationPort, {0x04}), To(kHost3, kStationPort, {0x04})));
    EXPECT_EQ(server->FindStation(kHost1)->attemptsLeft, 3u);
    EXPECT_EQ(server->FindStation(kHost2)->attemptsLeft, 0u);
    EXPECT_EQ(server->FindStation(kHost3)->attemptsLeft, 3u);
    EXPECT_EQ(Saved(), (std::vector<std::int32_t>{0, 2}));
    EXPECT_TRUE(server->flags() & ReselectFlag);

    // Rewritten rows lose their selection; the reselect puts the saved rows back, only adding.
    room.rows.SetSelected(-1, false);
    room.rows.SetSelected(1, true);
    server->Reselect();
    EXPECT_FALSE(server->flags() & ReselectFlag);
    EXPECT_THAT(room.rows.SelectedRows(),
                ElementsAre("vlhost1 ( 198.51.100.11 )", "vlhost2 ( 198.51.100.12 )",
                            "vlhost3 ( 198.51.100.13 )"));
}

TEST_F(CommandsTest, ReselectLeavesTheRowsAloneOnceARowHasMoved) {
    ThreeGreetedStations();
    room.rows.SetSelected(-1, false);
    room.rows.SetSelected(1, true);
    server->OnSelectionChanged();
    // Before the reselect, a new station's row sorts in first (selected as it is added): saved
    // row 1 is now vlhost1's.
    Receive(kNameless, {0x01});

    server->Reselect();

    EXPECT_FALSE(server->flags() & ReselectFlag);
    EXPECT_THAT(room.rows.SelectedRows(),
                ElementsAre("N/A ( 198.51.100.14 )", "vlhost2 ( 198.51.100.12 )"));
}

TEST_F(CommandsTest, QueryWithoutTimeoutFlagLeavesTheWatchAlone) {
    ThreeGreetedStations();
    server->setFlags(server->flags() & ~TimeoutFlag);

    server->QuerySelected();

    EXPECT_EQ(room.network.sent.size(), 3u);
    EXPECT_EQ(server->FindStation(kHost1)->attemptsLeft, 0u);
}

TEST_F(CommandsTest, ReselectAppliesSavedRowsUpToTheFirstNegativeEntry) {
    ThreeGreetedStations();
    room.rows.SetSelected(-1, false);
    server->Reselect();  // flag clear: nothing
    EXPECT_THAT(room.rows.SelectedRows(), IsEmpty());

    room.rows.SetSelected(0, true);
    room.rows.SetSelected(2, true);
    server->OnSelectionChanged();
    room.rows.SetSelected(-1, false);
    // Saved row 2 is now beyond the end: it is skipped without effect.
    room.rows.Delete(0);
    server->Reselect();
    EXPECT_THAT(room.rows.SelectedRows(), ElementsAre("vlhost2 ( 198.51.100.12 )"));

    room.rows.SetSelected(-1, false);
    server->QuerySelected();  // empty selection: the saved list starts with -1
    server->setFlags(server->flags() | ReselectFlag);
    server->Reselect();
    EXPECT_THAT(room.rows.SelectedRows(), IsEmpty());
    EXPECT_FALSE(server->flags() & ReselectFlag);
}

TEST_F(CommandsTest, AddTimeRaisesOnlySelectedCountingStations) {
    Start({kHost1, kHost2, kHost3});
    server->PopulateStations();
    Receive(kHost1, {0x04, 0x64, 0x00, 0x00, 0x00});  // 100 seconds
    Receive(kHost2, {0x04, 0x58, 0x02, 0x00, 0x20});  // paused with 600
    Receive(kHost3, {0x04, 0x64, 0x00, 0x00, 0x00});
    room.rows.SetSelected(0, true);
    room.rows.SetSelected(1, true);
    server->OnSelectionChanged();
    ClearRecords();

    server->AddTime(5);

    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost1, kStationPort, {0x03, 0x05, 0x00, 0x00, 0xC0}),
                            To(kHost2, kStationPort, {0x03, 0x05, 0x00, 0x00, 0xC0})));
    EXPECT_EQ(server->FindStation(kHost1)->status, 105u);
    EXPECT_EQ(server->FindStation(kHost2)->status, 0x20000258u);
    EXPECT_EQ(server->FindStation(kHost3)->status, 100u);
    // The rows change with the next refresh, not here.
    EXPECT_THAT(room.journal, IsEmpty());
}

TEST_F(CommandsTest, OnlyTheFirstSelectedRowsTakePart) {
    Start();
    const std::size_t selected = kSelectionLimit + 20;
    for (std::size_t i = 0; i < selected; ++i) {
        const Ipv4 address = MakeAddress(10, 0, static_cast<std::uint8_t>(i / 256),
                                         static_cast<std::uint8_t>(i % 256));
        room.rows.Add("N/A ( " + FormatDotted(address) + " )");
    }
    room.rows.SetSelected(-1, true);
    server->OnSelectionChanged();
    room.network.sent.clear();

    server->SendToSelected(0x80000002);

    EXPECT_EQ(room.network.sent.size(), kSelectionLimit);
    EXPECT_EQ(server->savedSelection()[kSelectionLimit - 1],
              static_cast<std::int32_t>(kSelectionLimit - 1));
    EXPECT_EQ(server->savedSelection()[kSelectionLimit], -1);
}

TEST_F(CommandsTest, RowsWithoutReadableAddressAreSkipped) {
    Start();
    room.rows.Add("vlhost1 ( 198.51.100.11 )");
    room.rows.Add("vlhost1(198.51.100.12)");
    room.rows.Add("vlhost1 ( not-an-address )");
    room.rows.Add("vlhost2 ( 198.51.100.12 ) -- state OFF");
    room.rows.SetSelected(-1, true);
    server->OnSelectionChanged();

    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost1, kStationPort, {0x04}), To(kHost2, kStationPort, {0x04})));
}

TEST_F(CommandsTest, FindRowGivesTheFirstRowWithTheAddressInListOrder) {
    // Rows of one address under the names it had at each writing.
    Start({kNameless});
    Receive(kHost2, {0x01});
    room.rowNames.Refreshed(kHost2, "vlhost-2");
    server->PopulateStations();
    room.rowNames.Refreshed(kHost2, "vlhost2");
    Receive(kHost2, {0x04, 0x3C, 0x00, 0x00, 0x00});
    ASSERT_THAT(room.rows.Rows(),
                ElementsAre("N/A ( 198.51.100.14 ) -- state OFF",
                            "vlhost2 ( 198.51.100.12 ) -- state NORMAL, remains 00:01:00",
                            "vlhost-2 ( 198.51.100.12 ) -- state OFF"));
    EXPECT_EQ(server->FindRow(kHost2), 1);

    // The station's OFF row, written last, sorts first: it is the one found from now on.
    room.rowNames.Refreshed(kHost2, "avlhost2");
    LetStationsFallSilent();
    ASSERT_THAT(room.rows.Rows(),
                ElementsAre("avlhost2 ( 198.51.100.12 ) -- state OFF, remains 00:01:00",
                            "N/A ( 198.51.100.14 ) -- state OFF",
                            "vlhost-2 ( 198.51.100.12 ) -- state OFF"));
    EXPECT_EQ(server->FindRow(kHost2), 0);
    EXPECT_EQ(server->FindRow(kNameless), 1);
    EXPECT_EQ(server->FindRow(kHost1), -1);
}

constexpr Nonce kNonce1{1, 2, 3, 4, 5, 6, 7, 8};

Bytes Nonced(Bytes bytes, const Nonce& nonce) {
    bytes.insert(bytes.end(), nonce.begin(), nonce.end());
    return bytes;
}

TEST_F(CommandsTest, ASigningConsoleSignsForTheLatestNonceAndAStationNotHeardFromIsAskedFirst) {
    StartSigning({kHost1, kHost2});
    const std::uint64_t t = sequences.nowMs;
    server->PopulateStations();
    // The warnings wait: each station gets a StatusRequest and no Command.
    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost1, kStationPort, {0x04}), To(kHost2, kStationPort, {0x04}),
                            To(kHost1, kStationPort, {0x04}), To(kHost2, kStationPort, {0x04})));
    room.network.sent.clear();

    Receive(kHost1, Nonced({0x04, 0x02, 0x00, 0x00, 0x80}, kNonce1));
    room.rows.SetSelected(0, true);
    room.rows.SetSelected(1, true);
    server->OnSelectionChanged();
    server->AddTime(3600);
    // An agent that does not check sends no nonce: its orders are signed for eight zeros.
    Receive(kHost2, {0x04, 0x02, 0x00, 0x00, 0x80});

    // The clock stood still: each sequence is one more than the last.
    EXPECT_THAT(
        room.network.sent,
        ElementsAre(
            To(kHost1, kStationPort, SignedCommandBytes(0x90000258, t, kHost1, kNonce1)),
            To(kHost1, kStationPort, {0x04}), To(kHost2, kStationPort, {0x04}),
            To(kHost1, kStationPort, SignedCommandBytes(0xC0000E10, t + 1, kHost1, kNonce1)),
            To(kHost2, kStationPort, SignedCommandBytes(0x90000258, t + 2, kHost2, kNoNonce)),
            To(kHost2, kStationPort, SignedCommandBytes(0xC0000E10, t + 3, kHost2, kNoNonce))));
    EXPECT_THAT(sequences.kept, ElementsAre(t, t + 1, t + 2, t + 3));

    // Nothing goes when the signature or the sequence's keeping fails.
    room.network.sent.clear();
    signer.fails = true;
    server->SendToSelected(ModeWord(ModeCommand::Block));
    signer.fails = false;
    sequences.fails = true;
    server->SendToSelected(ModeWord(ModeCommand::Block));
    EXPECT_THAT(room.network.sent, IsEmpty());
}

TEST_F(CommandsTest, ASigningConsoleGivesNoTimeToRowsItSelectedItself) {
    StartSigning();
    const std::uint64_t t = sequences.nowMs;
    Receive(kHost1, Nonced({0x01}, kNonce1));
    ClearRecords();

    // The row was added selected: time and free use wait for the operator's own selection.
    server->AddTime(60);
    server->SendToSelected(ModeWord(ModeCommand::Unlimited));
    server->SendToSelected(ModeWord(ModeCommand::Block));
    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost1, kStationPort,
                               SignedCommandBytes(0x80000003, t + 1, kHost1, kNonce1))));
    EXPECT_EQ(Record(0).status, 0u);
    const ShownBox withheld{
        "Signed orders: nothing was sent to 1 row that the console selected "
        "itself.\nSelect the stations yourself, then press the button again.",
        "Vorlek Server", BoxIcon::Information};
    EXPECT_THAT(room.boxes.shown, ElementsAre(withheld, withheld));

    server->OnSelectionChanged();
    room.network.sent.clear();
    server->AddTime(60);
    EXPECT_THAT(room.network.sent,
                ElementsAre(To(kHost1, kStationPort,
                               SignedCommandBytes(0xC000003C, t + 2, kHost1, kNonce1))));

    // A report of zero has the console select the row again.
    room.rows.SetSelected(-1, false);
    server->OnSelectionChanged();
    Receive(kHost1, Nonced({0x04, 0x00, 0x00, 0x00, 0x00}, kNonce1));
    server->RefreshCountdowns();
    room.network.sent.clear();
    server->AddTime(60);
    EXPECT_THAT(room.network.sent, IsEmpty());
}

}  // namespace
}  // namespace vorlek::test
