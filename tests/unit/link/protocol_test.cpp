#include "link/protocol.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "link/signed_order.h"
#include "tests/unit/link/fake_signer.h"

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

TEST(SignedOrders, TrailerCarriesFormSequenceAndTheSignatureOfAddressNonceAndHead) {
    testing::FakeSigner signer(0x5A);
    const Nonce nonce{1, 2, 3, 4, 5, 6, 7, 8};
    const auto order = BuildSignedCommand(0xC0000E10, 0x0102030405060708u,
                                          MakeAddress(198, 51, 100, 11), nonce, signer);
    ASSERT_TRUE(order.has_value());
    const std::vector<std::uint8_t> head(order->begin(), order->begin() + 14);
    EXPECT_THAT(head, ElementsAre(0x03, 0x10, 0x0E, 0x00, 0xC0, 0x02, 0x08, 0x07, 0x06, 0x05, 0x04,
                                  0x03, 0x02, 0x01));
    // The fake signs with the message's first 40 bytes: domain, address, nonce, head.
    std::vector<std::uint8_t> expected = {'V', 'O', 'R', 'L', 'E', 'K', '-', 'O', 'R',
                                          'D', 'E', 'R', '-', '2', 198, 51,  100, 11,
                                          1,   2,   3,   4,   5,   6,   7,   8};
    expected.insert(expected.end(), head.begin(), head.end());
    expected.resize(64, 0x5A);
    EXPECT_EQ(std::vector<std::uint8_t>(order->begin() + 14, order->end()), expected);

    const auto read = ReadSignedOrder(*order);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->word, 0xC0000E10u);
    EXPECT_EQ(read->sequence, 0x0102030405060708u);

    signer.fails = true;
    EXPECT_FALSE(BuildSignedCommand(1, 1, 1, nonce, signer).has_value());
}

TEST(SignedOrders, OnlySeventyEightBytesOfFormTwoAreReadAsSigned) {
    testing::FakeSigner signer(1);
    auto order = *BuildSignedCommand(60, 5, 1, kNoNonce, signer);
    std::vector<std::uint8_t> bytes(order.begin(), order.end());
    bytes.push_back(0);
    EXPECT_FALSE(ReadSignedOrder(bytes).has_value());
    bytes.resize(77);
    EXPECT_FALSE(ReadSignedOrder(bytes).has_value());
    order[5] = 0x03;
    EXPECT_FALSE(ReadSignedOrder(order).has_value());
    order[5] = 0x02;
    order[0] = 0x04;
    EXPECT_FALSE(ReadSignedOrder(order).has_value());
}

TEST(SignedOrders, NonceRidesOnHelloAndReportsAndIsZeroWhenAbsent) {
    const Nonce nonce{9, 8, 7, 6, 5, 4, 3, 2};
    EXPECT_THAT(Bytes(BuildHello(nonce)), ElementsAre(0x01, 9, 8, 7, 6, 5, 4, 3, 2));
    const auto report = BuildStatusReport(12345, nonce);
    EXPECT_THAT(Bytes(report), ElementsAre(0x04, 0x39, 0x30, 0, 0, 9, 8, 7, 6, 5, 4, 3, 2));
    EXPECT_EQ(ReadDatagram(report)->word, 12345u);
    EXPECT_EQ(NonceOf(report), nonce);
    EXPECT_EQ(NonceOf(BuildHello(nonce)), nonce);
    EXPECT_EQ(NonceOf(BuildHello()), kNoNonce);
    EXPECT_EQ(NonceOf(BuildStatusReport(5)), kNoNonce);
    EXPECT_EQ(NonceOf(std::span(report).first(12)), kNoNonce);
    EXPECT_FALSE(NonceOf(BuildStatusRequest()).has_value());
    EXPECT_FALSE(NonceOf(BuildCommand(5)).has_value());
    EXPECT_FALSE(NonceOf({}).has_value());
}

TEST(SignedOrders, SequenceFollowsTheClockAndNeverRepeats) {
    EXPECT_EQ(NextSequence(1000, 999), 1000u);
    EXPECT_EQ(NextSequence(1000, 1000), 1001u);
    EXPECT_EQ(NextSequence(5, 1000), 1001u);
    EXPECT_EQ(NextSequence(0, 0), 1u);
}

TEST(SignedOrders, KeyLinesAndRoomKeysAreReadStrictly) {
    PublicKey key{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<std::uint8_t>(i * 7);
    }
    key[0] = 0x04;
    const std::string line = FormatPublicKeyLine(key, "desk 1");
    EXPECT_EQ(line.substr(0, 20), "vorlek-p256 BAcOFRwj");
    EXPECT_EQ(line.size(), 12u + 88u + 7u);
    EXPECT_EQ(ReadPublicKeyLine(line), key);
    EXPECT_EQ(FormatPublicKeyLine(key, ""), line.substr(0, 100));
    // A key of another form, a cut or padded text, a point that is not uncompressed.
    EXPECT_FALSE(ReadPublicKeyLine("vorlek-p384 " + line.substr(12)).has_value());
    EXPECT_FALSE(ReadPublicKeyLine(line.substr(0, 99)).has_value());
    EXPECT_FALSE(ReadPublicKeyLine(line.substr(0, 99) + "==").has_value());
    EXPECT_FALSE(ReadPublicKeyLine(line.substr(0, 98) + "B=").has_value());
    key[0] = 0x02;
    EXPECT_FALSE(ReadPublicKeyLine(FormatPublicKeyLine(key, "")).has_value());

    const auto read = [](const std::string& text) {
        std::FILE* file = std::tmpfile();
        std::fwrite(text.data(), 1, text.size(), file);
        std::rewind(file);
        auto keys = ReadRoomKeys(file);
        std::fclose(file);
        return keys;
    };
    const auto two = read("# room\n\n" + line + "\r\n  " + line.substr(0, 100) + "\n");
    ASSERT_TRUE(two.has_value());
    EXPECT_EQ(two->size(), 2u);
    EXPECT_FALSE(read("").has_value());
    EXPECT_FALSE(read("# nobody\n").has_value());
    EXPECT_FALSE(read(line + "\n198.51.100.1\n").has_value());
    EXPECT_FALSE(read(line + std::string(500, ' ') + "\n").has_value());
}

}  // namespace
}  // namespace vorlek
