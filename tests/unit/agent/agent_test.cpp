#include "agent/agent.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "agent/order_gate.h"
#include "tests/unit/agent/world.h"
#include "tests/unit/link/fake_signer.h"

namespace vorlek {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::World;

const Ipv4 kServerA = MakeAddress(198, 51, 100, 1);
const Ipv4 kServerB = MakeAddress(198, 51, 100, 2);
const Peer kOddSender{MakeAddress(198, 51, 100, 9), 40000};

// A picture file of 2 x 2 pixels: first stored row blue, second red.
std::filesystem::path WritePicture(const std::string& name) {
    const auto path = std::filesystem::temp_directory_path() / name;
    std::ofstream out(path, std::ios::binary);
    std::vector<char> header(54, 0);
    header[18] = 2;
    header[22] = 2;
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    const char rows[] = {'\xFF', 0, 0, '\xFF', 0, 0, 0, 0, '\xFF', 0, 0, '\xFF'};
    out.write(rows, sizeof rows);
    return path;
}

class AgentTest : public ::testing::Test {
protected:
    AgentTest() : agent_(world_.Ports(), HostList({kServerA, kServerB, 0}), MissingPicture()) {}

    static std::string MissingPicture() {
        return (std::filesystem::temp_directory_path() / "vorlek-no-such-BLOCKED.BMP").string();
    }

    void Receive(Peer from, std::vector<std::uint8_t> bytes) {
        world_.network.incoming.push_back({from, std::move(bytes)});
        agent_.HandleDatagram();
    }

    // A tick of the timer a second after the last one.
    void Tick() {
        world_.timer.now += 1000;
        agent_.Tick();
    }

