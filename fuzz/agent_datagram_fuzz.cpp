// The agent fed any datagrams from any sender, with ticks and nested message loops between them.
//
// Input script: byte 0 sets up the station (bits 0-1: number of listed servers, 0 to 3; bit 2:
// "BLOCKED.BMP" is missing; bit 3: the lock window cannot be created). Then records, each an op
// byte whose low 3 bits say what happens and whose high 5 bits (arg) pick a sender or a count:
//   0  a datagram of U16 length from sender arg % 4, its bytes from the input (0 when it ends)
//   1  arg % 8 + 1 ticks
//   2  a read notification that finds nothing waiting
//   3  the next message box runs the following arg % 4 + 1 records in its nested loop
//   4  a Command carrying the next U32 from sender arg % 4
//   5  a one-byte StatusRequest from sender arg % 4
//   6  a datagram of arg % 5 bytes (0 to 4) from sender 2
//   7  a datagram of 4090 + arg bytes from sender 2, around the 4096-byte receive buffer: its
//      first 5 bytes from the input, the rest 0
// Senders: 0 and 1 the first two servers a "servers" file may list, 2 a foreign host, 3 the
// first server from another port.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "fuzz/check.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/link_fakes.h"
#include "link/address.h"
#include "tests/unit/agent/world.h"

namespace {

using namespace vorlek;
using fuzz::FuzzInput;

// The folder of the picture files, removed when the fuzzer ends.
std::string gFolder;
std::string gPicturePath;
std::string gMissingPath;

// The servers a "servers" file may list, in its order.
const Ipv4 kServers[3] = {MakeAddress(198, 51, 100, 1), MakeAddress(198, 51, 100, 2),
                          MakeAddress(198, 51, 100, 3)};
const Peer kSenders[4] = {
    {MakeAddress(198, 51, 100, 1), kStationPort},
    {MakeAddress(198, 51, 100, 2), kStationPort},
    {MakeAddress(203, 0, 113, 66), 40000},
    {MakeAddress(198, 51, 100, 1), 1234},
};

// A 4 x 2 uncompressed 24-bit picture with its pixels at offset 54.
void WritePicture(const std::string& path) {
    std::vector<std::uint8_t> file(54 + 4 * 2 * 3, 0x40);
    file[0] = 'B';
    file[1] = 'M';
    file[18] = 4;
    file[19] = file[20] = file[21] = 0;
    file[22] = 2;
    file[23] = file[24] = file[25] = 0;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(std::fwrite(file.data(), 1, file.size(), out) == file.size());
    std::fclose(out);
}

// The device, lock window, session and timer are the unit tests'; each request to them is a line
// of the journal.
struct Station {
    testing::Journal journal;
    fuzz::FakeNetwork network;
    fuzz::FakeBoxes boxes;
    testing::FakeDevice device{journal};
    testing::FakeLockScreen lockScreen{journal};
    testing::FakeSession session{journal};
    testing::FakeTimer timer{journal};

    // Whether the device holds the input: the last of its requests was a lock.
    bool InputHeld() const {
        for (auto line = journal.rbegin(); line != journal.rend(); ++line) {
            if (*line == "ioctl 0x100" || *line == "ioctl 0x200") {
                return *line == "ioctl 0x100";
            }
        }
        return false;
    }
};

// What a datagram that the agent ignores must leave as it was.
struct Observed {
    std::uint32_t remaining;
    StationState state;
    std::uint32_t warningThreshold;
    bool lockWindowOpen;
    std::size_t requests;
    std::size_t boxes;

    bool operator==(const Observed&) const = default;
};

Observed Observe(const Agent& agent, const Station& s) {
    return {agent.remaining(),      agent.state(),    agent.warningThreshold(),
            agent.lockWindowOpen(), s.journal.size(), s.boxes.shown.size()};
}

std::vector<std::uint8_t> ReportBytes(StatusWord word) {
    const auto report = BuildStatusReport(word);
    return {report.begin(), report.end()};
}

class Run {
public:
    Run(FuzzInput& input, Station& station, Agent& agent, std::size_t listed)
        : in_(input), s_(station), agent_(agent), listed_(listed) {
        s_.boxes.nested = [this] { RunNested(); };
    }

