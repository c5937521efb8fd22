// Stand-ins for everything the console's engine talks to: the station list box, the rest of the
// main dialog, the socket, the name service, message boxes and the calendar clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "link/message_boxes.h"
#include "link/network.h"
#include "server/server.h"
#include "server/station_list.h"

namespace vorlek::test {

// What the operator sees happen, in order: boxes, rows added and deleted, foreground, the edit.
using Journal = std::vector<std::string>;

// The order of a sorted list box: a case-insensitive word sort in which hyphens and apostrophes
// count only when the texts are otherwise equal. Negative, 0 or positive like strcmp.
int WordSortCompare(std::string_view a, std::string_view b);

class FakeStationList : public StationList {
public:
    explicit FakeStationList(Journal& journal) : journal_(journal) {}

    int Add(const std::string& text) override;
    int FindPrefix(int start, const std::string& prefix) override;
    void Delete(int index) override;
    void SetSelected(int index, bool selected) override;
    bool IsSelected(int index) override;
    std::optional<std::string> Text(int index) override;
    std::vector<int> SelectedIndices(std::size_t max) override;

    std::vector<std::string> Rows() const;
    std::vector<std::string> SelectedRows() const;

private:
    struct Row {
        std::string text;
        bool selected = false;
    };
    Journal& journal_;
    std::vector<Row> rows_;
};

struct SentDatagram {
    Peer to;
    std::vector<std::uint8_t> bytes;
    bool operator==(const SentDatagram& other) const {
        return to.address == other.to.address && to.port == other.to.port && bytes == other.bytes;
    }
};

// Prints "198.51.100.11:1027 [04 02 00 00 80]" in failure messages.
void PrintTo(const SentDatagram& datagram, std::ostream* out);

class FakeNetwork : public Network {
public:
    void SendTo(Peer to, std::span<const std::uint8_t> bytes) override;
    // Like recvfrom: a datagram longer than the buffer fills the buffer, then the receive fails
    // and the datagram is gone.
    std::optional<Received> ReceiveFrom(std::span<std::uint8_t> buffer) override;
    bool WaitReadable(std::chrono::milliseconds timeout) override;
    void Pause(std::chrono::milliseconds duration) override;

    void Deliver(Peer from, std::vector<std::uint8_t> bytes);
    // A receive that fails although the socket said a datagram was there.
    void DeliverFailure();
    bool HasWaiting() const { return !inbound_.empty(); }

    std::vector<SentDatagram> sent;
    std::vector<std::size_t> receiveBufferSizes;
    int waits = 0;
    // Runs on every WaitReadable before it answers (the discovery tests move the clock here).
    std::function<void()> onWait;
    std::vector<std::chrono::milliseconds> pauses;
    // Runs on every Pause (datagrams that arrive meanwhile).
    std::function<void()> onPause;

private:
    struct Inbound {
        Peer from;
        std::vector<std::uint8_t> bytes;
        bool fails = false;
    };
    std::deque<Inbound> inbound_;
};

class FakeNames : public NameService {
public:
    std::optional<Ipv4> LookUpName(const std::string& name) override;
    std::optional<std::string> LookUpAddress(Ipv4 address) override;

    std::map<Ipv4, std::string> names;
    int reverseLookUps = 0;
};

struct ShownBox {
    std::string text;
    std::optional<std::string> caption;
    BoxIcon icon;
    bool operator==(const ShownBox&) const = default;
};

class FakeBoxes : public MessageBoxes {
public:
    explicit FakeBoxes(Journal& journal) : journal_(journal) {}
    void Show(std::string_view text, std::optional<std::string_view> caption,
              BoxIcon icon) override;

    std::vector<ShownBox> shown;
    // Runs once while the next box is open, as a nested message loop would run a handler.
    std::function<void()> whileOpen;

private:
    Journal& journal_;
};

class FakeWindow : public ConsoleWindow {
public:
    explicit FakeWindow(Journal& journal) : journal_(journal) {}
    void SetDeathTimerText(const std::string& text) override;
    bool DeathTimerTyped() override { return typed; }
    void BringToForeground() override;

    // The operator has typed into the edit since it was last written.
    bool typed = false;

private:
    Journal& journal_;
};

// Answers first look-ups at once from names, unless late; the tests hand refreshed names back
// themselves.
class FakeNameRefresh : public NameRefresh {
public:
    explicit FakeNameRefresh(FakeNames& names) : names_(names) {}
    void LookUpFirst(std::span<const Ipv4> addresses) override {
        kept.insert(kept.end(), addresses.begin(), addresses.end());
    }
    FirstAnswer AwaitFirst(Ipv4 address, std::chrono::microseconds longest) override;

    std::vector<Ipv4> kept;
    // Addresses whose answer takes this long; each wait is recorded.
    std::map<Ipv4, std::chrono::microseconds> late;
    std::vector<std::chrono::microseconds> waits;

private:
    FakeNames& names_;
};

class FakeClock : public Clock {
public:
    std::uint32_t Now() override { return now; }
    std::uint32_t now = 1700000000;
};

// The console's UTC clock in milliseconds and the sequence it keeps.
class FakeSequences : public SequenceKeeper {
public:
    std::uint64_t NowMs() override { return nowMs; }
    bool Keep(std::uint64_t sequence) override {
        if (!fails) {
            kept.push_back(sequence);
        }
        return !fails;
    }
    std::uint64_t nowMs = 1700000000000;
    std::vector<std::uint64_t> kept;
    bool fails = false;
};

// One console's worth of fakes.
struct Room {
    Journal journal;
    FakeNetwork network;
    FakeNames names;
    FakeBoxes boxes{journal};
    FakeStationList rows{journal};
    FakeWindow window{journal};
    FakeClock clock;
    FakeNameRefresh refresh{names};
    NameCache rowNames{refresh};

    ServerPorts Ports() { return {network, boxes, rows, window, clock, rowNames}; }
};

}  // namespace vorlek::test