    World world_;
    Agent agent_;
};

TEST_F(AgentTest, StartSaysHelloToEachServerThenReportsAvailableThenOpensTheDevice) {
    EXPECT_TRUE(agent_.Start());
    EXPECT_THAT(world_.Take(),
                ElementsAre("send 198.51.100.1:10001 01", "send 198.51.100.2:10001 01",
                            "send 198.51.100.1:10001 04 02 00 00 80",
                            "send 198.51.100.2:10001 04 02 00 00 80", "device open"));
    EXPECT_EQ(agent_.state(), StationState::AVAILABLE);
    EXPECT_EQ(agent_.remaining(), 0u);
    EXPECT_EQ(agent_.warningThreshold(), 0u);
}

TEST(AgentStart, WithoutServersSaysHelloOnceByBroadcastAndReportsNothing) {
    World world;
    Agent agent(world.Ports(), HostList{}, "");
    EXPECT_TRUE(agent.Start());
    EXPECT_THAT(world.Take(), ElementsAre("send 255.255.255.255:10001 01", "device open"));

    // Reports go nowhere, but the sender of a request still gets its answer.
    world.network.incoming.push_back({kOddSender, {0x03, 0x2C, 0x01, 0x00, 0x00}});
    agent.HandleDatagram();
    EXPECT_THAT(world.Take(), ElementsAre("rearm", "send 198.51.100.9:40000 04 2C 01 00 00"));
}

TEST(AgentStart, BlockedOpensTheDeviceAndLocksBeforeTheFirstReportUntilTimeIsGiven) {
    World world;
    const auto path = WritePicture("vorlek-agent-start-blocked.bmp");
    Agent agent(world.Ports(), HostList({kServerA}), path.string());
    EXPECT_TRUE(agent.Start(StartMode::Blocked));
    EXPECT_THAT(world.Take(), ElementsAre("send 198.51.100.1:10001 01", "device open", "window 2x2",
                                          "ioctl 0x100", "send 198.51.100.1:10001 04 03 00 00 80"));
    agent.ExecuteCommand(0xC0000E10);  // 1 hour
    EXPECT_THAT(world.Take(), ElementsAre("window closed", "ioctl 0x200", "rearm",
                                          "send 198.51.100.1:10001 04 10 0E 00 00"));
    std::filesystem::remove(path);

    World failing;
    failing.device.opens = false;
    Agent refused(failing.Ports(), HostList({kServerA}), "");
    EXPECT_FALSE(refused.Start(StartMode::Blocked));
    EXPECT_THAT(
        failing.Take(),
        ElementsAre("send 198.51.100.1:10001 01", "device open failed",
                    "box [Vorlek client] [Failed to open vorlek device\n] stop", "box closed"));
}

TEST(AgentStart, AnEntryOfZeroHidesTheRestOfTheList) {
    World world;
    Agent agent(world.Ports(), HostList({kServerA, 0, kServerB, 0}), "");
    EXPECT_TRUE(agent.Start());
    EXPECT_THAT(world.Take(), ElementsAre("send 198.51.100.1:10001 01",
                                          "send 198.51.100.1:10001 04 02 00 00 80", "device open"));
}

TEST_F(AgentTest, DeviceThatDoesNotOpenIsFatalAfterHelloAndFirstReport) {
    world_.device.opens = false;
    EXPECT_FALSE(agent_.Start());
    EXPECT_THAT(
        world_.Take(),
        ElementsAre("send 198.51.100.1:10001 01", "send 198.51.100.2:10001 01",
                    "send 198.51.100.1:10001 04 02 00 00 80",
                    "send 198.51.100.2:10001 04 02 00 00 80", "device open failed",
                    "box [Vorlek client] [Failed to open vorlek device\n] stop", "box closed"));
}

// The state table: every command from every state. Each starting state has 100 seconds left.
enum class From { Unlimited, Paused, Available, Blocked, Normal, Six };

struct Row {
    const char* name;
    From from;
    StatusWord command;
    StationState state;
    std::uint32_t remaining;
    // What happens besides the reports, in order.
    std::vector<std::string> effects;
    // The report every listed server gets afterwards.
    const char* report;
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class StateTable : public AgentTest, public ::testing::WithParamInterface<Row> {
protected:
    void Reach(From from) {
        agent_.ExecuteCommand(100);  // NORMAL with 100 seconds
        switch (from) {
            case From::Unlimited:
                agent_.ExecuteCommand(0x80000000);
                break;
            case From::Paused:
                agent_.ExecuteCommand(0x80000001);
                break;
            case From::Available:
                agent_.ExecuteCommand(0x80000002);
                break;
            case From::Blocked:
                agent_.ExecuteCommand(0x80000003);
                break;
            case From::Normal:
                break;
            case From::Six:
                agent_.ExecuteCommand(0x80000006);
                break;
        }
        world_.Take();
    }
};

TEST_P(StateTable, CommandGivesStateTimeEffectsAndReport) {
    const Row& row = GetParam();
    Reach(row.from);
    agent_.ExecuteCommand(row.command);
    EXPECT_EQ(agent_.state(), row.state);
    EXPECT_EQ(agent_.remaining(), row.remaining);
    std::vector<std::string> expected = row.effects;
    expected.push_back(std::string("send 198.51.100.1:10001 ") + row.report);
    expected.push_back(std::string("send 198.51.100.2:10001 ") + row.report);
    EXPECT_EQ(world_.Take(), expected);
}

std::string RowName(const ::testing::TestParamInfo<Row>& row) {
    return row.param.name;
}

const StationState kSix = static_cast<StationState>(6);
const std::vector<std::string> kNone;
const std::vector<std::string> kRearm{"rearm"};

INSTANTIATE_TEST_SUITE_P(
    SetTime, StateTable,
    ::testing::Values(
        Row{"Unlimited", From::Unlimited, 50, StationState::NORMAL, 50, kRearm, "04 32 00 00 00"},
        Row{"PausedStaysPaused", From::Paused, 50, StationState::PAUSED, 50, kRearm,
            "04 32 00 00 20"},
        Row{"Available", From::Available, 50, StationState::NORMAL, 50, kRearm, "04 32 00 00 00"},
        Row{"BlockedUnlocksFirst",
            From::Blocked,
            50,
            StationState::NORMAL,
            50,
            {"ioctl 0x200", "rearm"},
            "04 32 00 00 00"},
        Row{"Normal", From::Normal, 50, StationState::NORMAL, 50, kRearm, "04 32 00 00 00"},
        Row{"StoredSix", From::Six, 50, StationState::NORMAL, 50, kRearm, "04 32 00 00 00"},
        Row{"ZeroStillCounts", From::Available, 0, StationState::NORMAL, 0, kRearm,
            "04 00 00 00 00"},
        Row{"LargestSetTime", From::Normal, 0x7FFFFFFF, StationState::NORMAL, 0x7FFFFFFF, kRearm,
            "04 FF FF FF 7F"}),
    RowName);

INSTANTIATE_TEST_SUITE_P(
    AddTime, StateTable,
    ::testing::Values(Row{"RefusedWhenUnlimited", From::Unlimited, 0xC0000258,
                          StationState::UNLIMITED, 100, kNone, "04 00 00 00 80"},
                      Row{"PausedStaysPausedWithMore", From::Paused, 0xC0000258,
                          StationState::PAUSED, 700, kRearm, "04 BC 02 00 20"},
                      Row{"AvailableStartsFromZero", From::Available, 0xC0000258,
                          StationState::NORMAL, 600, kRearm, "04 58 02 00 00"},
                      Row{"BlockedUnlocksAndStartsFromZero",
                          From::Blocked,
                          0xC0000258,
                          StationState::NORMAL,
                          600,
                          {"ioctl 0x200", "rearm"},
                          "04 58 02 00 00"},
                      Row{"NormalAdds", From::Normal, 0xC0000258, StationState::NORMAL, 700, kRearm,
                          "04 BC 02 00 00"},
                      Row{"StoredSixStartsFromZero", From::Six, 0xC0000258, StationState::NORMAL,
                          600, kRearm, "04 58 02 00 00"},
                      Row{"LargestAddition", From::Normal, 0xFFFFFFFF, StationState::NORMAL,
                          0x40000063, kRearm, "04 63 00 00 40"}),
    RowName);

INSTANTIATE_TEST_SUITE_P(
    PauseResume, StateTable,
    ::testing::Values(Row{"PauseNormal", From::Normal, 0x80000001, StationState::PAUSED, 100, kNone,
                          "04 64 00 00 20"},
                      Row{"PauseAvailableDoesNothing", From::Available, 0x80000001,
                          StationState::AVAILABLE, 100, kNone, "04 02 00 00 80"},
                      Row{"PauseBlockedDoesNothing", From::Blocked, 0x80000001,
                          StationState::BLOCKED, 100, kNone, "04 03 00 00 80"},
                      Row{"PausePausedDoesNothing", From::Paused, 0x80000001, StationState::PAUSED,
                          100, kNone, "04 64 00 00 20"},
                      Row{"ResumePaused", From::Paused, 0x80000005, StationState::NORMAL, 100,
                          kRearm, "04 64 00 00 00"},
                      Row{"ResumeNormalDoesNothing", From::Normal, 0x80000005, StationState::NORMAL,
                          100, kNone, "04 64 00 00 00"},
                      Row{"ResumeUnlimitedDoesNothing", From::Unlimited, 0x80000005,
                          StationState::UNLIMITED, 100, kNone, "04 00 00 00 80"},
                      Row{"ResumeBlockedDoesNothing", From::Blocked, 0x80000005,
                          StationState::BLOCKED, 100, kNone, "04 03 00 00 80"}),
    RowName);

INSTANTIATE_TEST_SUITE_P(Block, StateTable,
                         ::testing::Values(Row{"Unlimited",
                                               From::Unlimited,
                                               0x80000003,
                                               StationState::BLOCKED,
                                               100,
                                               {"ioctl 0x100"},
                                               "04 03 00 00 80"},
                                           Row{"Paused",
                                               From::Paused,
                                               0x80000003,
                                               StationState::BLOCKED,
                                               100,
                                               {"ioctl 0x100"},
                                               "04 03 00 00 80"},
                                           Row{"Normal",
                                               From::Normal,
                                               0x80000003,
                                               StationState::BLOCKED,
                                               100,
                                               {"ioctl 0x100"},
                                               "04 03 00 00 80"},
                                           Row{"StoredSix",
                                               From::Six,
                                               0x80000003,
                                               StationState::BLOCKED,
                                               100,
                                               {"ioctl 0x100"},
                                               "04 03 00 00 80"},
                                           Row{"BlockedAgainDoesNothing", From::Blocked, 0x80000003,
                                               StationState::BLOCKED, 100, kNone,
                                               "04 03 00 00 80"}),
                         RowName);

INSTANTIATE_TEST_SUITE_P(
    SetMode, StateTable,
    ::testing::Values(Row{"FourFromBlockedUnlocksAndCountsOn",
                          From::Blocked,
                          0x80000004,
                          StationState::NORMAL,
                          100,
                          {"ioctl 0x200"},
                          "04 64 00 00 00"},
                      Row{"FreeFromNormal", From::Normal, 0x80000002, StationState::AVAILABLE, 100,
                          kNone, "04 02 00 00 80"},
                      Row{"UnlimitedFromPaused", From::Paused, 0x80000000, StationState::UNLIMITED,
                          100, kNone, "04 00 00 00 80"},
                      Row{"SixIsStoredAndReported", From::Available, 0x80000006, kSix, 100, kNone,
                          "04 06 00 00 80"},
                      Row{"HighestModeNumber", From::Normal, 0x8FFFFFFF,
                          static_cast<StationState>(0x0FFFFFFF), 100, kNone, "04 FF FF FF 8F"},
                      Row{"FreeFromBlockedUnlocks",
                          From::Blocked,
                          0x80000002,
                          StationState::AVAILABLE,
                          100,
                          {"ioctl 0x200"},
                          "04 02 00 00 80"}),
    RowName);

INSTANTIATE_TEST_SUITE_P(WarningAndSession, StateTable,
                         ::testing::Values(Row{"WarningChangesNothingElse", From::Blocked,
                                               0x9000012C, StationState::BLOCKED, 100, kNone,
                                               "04 03 00 00 80"},
                                           Row{"LogOffKeepsThePausedState",
                                               From::Paused,
                                               0x80000007,
                                               StationState::PAUSED,
                                               100,
                                               {"log off"},
                                               "04 64 00 00 20"},
                                           Row{"RebootKeepsTheBlockedState",
                                               From::Blocked,
                                               0x80000008,
                                               StationState::BLOCKED,
                                               100,
                                               {"reboot"},
                                               "04 03 00 00 80"}),
                         RowName);

TEST_F(AgentTest, WarningCommandStoresTheThreshold) {
    agent_.ExecuteCommand(0x9000012C);
    EXPECT_EQ(agent_.warningThreshold(), 300u);
    agent_.ExecuteCommand(0xBFFFFFFF);
    EXPECT_EQ(agent_.warningThreshold(), 0x2FFFFFFFu);
    agent_.ExecuteCommand(0x90000000);
    EXPECT_EQ(agent_.warningThreshold(), 0u);
}

TEST_F(AgentTest, CommandFromAListedServerBringsItTwoReports) {
    Receive({kServerB, 10001}, {0x03, 0x03, 0x00, 0x00, 0x80});
    EXPECT_THAT(world_.Take(), ElementsAre("ioctl 0x100", "send 198.51.100.1:10001 04 03 00 00 80",
                                           "send 198.51.100.2:10001 04 03 00 00 80",
                                           "send 198.51.100.2:10001 04 03 00 00 80"));
}

TEST_F(AgentTest, StatusRequestShorterThanAReportIsAnsweredOnlyToItsSender) {
    agent_.ExecuteCommand(0x9000012C);
    agent_.ExecuteCommand(0x0000012D);
    world_.Take();
    Receive(kOddSender, {0x04});
    Receive(kOddSender, {0x04, 0x01, 0x02});
    Receive({kServerA, 10001}, {0x04, 0x00, 0x00, 0x00});
    EXPECT_THAT(world_.Take(), ElementsAre("send 198.51.100.9:40000 04 2D 01 00 00",
                                           "send 198.51.100.9:40000 04 2D 01 00 00",
                                           "send 198.51.100.1:10001 04 2D 01 00 00"));
    EXPECT_EQ(agent_.remaining(), 301u);
}

TEST_F(AgentTest, AnotherAgentsReportIsNotAnsweredSoNoEchoStarts) {
    agent_.ExecuteCommand(0x0000012D);
    world_.Take();
    Receive(kOddSender, {0x04, 0x02, 0x00, 0x00, 0x80});
    Receive({kServerA, 10001}, {0x04, 0x03, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00});
    EXPECT_THAT(world_.Take(), IsEmpty());
    EXPECT_EQ(agent_.state(), StationState::NORMAL);
    EXPECT_EQ(agent_.remaining(), 301u);
}

TEST_F(AgentTest, ShortEmptyAndForeignDatagramsChangeNothingAndGetNoAnswer) {
    Receive(kOddSender, {});
    Receive(kOddSender, {0x03});
    Receive(kOddSender, {0x03, 0x03, 0x00, 0x00});
    for (const std::uint8_t type : {0x00, 0x01, 0x02, 0x05, 0x80, 0xFF}) {
        Receive(kOddSender, {type, 0x03, 0x00, 0x00, 0x80});
    }
    EXPECT_THAT(world_.Take(), IsEmpty());
    EXPECT_EQ(agent_.state(), StationState::AVAILABLE);
    EXPECT_EQ(world_.network.receives, 9u);

    // Still listening: each of those notifications took its datagram off the socket.
    Receive(kOddSender, {0x04});
    EXPECT_THAT(world_.Take(), ElementsAre("send 198.51.100.9:40000 04 02 00 00 80"));
}

TEST_F(AgentTest, EachNotificationReceivesExactlyOnceIntoA4096ByteBuffer) {
    agent_.HandleDatagram();  // nothing waiting: the receive fails and nothing happens
    EXPECT_EQ(world_.network.receives, 1u);
    EXPECT_EQ(world_.network.lastBufferSize, 4096u);

    // A datagram of 4097 bytes does not fit and is dropped; one of 4096 bytes is read whole.
    std::vector<std::uint8_t> tooLong(4097, 0x00);
    tooLong[0] = 0x03;
    std::vector<std::uint8_t> longest(4096, 0x00);
    longest[0] = 0x03;
    longest[1] = 0x3C;  // set time 60
    world_.network.incoming.push_back({kOddSender, tooLong});
    world_.network.incoming.push_back({kOddSender, longest});
    agent_.HandleDatagram();
    EXPECT_THAT(world_.Take(), IsEmpty());
    agent_.HandleDatagram();
    EXPECT_THAT(world_.Take(), ElementsAre("rearm", "send 198.51.100.1:10001 04 3C 00 00 00",
                                           "send 198.51.100.2:10001 04 3C 00 00 00",
                                           "send 198.51.100.9:40000 04 3C 00 00 00"));
    EXPECT_EQ(world_.network.receives, 3u);
}

TEST_F(AgentTest, SetTimeCountsDownThenLocksWithoutReporting) {
    agent_.ExecuteCommand(3);
    world_.Take();
    for (std::uint32_t expected : {2u, 1u, 0u}) {
        Tick();
        EXPECT_EQ(agent_.remaining(), expected);
        EXPECT_EQ(agent_.state(), StationState::NORMAL);
    }
    EXPECT_THAT(world_.Take(), IsEmpty());
    Tick();
    EXPECT_EQ(agent_.state(), StationState::BLOCKED);
    EXPECT_THAT(world_.Take(), ElementsAre("ioctl 0x100"));
    Tick();
    EXPECT_THAT(world_.Take(), IsEmpty());

    Receive(kOddSender, {0x04});
    EXPECT_THAT(world_.Take(), ElementsAre("send 198.51.100.9:40000 04 03 00 00 80"));
}

TEST_F(AgentTest, TickCountsOnlyInNormal) {
    agent_.ExecuteCommand(10);
    agent_.ExecuteCommand(0x80000001);
    Tick();
    EXPECT_EQ(agent_.remaining(), 10u);
    agent_.ExecuteCommand(0x80000006);
    Tick();
    agent_.ExecuteCommand(0x80000000);
    Tick();
    EXPECT_EQ(agent_.remaining(), 10u);
    agent_.ExecuteCommand(0x80000004);
    Tick();
    EXPECT_EQ(agent_.remaining(), 9u);
}

TEST_F(AgentTest, WarningComesWhenTheCountReachesTheThreshold) {
    agent_.ExecuteCommand(0x9000012C);
    agent_.ExecuteCommand(301);
    world_.Take();
    Tick();
    EXPECT_THAT(
        world_.Take(),
        ElementsAre("box [Vorlek warning] [You have 0:5:0 of time remained] none", "box closed"));
    Tick();
    EXPECT_THAT(world_.Take(), IsEmpty());

    // Set to exactly the threshold: the comparison follows the subtraction, so no warning.
    agent_.ExecuteCommand(300);
    world_.Take();
    Tick();
    EXPECT_THAT(world_.Take(), IsEmpty());

    agent_.ExecuteCommand(0x90000E8D);  // 3725 s = 1 h 2 min 5 s
    agent_.ExecuteCommand(3726);
    world_.Take();
    Tick();
    EXPECT_THAT(
        world_.Take(),
        ElementsAre("box [Vorlek warning] [You have 1:2:5 of time remained] none", "box closed"));
}

TEST_F(AgentTest, RejoiningOnANewAddressSaysHelloAgainAndReportsTheUnchangedState) {
    agent_.ExecuteCommand(600);
    world_.Take();
    agent_.Rejoin(MakeAddress(198, 51, 100, 20));
    EXPECT_THAT(world_.Take(),
                ElementsAre("send 198.51.100.1:10001 01", "send 198.51.100.2:10001 01",
                            "send 198.51.100.1:10001 04 58 02 00 00",
                            "send 198.51.100.2:10001 04 58 02 00 00"));
    EXPECT_EQ(agent_.remaining(), 600u);
}

TEST_F(AgentTest, TheCountFollowsTheClockNotTheNumberOfTicks) {
    agent_.ExecuteCommand(10);
    world_.timer.now += 3500;  // a late tick
    agent_.Tick();
    EXPECT_EQ(agent_.remaining(), 7u);
    world_.timer.now += 600;  // the half second left over
    agent_.Tick();
    EXPECT_EQ(agent_.remaining(), 6u);
    world_.timer.now += 950;  // a tick just before the clock shows the second
    agent_.Tick();
    EXPECT_EQ(agent_.remaining(), 5u);
    world_.timer.now += 10;
    agent_.Tick();
    EXPECT_EQ(agent_.remaining(), 5u);
}

TEST_F(AgentTest, DatagramsCountTheSecondsThatTheTicksMissAndTheLockComesOnTime) {
    agent_.ExecuteCommand(3);
    world_.Take();
    world_.timer.now = 999;
    Receive(kOddSender, {0x04});
    world_.timer.now = 2000;
    Receive(kOddSender, {0x04});
    world_.timer.now = 4000;
    Receive(kOddSender, {0x04});
    // The tick that comes after all that finds the second already counted.
    world_.timer.now = 4050;
    agent_.Tick();
    EXPECT_THAT(world_.Take(), ElementsAre("send 198.51.100.9:40000 04 03 00 00 00",
                                           "send 198.51.100.9:40000 04 01 00 00 00", "ioctl 0x100",
                                           "send 198.51.100.9:40000 04 03 00 00 80"));
}

TEST_F(AgentTest, AThresholdThatALateTickStepsOverIsWarnedOnceAndALockGoesBeforeIt) {
    agent_.ExecuteCommand(0x9000012C);
    agent_.ExecuteCommand(302);
    world_.Take();
    world_.timer.now += 5000;
    agent_.Tick();
    Tick();
    EXPECT_EQ(agent_.remaining(), 296u);
    EXPECT_THAT(
        world_.Take(),
        ElementsAre("box [Vorlek warning] [You have 0:5:0 of time remained] none", "box closed"));

    agent_.ExecuteCommand(0x90000002);
    agent_.ExecuteCommand(3);
    world_.Take();
    world_.timer.now += 4000;
    agent_.Tick();
    EXPECT_EQ(agent_.state(), StationState::BLOCKED);
    EXPECT_THAT(world_.Take(), ElementsAre("ioctl 0x100"));
}

TEST_F(AgentTest, ThresholdZeroNeverWarns) {
    agent_.ExecuteCommand(2);
    world_.Take();
    Tick();
    Tick();
    EXPECT_EQ(agent_.remaining(), 0u);
    EXPECT_THAT(world_.Take(), IsEmpty());
}

TEST_F(AgentTest, WhileTheWarningIsOpenTicksAndCommandsGoOnAndTheLockCanCome) {
    agent_.ExecuteCommand(0x90000002);
    agent_.ExecuteCommand(3);
    world_.Take();
    world_.boxes.whileShown = [this] {
        Tick();  // 1 left
        EXPECT_EQ(agent_.remaining(), 1u);
        Receive(kOddSender, {0x03, 0x03, 0x00, 0x00, 0x80});
        Tick();  // blocked: no countdown
    };
    Tick();
    EXPECT_THAT(world_.Take(),
                ElementsAre("box [Vorlek warning] [You have 0:0:2 of time remained] none",
                            "ioctl 0x100", "send 198.51.100.1:10001 04 03 00 00 80",
                            "send 198.51.100.2:10001 04 03 00 00 80",
                            "send 198.51.100.9:40000 04 03 00 00 80", "box closed"));
    // The interrupted tick left everything as the nested calls made it.
    EXPECT_EQ(agent_.state(), StationState::BLOCKED);
    EXPECT_EQ(agent_.remaining(), 1u);
}

TEST(AgentCountdown, ShowsTheTimeWhileCountingPausedWhilePausedAndNothingOtherwise) {
    struct Case {
        StationState state;
        std::uint32_t remaining;
        std::uint32_t threshold;
        CountdownView view;
    };
    const Case cases[] = {
        {StationState::NORMAL, 3725, 0, {"1:02:05", false}},
        {StationState::NORMAL, 0, 0, {"0:00:00", false}},
        {StationState::NORMAL, 601, 600, {"0:10:01", false}},
        {StationState::NORMAL, 600, 600, {"0:10:00", true}},
        {StationState::NORMAL, 0x1FFFFFFF, 0, {"149130:48:31", false}},
        {StationState::PAUSED, 5400, 0, {"Paused", false}},
        {StationState::PAUSED, 30, 60, {"Paused", true}},
        {StationState::AVAILABLE, 30, 60, {}},
        {StationState::UNLIMITED, 30, 0, {}},
        {StationState::BLOCKED, 0, 0, {}},
        {static_cast<StationState>(6), 30, 0, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ViewCountdown(c.state, c.remaining, c.threshold), c.view)
            << static_cast<int>(c.state) << " " << c.remaining << " " << c.threshold;
    }
}

TEST_F(AgentTest, CountdownFollowsEveryChangeAndTurnsBeforeTheWarningBox) {
    agent_.ShowCountdownOn(world_.countdown);
    agent_.ExecuteCommand(0x90000002);
    agent_.ExecuteCommand(3);
    agent_.ExecuteCommand(0x80000001);
    agent_.ExecuteCommand(0x80000005);
    EXPECT_THAT(world_.Take(),
                ElementsAre("countdown hidden", "send 198.51.100.1:10001 04 02 00 00 80",
                            "send 198.51.100.2:10001 04 02 00 00 80", "rearm", "countdown 0:00:03",
                            "send 198.51.100.1:10001 04 03 00 00 00",
                            "send 198.51.100.2:10001 04 03 00 00 00", "countdown Paused",
                            "send 198.51.100.1:10001 04 03 00 00 20",
                            "send 198.51.100.2:10001 04 03 00 00 20", "rearm", "countdown 0:00:03",
                            "send 198.51.100.1:10001 04 03 00 00 00",
                            "send 198.51.100.2:10001 04 03 00 00 00"));
    Tick();
    Tick();
    Tick();
    Tick();
    EXPECT_THAT(world_.Take(),
                ElementsAre("countdown 0:00:02 warning",
                            "box [Vorlek warning] [You have 0:0:2 of time remained] none",
                            "box closed", "countdown 0:00:01 warning", "countdown 0:00:00 warning",
                            "countdown hidden", "ioctl 0x100"));
}

TEST_F(AgentTest, LockWithoutPictureHoldsInputWithoutWindowAndTriesTheFileAgain) {
    agent_.ExecuteCommand(0x80000003);
    EXPECT_EQ(agent_.picture(), nullptr);
    EXPECT_FALSE(agent_.lockWindowOpen());
    agent_.ExecuteCommand(0xC000003C);
    world_.Take();
    EXPECT_FALSE(agent_.lockWindowOpen());

    World world;
    const auto path = WritePicture("vorlek-agent-late.bmp");
    Agent agent(world.Ports(), HostList{}, path.string());
    agent.ExecuteCommand(0x80000003);
    agent.ExecuteCommand(0x80000002);
    EXPECT_THAT(world.Take(),
                ElementsAre("window 2x2", "ioctl 0x100", "window closed", "ioctl 0x200"));
    std::filesystem::remove(path);
}

TEST(AgentLock, PictureIsReadOnceWithRowsReversedAndKeptForLaterLocks) {
    World world;
    const auto path = WritePicture("vorlek-agent-once.bmp");
    Agent agent(world.Ports(), HostList{}, path.string());
    agent.ExecuteCommand(0x80000003);
    ASSERT_NE(agent.picture(), nullptr);
    EXPECT_EQ(world.lockScreen.shown, agent.picture());
    // The first stored row (blue) is now the last row of the bottom-up bitmap: the top line.
    EXPECT_THAT(agent.picture()->pixels,
                ElementsAre(0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF,  //
                            0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF));
    EXPECT_TRUE(agent.lockWindowOpen());

    std::filesystem::remove(path);
    agent.ExecuteCommand(0x80000004);
    agent.ExecuteCommand(0x80000003);
    EXPECT_THAT(world.Take(), ElementsAre("window 2x2", "ioctl 0x100", "window closed",
                                          "ioctl 0x200", "window 2x2", "ioctl 0x100"));
    EXPECT_EQ(agent.picture()->pixels[0], 0x00);  // not reversed a second time
}

TEST(AgentLock, WindowThatCannotBeCreatedLeavesOnlyTheDeviceRequests) {
    World world;
    world.lockScreen.creates = false;
    const auto path = WritePicture("vorlek-agent-nowindow.bmp");
    Agent agent(world.Ports(), HostList{}, path.string());
    agent.ExecuteCommand(0x80000003);
    EXPECT_FALSE(agent.lockWindowOpen());
    agent.ExecuteCommand(100);
    EXPECT_THAT(world.Take(),
                ElementsAre("window 2x2 failed", "ioctl 0x100", "ioctl 0x200", "rearm"));
    std::filesystem::remove(path);
}

TEST(AgentSwitches, AreReadWithoutRegardToCaseInAnyOrderAndDefaultToTheDeviceAndAnySender) {
    AgentSwitches switches;
    EXPECT_EQ(ReadAgentSwitches({}, switches), std::nullopt);
    EXPECT_EQ(switches.hold, InputHold::Device);
    EXPECT_EQ(switches.orders, OrderSource::Any);
    EXPECT_EQ(switches.countdown, Countdown::Off);

    EXPECT_EQ(switches.start, StartMode::Available);

    const std::vector<std::string> all{"/ORDERS=Servers", "/Countdown=ON", "/start=Blocked",
                                       "/hold=HOOKS"};
    EXPECT_EQ(ReadAgentSwitches(all, switches), std::nullopt);
    EXPECT_EQ(switches.hold, InputHold::Hooks);
    EXPECT_EQ(switches.orders, OrderSource::Servers);
    EXPECT_EQ(switches.start, StartMode::Blocked);
    EXPECT_EQ(switches.countdown, Countdown::On);

    const std::vector<std::string> defaults{"/Hold=Device", "/orders=any", "/START=available"};
    EXPECT_EQ(ReadAgentSwitches(defaults, switches), std::nullopt);
    EXPECT_EQ(switches.hold, InputHold::Device);
    EXPECT_EQ(switches.orders, OrderSource::Any);
    EXPECT_EQ(switches.start, StartMode::Available);
}

TEST(AgentSwitches, TheFirstRefusedWordIsNamedBeforeTheUsage) {
    const std::string usage =
        "\nUsage: VorlekClient.exe [/hold=device|hooks] [/orders=any|servers|signed] "
        "[/start=available|blocked] [/countdown=off|on]";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"/hold=hook"}, "Unknown value in \"/hold=hook\"."},
        {{"/orders"}, "Unknown value in \"/orders\"."},
        {{"/hold="}, "Unknown value in \"/hold=\"."},
        {{"/hold=hooks=1"}, "Unknown value in \"/hold=hooks=1\"."},
        {{"/Quiet"}, "Unknown switch \"/Quiet\"."},
        {{"hold=hooks"}, "Unknown switch \"hold=hooks\"."},
        {{"-hold=hooks"}, "Unknown switch \"-hold=hooks\"."},
        {{""}, "Unknown switch \"\"."},
        {{"/", "/x"}, "Unknown switch \"/\"."},
        {{"/hold=hooks", "/orders=servers", "/HOLD=hooks"}, "Switch given twice: \"/HOLD=hooks\"."},
        {{"/hold=hooks", "/hellos=listed"}, "Unknown switch \"/hellos=listed\"."},
        {{"/start=locked"}, "Unknown value in \"/start=locked\"."},
    };
    for (const auto& [words, text] : cases) {
        AgentSwitches switches;
        EXPECT_EQ(ReadAgentSwitches(words, switches), text + usage) << words.front();
    }
}

