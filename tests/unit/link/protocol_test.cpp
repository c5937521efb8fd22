#include "link/protocol.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace vorlek {
namespace {

using ::testing::ElementsAre;

std::vector<std::uint8_t> Bytes(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST(Datagrams, AreBuiltByteExact) {
    EXPECT_THAT(Bytes(BuildHello()), ElementsAre(0x01));
    EXPECT_THAT(Bytes(BuildStatusRequest()), ElementsAre(0x04));
    EXPECT_THAT(Bytes(BuildStatusReport(12345)), ElementsAre(0x04, 0x39, 0x30, 0x00, 0x00));
    EXPECT_THAT(Bytes(BuildCommand(0xC0000E10)), ElementsAre(0x03, 0x10, 0x0E, 0x00, 0xC0));
    EXPECT_THAT(Bytes(BuildCommand(0x80000003)), ElementsAre(0x03, 0x03, 0x00, 0x00, 0x80));
}

TEST(Datagrams, ReadNeverGoesPastTheBytesReceived) {
    EXPECT_FALSE(ReadDatagram({}).has_value());

    const std::uint8_t hello[] = {0x01, 0xAA, 0xBB};
    const auto withTrailer = ReadDatagram(hello);
    ASSERT_TRUE(withTrailer.has_value());
    EXPECT_EQ(withTrailer->type, 1);
    EXPECT_FALSE(withTrailer->word.has_value());

    // Four bytes of a command carry no word: the fifth byte was never received.
    const std::uint8_t shortCommand[] = {0x03, 0x05, 0x00, 0x00};
    const auto truncated = ReadDatagram(shortCommand);
    ASSERT_TRUE(truncated.has_value());
    EXPECT_EQ(truncated->type, 3);
    EXPECT_FALSE(truncated->word.has_value());

    const std::uint8_t report[] = {0x04, 0x39, 0x30, 0x00, 0x00, 0xFF};
    const auto longer = ReadDatagram(report);
    ASSERT_TRUE(longer.has_value());
    EXPECT_EQ(longer->word, 12345u);

    const std::uint8_t highWord[] = {0x03, 0x01, 0x02, 0x03, 0xF4};
    EXPECT_EQ(ReadDatagram(highWord)->word, 0xF4030201u);
}

TEST(Reports, AgentEncodesItsStateAndTime) {
    EXPECT_EQ(EncodeReport(StationState::NORMAL, 12345), 12345u);
    EXPECT_EQ(EncodeReport(StationState::PAUSED, 0), 0x20000000u);
    EXPECT_EQ(EncodeReport(StationState::PAUSED, 90), 0x2000005Au);
    EXPECT_EQ(EncodeReport(StationState::UNLIMITED, 77), 0x80000000u);
    EXPECT_EQ(EncodeReport(StationState::AVAILABLE, 77), 0x80000002u);
    EXPECT_EQ(EncodeReport(StationState::BLOCKED, 77), 0x80000003u);
    EXPECT_EQ(EncodeReport(static_cast<StationState>(6), 77), 0x80000006u);
}

struct Classified {
    StatusWord word;
    StationState state;
    std::optional<std::uint32_t> seconds;
    const char* shown;
};

class ReportClassification : public ::testing::TestWithParam<Classified> {};

TEST_P(ReportClassification, FollowsTheOrderOfTests) {
    const Classified& c = GetParam();
    const ReportedStatus status = ClassifyReport(c.word);
    EXPECT_EQ(status.state, c.state);
    EXPECT_EQ(status.seconds, c.seconds);
    if (c.seconds) {
        EXPECT_EQ(FormatSeconds(*status.seconds), c.shown);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Words, ReportClassification,
    ::testing::Values(Classified{0x80000000, StationState::UNLIMITED, std::nullopt, ""},
                      Classified{0x80000001, StationState::PAUSED, std::nullopt, ""},
                      Classified{0x80000002, StationState::AVAILABLE, std::nullopt, ""},
                      Classified{0x80000003, StationState::BLOCKED, std::nullopt, ""},
                      Classified{0x20000000, StationState::PAUSED, 0, "00:00:00"},
                      Classified{0x2000005A, StationState::PAUSED, 90, "00:01:30"},
                      Classified{0x1FFFFFFF, StationState::NORMAL, 0x1FFFFFFF, "149130:48:31"},
                      Classified{3661, StationState::NORMAL, 3661, "01:01:01"},
                      Classified{0, StationState::NORMAL, 0, "00:00:00"},
                      // Mode words no agent sends for the states 0 to 4 fall to the range test.
                      Classified{0x80000004, StationState::PAUSED, 4, "00:00:04"},
                      Classified{0x81234567, StationState::PAUSED, 0x234567, "642:05:27"}));

TEST(Commands, AreDecodedByRangeInOrder) {
    const auto decode = [](StatusWord w) {
        const DecodedCommand c = DecodeCommand(w);
        return std::pair{c.kind, c.value};
    };
    EXPECT_EQ(decode(0xFFFFFFFF), std::pair(CommandKind::AddTime, 0x3FFFFFFFu));
    EXPECT_EQ(decode(0xC0000E10), std::pair(CommandKind::AddTime, 3600u));
    EXPECT_EQ(decode(0xC0000000), std::pair(CommandKind::AddTime, 0u));
    EXPECT_EQ(decode(0xBFFFFFFF), std::pair(CommandKind::SetWarning, 0x2FFFFFFFu));
    EXPECT_EQ(decode(0x9000012C), std::pair(CommandKind::SetWarning, 300u));
    EXPECT_EQ(decode(0x8FFFFFFF), std::pair(CommandKind::Mode, 0x0FFFFFFFu));
    EXPECT_EQ(decode(0x80000008), std::pair(CommandKind::Mode, 8u));
    EXPECT_EQ(decode(0x80000000), std::pair(CommandKind::Mode, 0u));
    EXPECT_EQ(decode(0x7FFFFFFF), std::pair(CommandKind::SetTime, 0x7FFFFFFFu));
    EXPECT_EQ(decode(0), std::pair(CommandKind::SetTime, 0u));
}

TEST(Commands, OperatorWordsBlockOnZeroAndDropThePausedBit) {
    EXPECT_EQ(OperatorWord(0), 0x80000003u);
    EXPECT_EQ(OperatorWord(0x20000005), 5u);
    EXPECT_EQ(OperatorWord(0x20000000), 0u);
    EXPECT_EQ(OperatorWord(0x80000001), 0x80000001u);
    EXPECT_EQ(OperatorWord(0xE0000010), 0xC0000010u);
    EXPECT_EQ(OperatorWord(90), 90u);
}

TEST(Seconds, AreShownAsHoursMinutesSeconds) {
    EXPECT_EQ(FormatSeconds(0), "00:00:00");
    EXPECT_EQ(FormatSeconds(59), "00:00:59");
    EXPECT_EQ(FormatSeconds(3599), "00:59:59");
    EXPECT_EQ(FormatSeconds(90000), "25:00:00");
    EXPECT_EQ(FormatSeconds(360000), "100:00:00");
    EXPECT_EQ(FormatSeconds(0xFFFFFFFF), "1193046:28:15");
}

}  // namespace
}  // namespace vorlek
