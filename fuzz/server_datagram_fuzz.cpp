// The console's engine fed any datagrams from stations and strangers, with its one-second work,
// operator commands and nested message loops between them.
//
// Input script: byte 0 sets up the console (bits 0-2: how many of the eight stations "clients"
// lists; bit 3: the first one-second tick has built their records and rows before the script
// starts; bit 4: "clients" gave nothing and the start-up discovery runs first, see Discovery
// below). Then records, each an op byte whose low 3 bits say what happens and whose high 5 bits
// (arg) pick a sender or a variant; sender arg % 9 is one of the eight stations or, for 8, a
// stranger:
//   0  a datagram of U16 length, its bytes from the input (0 when it ends)
//   1  a Hello
//   2  a StatusReport carrying the next U32
//   3  the one-second timer after arg % 4 seconds (arg 31: the clock is set back 10 seconds)
//   4  the next message box runs the following arg % 4 + 1 records in its nested loop
//   5  the operator, by arg % 8: select row U8 and query it, set time U32, add U16 seconds,
//      query the selection, reselect, check period, reply timeout (a byte below 128 gives 0 to
//      3 seconds, otherwise a U32 follows), flip flag bits U8
//   6  a datagram of arg % 5 bytes (0 to 4) from the input, from the first station; for arg 30
//      and 31 a read notification that finds nothing waiting
//   7  a datagram of 508 + arg bytes from the first station, around the 512-byte receive
//      buffer: its first 5 bytes from the input, the rest 0
// Discovery: a byte's value % 64 of answers, each a U16 sender (10.0.hi.lo, or the console
// itself for 0xFFFF) and a byte whose value % 4 picks 0, 1, 5 or 513 bytes.
#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "fuzz/check.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/link_fakes.h"
#include "link/address.h"
#include "server/server.h"
#include "server/station_rows.h"
#include "tests/unit/server/fakes.h"

namespace {

using namespace vorlek;
using fuzz::FuzzInput;

constexpr std::size_t kStations = 8;
constexpr std::size_t kReceiveBuffer = 512;
// Answers to the discovery in one script; the 2048-station limit is a unit test's.
constexpr std::size_t kDiscoveryAnswers = 64;
const Ipv4 kOwnAddress = MakeAddress(198, 51, 100, 10);
const Ipv4 kStranger = MakeAddress(203, 0, 113, 66);

Ipv4 StationAddress(std::size_t i) {
    return MakeAddress(198, 51, 100, static_cast<std::uint8_t>(11 + i));
}

// Names the reverse look-up gives: short, missing (N/A), too long for a row, equal for two
// stations, with characters the list sorts oddly.
void NameStations(test::FakeNames& names) {
    names.names[StationAddress(0)] = "alpha";
    names.names[StationAddress(2)] = std::string(300, 'z');
    names.names[StationAddress(3)] = "Beta-Station";
    names.names[StationAddress(4)] = "gamma.room.example";
    names.names[StationAddress(6)] = "alpha";
    names.names[StationAddress(7)] = std::string(250, 'N') + "/A";
    names.names[kStranger] = "(";
}

// The main dialog's list box and edit, and the name service, are the unit tests' (the list sorts
// as the system's list box does); every row added or deleted and every write to the edit or the
// foreground is a line of the journal. The kept names are never refreshed: the rows keep the
// names of their first sight.
struct Console {
    test::Journal journal;
    fuzz::FakeNetwork network;
    test::FakeNames names;
    fuzz::FakeBoxes boxes;
    test::FakeStationList rows{journal};
    test::FakeWindow window{journal};
    test::FakeClock clock;
    test::FakeNameRefresh refresh{names};
    NameCache rowNames{refresh};
};

std::vector<int> SelectedRows(test::FakeStationList& rows) {
    return rows.SelectedIndices(std::numeric_limits<std::size_t>::max());
}

struct RecordView {
    Ipv4 address;
    StatusWord status;
    std::uint32_t waitTicks;
    std::uint32_t attemptsLeft;
    bool operator==(const RecordView&) const = default;
};

// Everything a datagram the console ignores must leave as it was.
struct Observed {
    std::vector<Ipv4> addresses;
    std::vector<RecordView> stations;
    std::vector<std::string> rows;
    std::vector<int> selectedRows;
    std::size_t sent;
    std::size_t boxes;
    std::size_t journal;
    std::uint32_t flags;
    std::array<std::int32_t, kSavedSelectionSize> savedSelection;
    bool operator==(const Observed&) const = default;
};

Observed Observe(const Server& server, Console& c) {
    Observed o;
    const auto addresses = server.addresses().Addresses();
    o.addresses.assign(addresses.begin(), addresses.end());
    for (const StationRecord& r : server.stations()) {
        o.stations.push_back({r.address, r.status, r.waitTicks, r.attemptsLeft});
    }
    o.rows = c.rows.Rows();
    o.selectedRows = SelectedRows(c.rows);
    o.sent = c.network.sent.size();
    o.boxes = c.boxes.shown.size();
    o.journal = c.journal.size();
    o.flags = server.flags();
    o.savedSelection = server.savedSelection();
    return o;
}

class Run {
public:
    Run(FuzzInput& input, Console& console, Server& server)
        : in_(input), c_(console), server_(server) {
        c_.boxes.nested = [this] { RunNested(); };
    }