// Under /orders=servers: the station's own address, listed by name, and 127.0.0.1, listed by
// number, are still not consoles.
class ListedOrders : public ::testing::Test {
protected:
    const Ipv4 own_ = MakeAddress(198, 51, 100, 20);
    World world_;
    Agent agent_{world_.Ports(), HostList({kServerA, own_, MakeAddress(127, 0, 0, 1), 0}), "",
                 OrderRule{OrderSource::Servers, own_}};

    void Receive(Peer from, std::vector<std::uint8_t> bytes) {
        world_.network.incoming.push_back({from, std::move(bytes)});
        agent_.HandleDatagram();
    }
};

TEST_F(ListedOrders, OnlyAListedConsoleIsObeyedAndAnswered) {
    ASSERT_TRUE(agent_.Start());
    world_.Take();
    for (const Peer from :
         {kOddSender, Peer{kServerB, 10001}, Peer{own_, 10001},
          Peer{MakeAddress(127, 0, 0, 1), 10001}, Peer{MakeAddress(127, 9, 8, 7), 10001}}) {
        Receive(from, {0x03, 0x03, 0x00, 0x00, 0x80});
        Receive(from, {0x03, 0x58, 0x02, 0x00, 0xC0});
        Receive(from, {0x04});
    }
    EXPECT_THAT(world_.Take(), IsEmpty());
    EXPECT_EQ(agent_.state(), StationState::AVAILABLE);

    // From any port of the listed console.
    Receive({kServerA, 40000}, {0x04});
    Receive({kServerA, 10001}, {0x03, 0x03, 0x00, 0x00, 0x80});
    EXPECT_THAT(world_.Take(), ElementsAre("send 198.51.100.1:40000 04 02 00 00 80", "ioctl 0x100",
                                           "send 198.51.100.1:10001 04 03 00 00 80",
                                           "send 198.51.100.20:10001 04 03 00 00 80",
                                           "send 127.0.0.1:10001 04 03 00 00 80",
                                           "send 198.51.100.1:10001 04 03 00 00 80"));
}