    void RunAll() {
        while (!in_.AtEnd()) {
            Step();
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

    void CheckAlways() {
        // One lock window at a time: a window is made only while none is open, and closed only
        // while one is.
        for (; checkedRequests_ < s_.journal.size(); ++checkedRequests_) {
            const std::string& line = s_.journal[checkedRequests_];
            if (line == "window closed") {
                FUZZ_CHECK(windowOpen_);
                windowOpen_ = false;
            } else if (line.starts_with("window ")) {
                FUZZ_CHECK(!windowOpen_);
                windowOpen_ = !line.ends_with(" failed");
            }
        }
        // Input is held exactly while the station is blocked, and a lock window only then.
        const bool open = s_.lockScreen.shown != nullptr;
        FUZZ_CHECK(open == windowOpen_);
        FUZZ_CHECK(s_.InputHeld() == (agent_.state() == StationState::BLOCKED));
        FUZZ_CHECK(!open || agent_.state() == StationState::BLOCKED);
        FUZZ_CHECK(open == agent_.lockWindowOpen());
        if (const LockPicture* picture = agent_.picture()) {
            FUZZ_CHECK(picture->pixels.size() == static_cast<std::size_t>(picture->width) *
                                                     static_cast<std::size_t>(picture->height) * 4);
        }
        // After start-up the agent sends nothing but five-byte status reports.
        for (; checkedSends_ < s_.network.sent.size(); ++checkedSends_) {
            const fuzz::Packet& sent = s_.network.sent[checkedSends_];
            FUZZ_CHECK(sent.bytes.size() == 5 && sent.bytes[0] == 4);
        }
    }

    void Deliver(Peer from, std::vector<std::uint8_t> bytes) {
        const Observed before = Observe(agent_, s_);
        const std::size_t sentBefore = s_.network.sent.size();
        const std::size_t size = bytes.size();
        const int type = size > 0 ? bytes[0] : -1;
        s_.network.waiting.push_back({from, std::move(bytes)});
        agent_.HandleDatagram();
        FUZZ_CHECK(s_.network.waiting.empty());
        const std::vector<fuzz::Packet> sent(s_.network.sent.begin() + sentBefore,
                                             s_.network.sent.end());
        const auto report = ReportBytes(agent_.CurrentStatus());

        const bool taken = size > 0 && size <= kAgentReceiveBuffer;
        if (taken && type == 3 && size >= 5) {
            // The report to every listed server, then the answer to the sender.
            FUZZ_CHECK(sent.size() == listed_ + 1);
            for (std::size_t i = 0; i < listed_; ++i) {
                FUZZ_CHECK(sent[i].peer.address == kServers[i] &&
                           sent[i].peer.port == kStationPort && sent[i].bytes == report);
            }
            FUZZ_CHECK(sent.back().peer.address == from.address &&
                       sent.back().peer.port == from.port && sent.back().bytes == report);
        } else if (taken && type == 4 && size < 5) {
            // A status request (shorter than a report) is answered and changes nothing.
            FUZZ_CHECK(Observe(agent_, s_) == before);
            FUZZ_CHECK(sent.size() == 1 && sent[0].peer.address == from.address &&
                       sent[0].peer.port == from.port && sent[0].bytes == report);
        } else {
            // Empty, too long, a command without its word, another agent's report, or a
            // foreign type: ignored.
            FUZZ_CHECK(Observe(agent_, s_) == before);
            FUZZ_CHECK(sent.empty());
        }
    }

    void Tick() {
        const Observed before = Observe(agent_, s_);
        const std::size_t sentBefore = s_.network.sent.size();
        s_.timer.now += 1000;
        agent_.Tick();
        if (s_.boxes.shown.size() != before.boxes) {
            return;  // the warning's nested loop may have done anything
        }
        // A tick never reports, not even the lock it puts on.
        FUZZ_CHECK(s_.network.sent.size() == sentBefore);
        if (before.state != StationState::NORMAL) {
            FUZZ_CHECK(Observe(agent_, s_) == before);
        } else if (before.remaining == 0) {
            FUZZ_CHECK(agent_.state() == StationState::BLOCKED && s_.InputHeld());
        } else {
            FUZZ_CHECK(agent_.state() == StationState::NORMAL &&
                       agent_.remaining() == before.remaining - 1);
        }
    }

    std::vector<std::uint8_t> Fill(std::size_t size) {
        const auto given = in_.Bytes(size);
        std::vector<std::uint8_t> bytes(given.begin(), given.end());
        bytes.resize(size, 0);
        return bytes;
    }

    void Step() {
        const std::uint8_t op = in_.Byte();
        const unsigned arg = op >> 3;
        const Peer sender = kSenders[arg % 4];
        switch (op & 7) {
            case 0:
                Deliver(sender, Fill(in_.U16()));
                break;
            case 1:
                for (unsigned i = 0; i <= arg % 8; ++i) {
                    Tick();
                }
                break;
            case 2: {
                const Observed before = Observe(agent_, s_);
                const std::size_t sentBefore = s_.network.sent.size();
                agent_.HandleDatagram();
                FUZZ_CHECK(Observe(agent_, s_) == before);
                FUZZ_CHECK(s_.network.sent.size() == sentBefore);
                break;
            }
            case 3:
                nestedPending_ = static_cast<int>(arg % 4 + 1);
                break;
            case 4: {
                const auto command = BuildCommand(in_.U32());
                Deliver(sender, {command.begin(), command.end()});
                break;
            }
            case 5:
                Deliver(sender, {4});
                break;
            case 6:
                Deliver(kSenders[2], Fill(arg % 5));
                break;
            default: {
                std::vector<std::uint8_t> bytes = Fill(5);
                bytes.resize(kAgentReceiveBuffer - 6 + arg, 0);
                Deliver(kSenders[2], std::move(bytes));
                break;
            }
        }
        CheckAlways();
    }

    FuzzInput& in_;
    Station& s_;
    Agent& agent_;
    std::size_t listed_;
    int nestedPending_ = 0;
    std::size_t checkedSends_ = 0;
    std::size_t checkedRequests_ = 0;
    bool windowOpen_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/vorlek-agent-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(folder) != nullptr);
    gFolder = folder;
    std::atexit([] { std::filesystem::remove_all(gFolder); });
    gPicturePath = std::string(folder) + "/BLOCKED.BMP";
    gMissingPath = std::string(folder) + "/missing/BLOCKED.BMP";
    WritePicture(gPicturePath);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::uint8_t setup = input.Byte();
    const std::size_t listed = setup & 3u;
    std::vector<Ipv4> servers;
    for (std::size_t i = 0; i < listed; ++i) {
        servers.push_back(kServers[i]);
    }

    Station station;
    station.lockScreen.creates = (setup & 8u) == 0;
    Agent agent({station.network, station.boxes, station.device, station.lockScreen,
                 station.session, station.timer},
                HostList(servers), (setup & 4u) != 0 ? gMissingPath : gPicturePath);
    FUZZ_CHECK(agent.Start());
    FUZZ_CHECK(agent.state() == StationState::AVAILABLE && !station.InputHeld());
    station.network.sent.clear();

    Run(input, station, agent, listed).RunAll();
    return 0;
}