    void RunAll() {
        while (!in_.AtEnd()) {
            Step();
        }
    }

    // The station list is never lost: every record has a row that is found by its address, and
    // every row belongs to a record, as many rows per address as records.
    void CheckAlways() {
        std::map<Ipv4, int> records;
        for (const StationRecord& r : server_.stations()) {
            ++records[r.address];
        }
        for (const auto& [address, count] : records) {
            FUZZ_CHECK(server_.FindRow(address) >= 0);
        }
        // No row is longer than the console's text buffers.
        std::map<Ipv4, int> rows;
        for (const std::string& text : c_.rows.Rows()) {
            FUZZ_CHECK(text.size() <= kRowTextLimit);
            FUZZ_CHECK(text.find('\0') == std::string::npos);
            const auto word = RowAddressWord(text);
            FUZZ_CHECK(word.has_value());
            ++rows[InetAddr(*word)];
        }
        FUZZ_CHECK(rows == records);
        // The array of polled addresses only grows.
        const std::size_t listed = server_.addresses().Addresses().size();
        FUZZ_CHECK(listed >= listedBefore_);
        listedBefore_ = listed;
        for (; checkedSends_ < c_.network.sent.size(); ++checkedSends_) {
            const fuzz::Packet& sent = c_.network.sent[checkedSends_];
            FUZZ_CHECK((sent.bytes.size() == 1 && sent.bytes[0] == 4) ||
                       (sent.bytes.size() == 5 && sent.bytes[0] == 3));
        }
        for (; checkedBoxes_ < c_.boxes.shown.size(); ++checkedBoxes_) {
            const fuzz::ShownBox& box = c_.boxes.shown[checkedBoxes_];
            FUZZ_CHECK(box.caption == "Vorlek Information" && box.icon == BoxIcon::Information);
            FUZZ_CHECK(box.text.size() <= kRowTextLimit);
        }
    }

private:
    void RunNested() {
        const int count = nestedPending_;
        nestedPending_ = 0;
        for (int i = 0; i < count && !in_.AtEnd(); ++i) {
            Step();
        }
    }

    static Peer SenderOf(unsigned arg) {
        const std::size_t i = arg % (kStations + 1);
        return {i == kStations ? kStranger : StationAddress(i), kStationPort};
    }

    void Deliver(Peer from, std::vector<std::uint8_t> bytes) {
        const Observed before = Observe(server_, c_);
        const bool listed = server_.IsListedAddress(from.address);
        const std::size_t size = bytes.size();
        const int type = size > 0 ? bytes[0] : -1;
        c_.network.waiting.push_back({from, std::move(bytes)});
        server_.HandleDatagram();
        FUZZ_CHECK(c_.network.waiting.empty());
        const bool taken = size > 0 && size <= kReceiveBuffer;
        if (taken && type == 1) {
            // A Hello from anyone is taken: its address joins the array unless it is listed
            // already, and the station has a record.
            FUZZ_CHECK(server_.addresses().Addresses().size() ==
                       before.addresses.size() + (listed ? 0 : 1));
            FUZZ_CHECK(server_.IsListedAddress(from.address));
            FUZZ_CHECK(server_.FindStation(from.address) != nullptr);
        } else if (taken && type == 4 && size >= 5 && listed) {
            FUZZ_CHECK(server_.FindStation(from.address) != nullptr);
        } else {
            // Empty, too long, short reports, foreign types and reports from strangers.
            FUZZ_CHECK(Observe(server_, c_) == before);
        }
    }

    std::vector<std::uint8_t> Fill(std::size_t size) {
        const auto given = in_.Bytes(size);
        std::vector<std::uint8_t> bytes(given.begin(), given.end());
        bytes.resize(size, 0);
        return bytes;
    }

    // An option value: a byte below 128 gives 0 to 3 seconds, otherwise any 32-bit value
    // (negative periods included).
    std::uint32_t Seconds() {
        const std::uint8_t choice = in_.Byte();
        return choice < 128 ? choice % 4u : in_.U32();
    }