TEST(AgentOrders, ServersWithoutAConsoleIsRefusedBeforeAnythingIsSent) {
    const Ipv4 own = MakeAddress(198, 51, 100, 20);
    for (HostList servers :
         {HostList{}, HostList({own, MakeAddress(127, 0, 0, 1)}), HostList({0, kServerA})}) {
        World world;
        Agent agent(world.Ports(), servers, "", OrderRule{OrderSource::Servers, own});
        EXPECT_FALSE(agent.Start());
        EXPECT_THAT(world.Take(),
                    ElementsAre("box [Vorlek client] [/orders=servers: the file \"servers\" lists "
                                "no console, so the agent would obey nobody.\nWrite the consoles' "
                                "addresses into \"servers\" in the agent's folder, or start the "
                                "agent without /orders=servers.] stop",
                                "box closed"));
    }
}

TEST(OrderGateTest, AdmitsOnlyNewOrdersSignedByARoomKeyForThisAddressAndRun) {
    const Ipv4 self = MakeAddress(198, 51, 100, 11);
    const Nonce nonce{1, 1, 2, 3, 5, 8, 13, 21};
    testing::FakeVerifier verifier;
    OrderGate gate({testing::FakeKey(1), testing::FakeKey(2)}, nonce, verifier);
    testing::FakeSigner consoleA(1);
    testing::FakeSigner consoleB(2);
    testing::FakeSigner stranger(3);
    const auto order = [&](testing::FakeSigner& signer, std::uint64_t sequence, Ipv4 to,
                           const Nonce& runNonce) {
        return *BuildSignedCommand(0xC0000E10, sequence, to, runNonce, signer);
    };

    EXPECT_EQ(gate.Admit(order(consoleA, 100, self, nonce), self, 0), 0xC0000E10u);
    // Each key keeps its own sequence: B's older clock still counts, A's replay does not.
    EXPECT_EQ(gate.Admit(order(consoleB, 50, self, nonce), self, 0), 0xC0000E10u);
    EXPECT_FALSE(gate.Admit(order(consoleA, 100, self, nonce), self, 0));
    EXPECT_FALSE(gate.Admit(order(consoleA, 99, self, nonce), self, 0));
    // Another station, another run, a key not in the room, a changed bit, plain commands.
    EXPECT_FALSE(gate.Admit(order(consoleA, 101, self + 1, nonce), self, 0));
    EXPECT_FALSE(gate.Admit(order(consoleA, 101, self, kNoNonce), self, 0));
    EXPECT_FALSE(gate.Admit(order(stranger, 101, self, nonce), self, 0));
    auto flipped = order(consoleA, 101, self, nonce);
    flipped[2] ^= 0x01;
    EXPECT_FALSE(gate.Admit(flipped, self, 0));
    EXPECT_FALSE(gate.Admit(BuildCommand(0xC0000E10), self, 0));
    // A rejected order did not raise the sequence.
    EXPECT_EQ(gate.Admit(order(consoleA, 101, self, nonce), self, 0), 0xC0000E10u);
}

