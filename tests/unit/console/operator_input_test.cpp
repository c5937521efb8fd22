#include "console/operator_input.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/address.h"

namespace vorlek {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Bytes = std::vector<std::uint8_t>;

struct Sent {
    Peer to;
    Bytes bytes;
    bool operator==(const Sent& other) const {
        return to.address == other.to.address && to.port == other.to.port && bytes == other.bytes;
    }
};

class RecordingNetwork : public Network, public NameService {
public:
    void SendTo(Peer to, std::span<const std::uint8_t> bytes) override {
        sent.push_back({to, Bytes(bytes.begin(), bytes.end())});
    }
    std::optional<Received> ReceiveFrom(std::span<std::uint8_t>) override { return std::nullopt; }
    bool WaitReadable(std::chrono::milliseconds) override { return false; }
    void Pause(std::chrono::milliseconds) override {}
    std::optional<Ipv4> LookUpName(const std::string&) override { return std::nullopt; }
    std::optional<std::string> LookUpAddress(Ipv4) override { return std::nullopt; }

    std::vector<Sent> sent;
};

// Rows in the order given, every one selected: enough for the commands, which only read the
// selection and the row texts.
class SelectedRows : public StationList {
public:
    std::vector<std::string> rows;

    int Add(const std::string& text) override {
        rows.push_back(text);
        return static_cast<int>(rows.size()) - 1;
    }
    int FindPrefix(int, const std::string&) override { return -1; }
    void Delete(int) override {}
    void SetSelected(int, bool) override {}
    bool IsSelected(int) override { return true; }
    std::optional<std::string> Text(int index) override {
        if (index < 0 || static_cast<std::size_t>(index) >= rows.size()) {
            return std::nullopt;
        }
        return rows[static_cast<std::size_t>(index)];
    }
    std::vector<int> SelectedIndices(std::size_t max) override {
        std::vector<int> indices;
        for (std::size_t i = 0; i < rows.size() && i < max; ++i) {
            indices.push_back(static_cast<int>(i));
        }
        return indices;
    }
};

class NoBoxes : public MessageBoxes {
public:
    void Show(std::string_view, std::optional<std::string_view>, BoxIcon) override {
        ADD_FAILURE() << "no box expected";
    }
};

class NoWindow : public ConsoleWindow {
public:
    void SetDeathTimerText(const std::string&) override {}
    bool DeathTimerTyped() override { return false; }
    void BringToForeground() override {}
};

class FixedClock : public Clock {
public:
    std::uint32_t Now() override { return 1700000000; }
};

class NoRefresh : public NameRefresh {
public:
    void Keep(Ipv4) override {}
};

const Ipv4 kOwn = MakeAddress(198, 51, 100, 1);
const Ipv4 kHost1 = MakeAddress(198, 51, 100, 11);
const Ipv4 kHost2 = MakeAddress(198, 51, 100, 12);

class OperatorInput : public ::testing::Test {
protected:
    RecordingNetwork network;
    SelectedRows rows;
    NoBoxes boxes;
    NoWindow window;
    FixedClock clock;
    NoRefresh refresh;
    NameCache rowNames{network, refresh};
    Server server{ServerPorts{network, network, boxes, rows, window, clock, rowNames}, kOwn,
                  HostList({kHost1, kHost2, kHost1})};

    // The operator selects both stations; the selection query goes out and is forgotten here.
    void SelectBothStations() {
        rows.rows = {"vlhost1 ( 198.51.100.11 )", "vlhost2 ( 198.51.100.12 ) -- state AVAILABLE"};
        server.OnSelectionChanged();
        network.sent.clear();
    }

