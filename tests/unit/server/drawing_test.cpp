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
            ServerPorts{room.network, room.names, room.boxes, rows, room.window, room.clock}, kOwn,
            HostList(std::move(listed)));
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
