// The console's passes over many rows hold the list's drawing, and never across a box.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_test.h"

namespace vorlek::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A station list that writes its drawing holds into the journal.
class DrawnStationList : public FakeStationList {
public:
    explicit DrawnStationList(Journal& journal) : FakeStationList(journal), journal_(journal) {}
    void HoldDrawing() override { journal_.push_back("hold drawing"); }
    void ReleaseDrawing() override { journal_.push_back("release drawing"); }

private:
    Journal& journal_;
};

class DrawingTest : public EngineTest {
protected:
    Server& StartDrawn(std::vector<Ipv4> listed) {
        server.emplace(
            ServerPorts{room.network, room.boxes, rows, room.window, room.clock, room.rowNames},
            kOwn, HostList(std::move(listed)));
        return *server;
    }

    DrawnStationList rows{room.journal};
};

TEST_F(DrawingTest, RowChangesAreDrawnTogetherAtTheNextReselect) {
    StartDrawn({kHost1, kHost2});
    server->PopulateStations();
    Receive(kHost1, {0x04, 0x0A, 0x00, 0x00, 0x00});
    EXPECT_THAT(room.journal,
                ElementsAre("hold drawing", "add vlhost1 ( 198.51.100.11 ) -- state OFF",
                            "add vlhost2 ( 198.51.100.12 ) -- state OFF",
                            "delete vlhost1 ( 198.51.100.11 ) -- state OFF",
                            "add vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:00:10"));
    server->Reselect();
    EXPECT_EQ(room.journal.back(), "release drawing");
    // The rest of the second passes without a change.
    server->Reselect();

    room.journal.clear();
    room.clock.now += 1;
    server->RefreshCountdowns();
    server->Reselect();
    EXPECT_THAT(room.journal,
                ElementsAre("hold drawing",
                            "delete vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:00:10",
                            "add vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:00:09",
                            "release drawing"));

    // Nothing changed: nothing to draw.
    room.journal.clear();
    server->Reselect();
    EXPECT_THAT(room.journal, IsEmpty());
}

TEST_F(DrawingTest, RowsThatKeepChangingAreDrawnAtEveryFifthReselect) {
    StartDrawn({kHost1, kHost2});
    server->PopulateStations();
    const auto reselectsUntilDrawn = [&] {
        for (int reselects = 1; reselects <= 10; ++reselects) {
            room.journal.clear();
            server->Reselect();
            if (!room.journal.empty()) {
                EXPECT_THAT(room.journal, ElementsAre("release drawing"));
                return reselects;
            }
            // Still changing before the next reselect.
            Receive(kHost2, {0x04, static_cast<std::uint8_t>(reselects), 0x00, 0x00, 0x00});
        }
        return 0;
    };
    // Changes after a quiet time are drawn at once.
    EXPECT_EQ(reselectsUntilDrawn(), 1);
    Receive(kHost1, {0x04, 0x0A, 0x00, 0x00, 0x00});
    EXPECT_EQ(reselectsUntilDrawn(), 5);
    Receive(kHost1, {0x04, 0x0B, 0x00, 0x00, 0x00});
    EXPECT_EQ(reselectsUntilDrawn(), 5);

    // One reselect without a change ends the busy time.
    room.journal.clear();
    server->Reselect();
    EXPECT_THAT(room.journal, IsEmpty());
    Receive(kHost1, {0x04, 0x0C, 0x00, 0x00, 0x00});
    EXPECT_EQ(reselectsUntilDrawn(), 1);
}

TEST_F(DrawingTest, ABoxDrawsTheHeldChangesWhateverTheReselects) {
    StartDrawn({kHost1, kHost2});
    server->PopulateStations();
    server->Reselect();
    Receive(kHost1, {0x04, 0x0A, 0x00, 0x00, 0x00});
    // Busy: this reselect leaves the change undrawn.
    server->Reselect();
    room.journal.clear();
    Receive(kHost2, {0x04, 0x03, 0x00, 0x00, 0x80});
    EXPECT_THAT(room.journal,
                ElementsAre("death timer N/A", "delete vlhost2 ( 198.51.100.12 ) -- state OFF",
                            "add vlhost2 ( 198.51.100.12 ) -- state BLOCKED", "release drawing",
                            "box Client 'vlhost2' ( 198.51.100.12 ) is BLOCKED", "box closed",
                            "foreground"));
}

TEST_F(DrawingTest, EveryBoxIsShownWithTheListDrawn) {
    StartDrawn({kHost1, kHost2});
    Receive(kHost1, {0x01});
    Receive(kHost2, {0x01});
    Receive(kHost1, {0x04, 0x0A, 0x00, 0x00, 0x00});
    LetStationsFallSilent();                          // vlhost1 was counting: OFF box
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});  // back: ON box
    Receive(kHost2, {0x04, 0x03, 0x00, 0x00, 0x80});  // BLOCKED box
    ASSERT_EQ(room.boxes.shown.size(), 4u);

    bool held = false;
    for (const std::string& entry : room.journal) {
        if (entry == "hold drawing" || entry == "release drawing") {
            held = entry == "hold drawing";
        } else if (entry.starts_with("box ")) {
            EXPECT_FALSE(held) << entry;
        }
    }
}

}  // namespace
}  // namespace vorlek::test