    static Sent ToStation(Ipv4 address, Bytes bytes) { return {{address, 10001}, bytes}; }
};

TEST_F(OperatorInput, DeathTimerSendsTheTypedTimeToEverySelectedStation) {
    SelectBothStations();

    UpdateDeathTimer(server, "1:30");
    EXPECT_THAT(network.sent, ElementsAre(ToStation(kHost1, {0x03, 0x5A, 0x00, 0x00, 0x00}),
                                          ToStation(kHost2, {0x03, 0x5A, 0x00, 0x00, 0x00})));
    network.sent.clear();

    UpdateDeathTimer(server, "1:00:00");
    EXPECT_THAT(network.sent, ElementsAre(ToStation(kHost1, {0x03, 0x10, 0x0E, 0x00, 0x00}),
                                          ToStation(kHost2, {0x03, 0x10, 0x0E, 0x00, 0x00})));
}

TEST_F(OperatorInput, DeathTimerOfZeroBlocksAndTextWithoutATimeSendsNothing) {
    SelectBothStations();

    UpdateDeathTimer(server, "0");
    EXPECT_THAT(network.sent, ElementsAre(ToStation(kHost1, {0x03, 0x03, 0x00, 0x00, 0x80}),
                                          ToStation(kHost2, {0x03, 0x03, 0x00, 0x00, 0x80})));
    network.sent.clear();

    UpdateDeathTimer(server, "");
    UpdateDeathTimer(server, "abc");
    UpdateDeathTimer(server, "N/A");
    EXPECT_THAT(network.sent, IsEmpty());
}

TEST_F(OperatorInput, DeathTimerSendsOnlyTimesUpToTheCountingLimit) {
    SelectBothStations();

    // Reboot, add time and unlock, a mode word, and counts the console would not count down
    // (300000000 would carry its OffMark): each as if the text gave no time.
    for (const char* text : {"2147483648", "2147483656", "-1:0", "4294967295", "-1", "2147483647",
                             "300000000", "16777216"}) {
        UpdateDeathTimer(server, text);
    }
    EXPECT_THAT(network.sent, IsEmpty());

    // The longest count goes out, and the paused bit is cleared as for every command.
    UpdateDeathTimer(server, "16777215");
    UpdateDeathTimer(server, "536870917");
    EXPECT_THAT(network.sent, ElementsAre(ToStation(kHost1, {0x03, 0xFF, 0xFF, 0xFF, 0x00}),
                                          ToStation(kHost2, {0x03, 0xFF, 0xFF, 0xFF, 0x00}),
                                          ToStation(kHost1, {0x03, 0x05, 0x00, 0x00, 0x00}),
                                          ToStation(kHost2, {0x03, 0x05, 0x00, 0x00, 0x00})));
}

TEST_F(OperatorInput, OptionsOpenWithTheirDefaults) {
    EXPECT_EQ(OptionText(server, TimingOption::PeriodicCheck), "00:01:00");
    EXPECT_EQ(OptionText(server, TimingOption::Timeout), "00:00:05");
    EXPECT_EQ(OptionText(server, TimingOption::ClientWarning), "00:10:00");
    EXPECT_TRUE(IsOptionOn(server, TimingOption::PeriodicCheck));
    EXPECT_TRUE(IsOptionOn(server, TimingOption::Timeout));
    EXPECT_TRUE(IsOptionOn(server, TimingOption::ClientWarning));
}

TEST_F(OperatorInput, EachCheckBoxFlipsOnlyItsOwnSwitch) {
    FlipOption(server, TimingOption::ClientWarning);
    EXPECT_EQ(server.flags(), PeriodicCheckFlag | TimeoutFlag);
    // The warning's edit stays empty while it is off; the others still show their values.
    EXPECT_EQ(OptionText(server, TimingOption::ClientWarning), "");
    EXPECT_EQ(OptionText(server, TimingOption::Timeout), "00:00:05");

    FlipOption(server, TimingOption::PeriodicCheck);
    EXPECT_EQ(server.flags(), TimeoutFlag);
    FlipOption(server, TimingOption::Timeout);
    EXPECT_EQ(server.flags(), 0u);
    FlipOption(server, TimingOption::ClientWarning);
    EXPECT_EQ(server.flags(), WarningFlag);
    EXPECT_EQ(OptionText(server, TimingOption::ClientWarning), "00:10:00");
}

TEST_F(OperatorInput, SetStoresTheTypedTimeAndKeepsTheOldValueWithoutOne) {
    SetOption(server, TimingOption::Timeout, "2:30");
    EXPECT_EQ(server.replyTimeout(), 150u);
    SetOption(server, TimingOption::Timeout, "2:30:00");
    EXPECT_EQ(server.replyTimeout(), 9000u);
    SetOption(server, TimingOption::Timeout, "soon");
    EXPECT_EQ(server.replyTimeout(), 9000u);

    SetOption(server, TimingOption::PeriodicCheck, "abc");
    EXPECT_EQ(server.checkPeriod(), 60);
    SetOption(server, TimingOption::PeriodicCheck, "1");
    EXPECT_EQ(server.checkPeriod(), 1);
    EXPECT_THAT(network.sent, IsEmpty());
}

TEST_F(OperatorInput, PeriodicCheckRefusesPeriodsBelowOneSecond) {
    // The periodic check divides its counter by the period.
    for (const char* text : {"0", "0:0", "0:0:0", "-5", "-1:00"}) {
        SetOption(server, TimingOption::PeriodicCheck, text);
        EXPECT_EQ(server.checkPeriod(), 60) << text;
    }
}

TEST_F(OperatorInput, ClientWarningSendsTheWarningTimeToEveryListedAddress) {
    SetOption(server, TimingOption::ClientWarning, "5:00");
    EXPECT_EQ(server.warningTime(), 300u);
    // 0x90000000 + 300, to every entry of the list, the twice-listed one twice.
    const Bytes warning{0x03, 0x2C, 0x01, 0x00, 0x90};
    EXPECT_THAT(network.sent, ElementsAre(ToStation(kHost1, warning), ToStation(kHost2, warning),
                                          ToStation(kHost1, warning)));
    network.sent.clear();

    // No time in the text: the unchanged warning time is sent all the same.
    SetOption(server, TimingOption::ClientWarning, "");
    EXPECT_EQ(server.warningTime(), 300u);
    EXPECT_THAT(network.sent, ElementsAre(ToStation(kHost1, warning), ToStation(kHost2, warning),
                                          ToStation(kHost1, warning)));
}

TEST_F(OperatorInput, ClientWarningKeepsItsTimeWhenTheTypedOneWouldAddTime) {
    SetOption(server, TimingOption::ClientWarning, "5:00");
    network.sent.clear();

    // 0x30000000, "-1" and six years would make words from 0xC0000000 up, or wrap to a mode word.
    for (const char* text : {"805306368", "-1", "999999999"}) {
        SetOption(server, TimingOption::ClientWarning, text);
        EXPECT_EQ(server.warningTime(), 300u) << text;
    }
    const Bytes unchanged{0x03, 0x2C, 0x01, 0x00, 0x90};
    EXPECT_EQ(network.sent.size(), 9u);
    EXPECT_THAT(network.sent, ::testing::Each(::testing::Field(&Sent::bytes, unchanged)));

    SetOption(server, TimingOption::ClientWarning, "805306367");
    EXPECT_EQ(server.warningTime(), 0x2FFFFFFFu);
    EXPECT_EQ(network.sent.back().bytes, (Bytes{0x03, 0xFF, 0xFF, 0xFF, 0xBF}));
}

}  // namespace
}  // namespace vorlek
