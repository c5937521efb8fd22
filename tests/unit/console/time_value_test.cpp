#include "console/time_value.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vorlek {
namespace {

using ::testing::Eq;
using ::testing::Optional;

TEST(FormatTime, ShowsHoursMinutesAndSecondsWithHoursBeyondTwoDigits) {
    EXPECT_EQ(FormatTime(0), "00:00:00");
    EXPECT_EQ(FormatTime(5), "00:00:05");
    EXPECT_EQ(FormatTime(60), "00:01:00");
    EXPECT_EQ(FormatTime(600), "00:10:00");
    EXPECT_EQ(FormatTime(3661), "01:01:01");
    EXPECT_EQ(FormatTime(90000), "25:00:00");
    EXPECT_EQ(FormatTime(360000), "100:00:00");
}

TEST(FormatTime, TakesTheValueAsSigned) {
    // A warning time typed as "-1" is stored as 0xFFFFFFFF and shown again as -1 second.
    EXPECT_EQ(FormatTime(-1), "00:00:-1");
    EXPECT_EQ(FormatTime(-3661), "-1:-1:-1");
}

TEST(ParseTime, PlainSeconds) {
    EXPECT_THAT(ParseTime("90"), Optional(Eq(90u)));
    EXPECT_THAT(ParseTime("  42  "), Optional(Eq(42u)));
    EXPECT_THAT(ParseTime("0"), Optional(Eq(0u)));
    EXPECT_THAT(ParseTime("+7"), Optional(Eq(7u)));
    // Whatever follows the number is ignored.
    EXPECT_THAT(ParseTime("10 minutes"), Optional(Eq(10u)));
    EXPECT_THAT(ParseTime("12abc"), Optional(Eq(12u)));
}

TEST(ParseTime, MinutesAndSecondsWithOneColon) {
    EXPECT_THAT(ParseTime("1:30"), Optional(Eq(90u)));
    EXPECT_THAT(ParseTime("1:90"), Optional(Eq(150u)));
    EXPECT_THAT(ParseTime("2:30"), Optional(Eq(150u)));
    EXPECT_THAT(ParseTime("5:00"), Optional(Eq(300u)));
    EXPECT_THAT(ParseTime(" 1: 30 "), Optional(Eq(90u)));
    EXPECT_THAT(ParseTime("0:0"), Optional(Eq(0u)));
}

TEST(ParseTime, HoursMinutesAndSecondsWithTwoOrMoreColons) {
    EXPECT_THAT(ParseTime("1:00:00"), Optional(Eq(3600u)));
    EXPECT_THAT(ParseTime("2:30:00"), Optional(Eq(9000u)));
    EXPECT_THAT(ParseTime("00:10:00"), Optional(Eq(600u)));
    EXPECT_THAT(ParseTime("1:2:3:4"), Optional(Eq(3723u)));
}

TEST(ParseTime, TextWithoutTheNumbersItsColonsAskForGivesNoValue) {
    EXPECT_EQ(ParseTime(""), std::nullopt);
    EXPECT_EQ(ParseTime("   "), std::nullopt);
    EXPECT_EQ(ParseTime("abc"), std::nullopt);
    EXPECT_EQ(ParseTime("-"), std::nullopt);
    EXPECT_EQ(ParseTime("1:"), std::nullopt);
    EXPECT_EQ(ParseTime(":30"), std::nullopt);
    EXPECT_EQ(ParseTime("1:30:"), std::nullopt);
    EXPECT_EQ(ParseTime("1::30"), std::nullopt);
    // The colon of the pattern follows the number directly.
    EXPECT_EQ(ParseTime("1 :30"), std::nullopt);
    // One colon is read as minutes:seconds even when a number precedes it in words.
    EXPECT_EQ(ParseTime("abc:30"), std::nullopt);
}

TEST(ParseTime, SignsAndOverflowWrapAt32Bits) {
    EXPECT_THAT(ParseTime("-1"), Optional(Eq(0xFFFFFFFFu)));
    EXPECT_THAT(ParseTime("-1:30"), Optional(Eq(static_cast<std::uint32_t>(-60 + 30))));
    EXPECT_THAT(ParseTime("4294967295"), Optional(Eq(0xFFFFFFFFu)));
    EXPECT_THAT(ParseTime("4294967296"), Optional(Eq(0u)));
    EXPECT_THAT(ParseTime("4294967297"), Optional(Eq(1u)));
    // 1193047 hours are 4294969200 seconds, 1904 past 2^32.
    EXPECT_THAT(ParseTime("1193047:0:0"), Optional(Eq(1904u)));
}

}  // namespace
}  // namespace vorlek