    void Operator(unsigned variant) {
        switch (variant % 8) {
            case 0: {
                const int row = in_.Byte();
                const std::vector<int> selected = SelectedRows(c_.rows);
                const bool wasSelected =
                    std::find(selected.begin(), selected.end(), row) != selected.end();
                c_.rows.SetSelected(row, !wasSelected);
                server_.OnSelectionChanged();
                break;
            }
            case 1:
                server_.SendToSelected(in_.U32());
                break;
            case 2:
                server_.AddTime(in_.U16());
                break;
            case 3:
                server_.QuerySelected();
                break;
            case 4:
                server_.Reselect();
                break;
            case 5:
                server_.setCheckPeriod(Seconds());
                break;
            case 6:
                server_.setReplyTimeout(Seconds());
                break;
            default:
                server_.setFlags(server_.flags() ^ (in_.Byte() & 0x3Cu));
                break;
        }
    }

    void Step() {
        const std::uint8_t op = in_.Byte();
        const unsigned arg = op >> 3;
        switch (op & 7) {
            case 0:
                Deliver(SenderOf(arg), Fill(in_.U16()));
                break;
            case 1:
                Deliver(SenderOf(arg), {1});
                break;
            case 2: {
                const auto report = BuildStatusReport(in_.U32());
                Deliver(SenderOf(arg), {report.begin(), report.end()});
                break;
            }
            case 3:
                c_.clock.now = arg == 31 ? c_.clock.now - 10 : c_.clock.now + arg % 4;
                server_.OnTimerTick();
                break;
            case 4:
                nestedPending_ = static_cast<int>(arg % 4 + 1);
                break;
            case 5:
                Operator(arg);
                break;
            case 6:
                if (arg >= 30) {
                    // A read notification that finds nothing waiting.
                    const Observed before = Observe(server_, c_);
                    server_.HandleDatagram();
                    FUZZ_CHECK(Observe(server_, c_) == before);
                } else {
                    Deliver(SenderOf(0), Fill(arg % 5));
                }
                break;
            default: {
                std::vector<std::uint8_t> bytes = Fill(5);
                bytes.resize(kReceiveBuffer - 4 + arg, 0);
                Deliver(SenderOf(0), std::move(bytes));
                break;
            }
        }
        CheckAlways();
    }

    FuzzInput& in_;
    Console& c_;
    Server& server_;
    int nestedPending_ = 0;
    std::size_t listedBefore_ = 0;
    std::size_t checkedSends_ = 0;
    std::size_t checkedBoxes_ = 0;
};

// Runs the discovery over the scripted answers; the clock moves on whenever nothing is waiting.
void Discover(FuzzInput& input, Console& console, Server& server) {
    constexpr std::size_t kSizes[4] = {0, 1, 5, kReceiveBuffer + 1};
    std::vector<Ipv4> expected;
    const std::size_t count = input.Byte() % kDiscoveryAnswers;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t sender = input.U16();
        const Ipv4 address = sender == 0xFFFF
                                 ? kOwnAddress
                                 : MakeAddress(10, 0, static_cast<std::uint8_t>(sender >> 8),
                                               static_cast<std::uint8_t>(sender));
        const std::size_t size = kSizes[input.Byte() % 4];
        console.network.waiting.push_back(
            {{address, kStationPort}, std::vector<std::uint8_t>(size, 4)});
        // Only what the buffer takes counts; the console never collects itself.
        if (size <= kReceiveBuffer && address != kOwnAddress && expected.size() < kDiscoveryLimit &&
            std::find(expected.begin(), expected.end(), address) == expected.end()) {
            expected.push_back(address);
        }
    }
    console.network.onWait = [&console] {
        if (console.network.waiting.empty()) {
            ++console.clock.now;
        }
    };
    server.Discover();
    console.network.onWait = nullptr;
    FUZZ_CHECK(console.network.waiting.empty());
    const auto found = server.addresses().Addresses();
    FUZZ_CHECK(std::vector<Ipv4>(found.begin(), found.end()) == expected);
    // The one broadcast request, and nothing else.
    FUZZ_CHECK(console.network.sent.size() == 1 &&
               console.network.sent[0].peer.address == kBroadcastAddress &&
               console.network.sent[0].bytes == std::vector<std::uint8_t>{4});
    console.network.sent.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::uint8_t setup = input.Byte();
    std::vector<Ipv4> clients;
    for (std::size_t i = 0; i < (setup & 7u); ++i) {
        clients.push_back(StationAddress(i));
    }

    Console console;
    NameStations(console.names);
    Server server({console.network, console.boxes, console.rows, console.window, console.clock,
                   console.rowNames},
                  kOwnAddress, HostList(clients));
    if ((setup & 16u) != 0) {
        Discover(input, console, server);
    }
    Run run(input, console, server);
    if ((setup & 8u) != 0) {
        server.OnTimerTick();
        run.CheckAlways();
    }
    run.RunAll();
    return 0;
}