TEST(OrderGateTest, CheckingAgentCarriesItsNonceAndObeysOnlyWhatTheGateAdmits) {
    World world;
    const Ipv4 self = MakeAddress(198, 51, 100, 11);
    testing::FakeVerifier verifier;
    OrderGate gate({testing::FakeKey(1)}, {1, 2, 3, 4, 5, 6, 7, 8}, verifier);
    Agent agent(world.Ports(), HostList({kServerA}), "", {OrderSource::Signed, self, &gate});
    EXPECT_TRUE(agent.Start());
    EXPECT_THAT(world.Take(),
                ElementsAre("send 198.51.100.1:10001 01 01 02 03 04 05 06 07 08",
                            "send 198.51.100.1:10001 04 02 00 00 80 01 02 03 04 05 06 07 08",
                            "device open"));

    // A plain command from the listed console is dropped; a request from anyone is answered.
    world.network.incoming.push_back({kOddSender, {0x03, 0x2C, 0x01, 0x00, 0x00}});
    agent.HandleDatagram();
    world.network.incoming.push_back({kOddSender, {0x04}});
    agent.HandleDatagram();
    EXPECT_THAT(world.Take(),
                ElementsAre("send 198.51.100.9:40000 04 02 00 00 80 01 02 03 04 05 06 07 08"));

    testing::FakeSigner console(1);
    const auto order = *BuildSignedCommand(300, 1, self, gate.nonce(), console);
    world.network.incoming.push_back({kOddSender, {order.begin(), order.end()}});
    agent.HandleDatagram();
    EXPECT_EQ(agent.remaining(), 300u);
    EXPECT_EQ(agent.state(), StationState::NORMAL);
}

TEST(OrderGateTest, SignatureChecksAreRationedAndCheapChecksComeFirst) {
    const Ipv4 self = MakeAddress(198, 51, 100, 11);
    testing::FakeVerifier verifier;
    OrderGate gate({testing::FakeKey(1)}, kNoNonce, verifier);
    testing::FakeSigner stranger(3);
    testing::FakeSigner console(1);
    for (std::uint64_t i = 1; i <= 60; ++i) {
        gate.Admit(*BuildSignedCommand(1, i, self, kNoNonce, stranger), self, 500);
    }
    EXPECT_EQ(verifier.checks, 50);
    // A true order in the same second is dropped unchecked; the next second checks it.
    const auto good = *BuildSignedCommand(7, 1000, self, kNoNonce, console);
    EXPECT_FALSE(gate.Admit(good, self, 1499));
    EXPECT_EQ(gate.Admit(good, self, 1500), 7u);
    // Malformed datagrams and old sequences cost no check.
    const int before = verifier.checks;
    gate.Admit(BuildCommand(7), self, 1500);
    gate.Admit(good, self, 1500);
    EXPECT_EQ(verifier.checks, before);
}

}  // namespace
}  // namespace vorlek
