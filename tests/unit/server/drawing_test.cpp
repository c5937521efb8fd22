// The console's passes over many rows hold the list's drawing, and never across a box.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_test.h"

namespace vorlek::test {
namespace {

using ::testing::ElementsAre;

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

TEST_F(DrawingTest, PopulationAndCountdownDrawTheListOnceAtTheirEnd) {
    StartDrawn({kHost1, kHost2});
    server->PopulateStations();
    EXPECT_THAT(room.journal,
                ElementsAre("hold drawing", "add vlhost1 ( 198.51.100.11 ) -- state OFF",
                            "add vlhost2 ( 198.51.100.12 ) -- state OFF", "release drawing"));

    Receive(kHost1, {0x04, 0x0A, 0x00, 0x00, 0x00});
    Receive(kHost2, {0x04, 0x14, 0x00, 0x00, 0x00});
    room.journal.clear();
    room.clock.now += 1;
    server->RefreshCountdowns();
    EXPECT_THAT(room.journal,
                ElementsAre("hold drawing",
                            "delete vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:00:10",
                            "add vlhost1 ( 198.51.100.11 ) -- state NORMAL, remains 00:00:09",
                            "delete vlhost2 ( 198.51.100.12 ) -- state NORMAL, remains 00:00:20",
                            "add vlhost2 ( 198.51.100.12 ) -- state NORMAL, remains 00:00:19",
                            "release drawing"));
}

TEST_F(DrawingTest, PassWithoutRowChangesAndSingleReportsHoldNothing) {
    StartDrawn({kHost1});
    server->RefreshCountdowns();
    Receive(kHost1, {0x04, 0x02, 0x00, 0x00, 0x80});
    for (const std::string& entry : room.journal) {
        EXPECT_NE(entry, "hold drawing");
    }
}

TEST_F(DrawingTest, OffBoxesAreShownWithTheListDrawn) {
    StartDrawn({kHost1});
    Receive(kHost1, {0x01});
    Receive(kHost1, {0x04, 0x0A, 0x00, 0x00, 0x00});
    room.journal.clear();
    LetStationsFallSilent();
    ASSERT_THAT(room.boxes.shown, ::testing::SizeIs(1));
    for (const std::string& entry : room.journal) {
        EXPECT_NE(entry, "hold drawing");
    }
}

}  // namespace
}  // namespace vorlek::test
