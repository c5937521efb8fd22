// Fakes of everything the agent core talks to. Each one writes what happens to one shared
// journal, so a test sees the order of effects across network, device, lock window and timer.
#pragma once

#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/agent.h"

namespace vorlek::testing {

using Journal = std::vector<std::string>;

inline std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t b : bytes) {
        char part[4];
        std::snprintf(part, sizeof part, text.empty() ? "%02X" : " %02X", b);
        text += part;
    }
    return text;
}

// Sends become "send <address>:<port> <bytes>"; receives come from a queue of datagrams.
class FakeNetwork : public Network {
public:
    struct Incoming {
        Peer from;
        std::vector<std::uint8_t> bytes;
    };

    explicit FakeNetwork(Journal& journal) : journal_(journal) {}

    std::deque<Incoming> incoming;
    std::size_t receives = 0;
    std::size_t lastBufferSize = 0;

    void SendTo(Peer to, std::span<const std::uint8_t> bytes) override {
        journal_.push_back("send " + FormatDotted(to.address) + ":" + std::to_string(to.port) +
                           " " + Hex(bytes));
    }
    std::optional<Received> ReceiveFrom(std::span<std::uint8_t> buffer) override {
        ++receives;
        lastBufferSize = buffer.size();
        if (incoming.empty()) {
            return std::nullopt;
        }
        Incoming next = std::move(incoming.front());
        incoming.pop_front();
        // As recvfrom: a datagram longer than the buffer fails and is discarded.
        if (next.bytes.size() > buffer.size()) {
            return std::nullopt;
        }
        std::copy(next.bytes.begin(), next.bytes.end(), buffer.begin());
        return Received{next.bytes.size(), next.from};
    }
    bool WaitReadable(std::chrono::milliseconds) override { return !incoming.empty(); }
    void Pause(std::chrono::milliseconds) override {}

private:
    Journal& journal_;
};

class FakeBoxes : public MessageBoxes {
public:
    explicit FakeBoxes(Journal& journal) : journal_(journal) {}
    // Runs inside Show, as the nested message loop of a real box would.
    std::function<void()> whileShown;

    void Show(std::string_view text, std::optional<std::string_view> caption,
              BoxIcon icon) override {
        const char* iconName = icon == BoxIcon::Stop          ? "stop"
                               : icon == BoxIcon::Information ? "information"
                                                              : "none";
        journal_.push_back("box [" + std::string(caption.value_or("(none)")) + "] [" +
                           std::string(text) + "] " + iconName);
        if (whileShown) {
            auto nested = std::move(whileShown);
            nested();
        }
        journal_.push_back("box closed");
    }

private:
    Journal& journal_;
};

class FakeDevice : public InputLockDevice {
public:
    explicit FakeDevice(Journal& journal) : journal_(journal) {}
    bool opens = true;

    bool Open() override {
        journal_.push_back(opens ? "device open" : "device open failed");
        return opens;
    }
    void LockInput() override { journal_.push_back("ioctl 0x100"); }
    void UnlockInput() override { journal_.push_back("ioctl 0x200"); }

private:
    Journal& journal_;
};

class FakeLockScreen : public LockScreen {
public:
    explicit FakeLockScreen(Journal& journal) : journal_(journal) {}
    bool creates = true;
    const LockPicture* shown = nullptr;

    bool Open(const LockPicture& picture) override {
        journal_.push_back("window " + std::to_string(picture.width) + "x" +
                           std::to_string(picture.height) + (creates ? "" : " failed"));
        shown = creates ? &picture : nullptr;
        return creates;
    }
    void Close() override {
        journal_.push_back("window closed");
        shown = nullptr;
    }

private:
    Journal& journal_;
};

class FakeSession : public Session {
public:
    explicit FakeSession(Journal& journal) : journal_(journal) {}
    void LogOff() override { journal_.push_back("log off"); }
    void Reboot() override { journal_.push_back("reboot"); }

private:
    Journal& journal_;
};

class FakeTimer : public TickTimer {
public:
    explicit FakeTimer(Journal& journal) : journal_(journal) {}
    // The clock, which only the test moves.
    std::uint32_t now = 0;

    void Rearm() override { journal_.push_back("rearm"); }
    std::uint32_t NowMs() override { return now; }

private:
    Journal& journal_;
};

// One agent with its whole fake world.
struct World {
    Journal journal;
    FakeNetwork network{journal};
    FakeBoxes boxes{journal};
    FakeDevice device{journal};
    FakeLockScreen lockScreen{journal};
    FakeSession session{journal};
    FakeTimer timer{journal};

    AgentPorts Ports() { return {network, boxes, device, lockScreen, session, timer}; }

    // Takes the journal so far, leaving it empty.
    Journal Take() { return std::exchange(journal, {}); }
};

}  // namespace vorlek::testing
