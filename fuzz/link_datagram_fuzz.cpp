// Any bytes as a received datagram: the reader takes the type from byte 0 and a word only from
// five received bytes, and the word's readings (console and agent) agree with the wire form.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fuzz/check.h"
#include "link/protocol.h"

namespace {

using namespace vorlek;

std::uint32_t LittleEndianAt(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void CheckWordReadings(StatusWord word) {
    const WordDatagram command = BuildCommand(word);
    FUZZ_CHECK(command[0] == 3 && LittleEndianAt(&command[1]) == word);
    const WordDatagram report = BuildStatusReport(word);
    FUZZ_CHECK(report[0] == 4 && LittleEndianAt(&report[1]) == word);

    const ReportedStatus status = ClassifyReport(word);
    if (word < PausedFlag) {
        FUZZ_CHECK(status.state == StationState::NORMAL && status.seconds == word);
    } else if (word >= kModeBase && word <= ModeWord(StationState::BLOCKED)) {
        FUZZ_CHECK(static_cast<StatusWord>(status.state) == word - kModeBase && !status.seconds);
    } else {
        FUZZ_CHECK(status.state == StationState::PAUSED && status.seconds == (word & 0xFFFFFFu));
    }

    // The four ranges of a command word cover every word, and the value rebuilds it.
    const DecodedCommand decoded = DecodeCommand(word);
    switch (decoded.kind) {
        case CommandKind::AddTime:
            FUZZ_CHECK(word >= 0xC0000000u && decoded.value == word - 0xC0000000u);
            break;
        case CommandKind::SetWarning:
            FUZZ_CHECK(word >= 0x90000000u && word < 0xC0000000u &&
                       decoded.value == word - 0x90000000u);
            break;
        case CommandKind::SetTime:
            FUZZ_CHECK(word < 0x80000000u && decoded.value == word);
            break;
        case CommandKind::Mode:
            FUZZ_CHECK(word >= 0x80000000u && word < 0x90000000u &&
                       decoded.value == word - 0x80000000u);
            break;
    }

    // What the console sends never carries the paused bit; 0 becomes a block before the bit is
    // cleared, so only the bare paused bit goes out as 0.
    const StatusWord sent = OperatorWord(word);
    FUZZ_CHECK((sent & PausedFlag) == 0 && (sent != 0 || word == PausedFlag));

    // The shown time reads back as the seconds it shows.
    const std::string shown = FormatSeconds(word);
    unsigned hours = 0;
    unsigned minutes = 0;
    unsigned seconds = 0;
    char end = 0;
    FUZZ_CHECK(std::sscanf(shown.c_str(), "%u:%2u:%2u%c", &hours, &minutes, &seconds, &end) == 3);
    FUZZ_CHECK(minutes < 60 && seconds < 60);
    FUZZ_CHECK(std::uint64_t{hours} * 3600 + minutes * 60 + seconds == word);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that reading one byte past the datagram is an ASan finding.
    const std::vector<std::uint8_t> received(data, data + size);
    const auto datagram = ReadDatagram(received);
    if (size == 0) {
        FUZZ_CHECK(!datagram);
        return 0;
    }
    FUZZ_CHECK(datagram && datagram->type == received[0]);
    FUZZ_CHECK(datagram->word.has_value() == (size >= 5));
    if (datagram->word) {
        FUZZ_CHECK(*datagram->word == LittleEndianAt(&received[1]));
        CheckWordReadings(*datagram->word);
    }
    return 0;
}
