// Fakes of the station link's view of the world for the fuzz targets: a network that hands out
// scripted datagrams and records what is sent, a name service with fixed answers, and message
// boxes that can run a nested message loop.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz/check.h"
#include "link/message_boxes.h"
#include "link/network.h"

namespace vorlek::fuzz {

struct Packet {
    Peer peer;
    std::vector<std::uint8_t> bytes;
};

class FakeNetwork : public Network {
public:
    void SendTo(Peer to, std::span<const std::uint8_t> bytes) override {
        sent.push_back({to, {bytes.begin(), bytes.end()}});
    }

    // As recvfrom does: a datagram longer than the buffer fills the buffer, fails and is gone.
    std::optional<Received> ReceiveFrom(std::span<std::uint8_t> buffer) override {
        ++receives;
        if (waiting.empty()) {
            return std::nullopt;
        }
        const Packet datagram = std::move(waiting.front());
        waiting.pop_front();
        const std::size_t size = datagram.bytes.size();
        std::copy_n(datagram.bytes.begin(), std::min(size, buffer.size()), buffer.begin());
        if (size > buffer.size()) {
            return std::nullopt;
        }
        return Received{size, datagram.peer};
    }

    bool WaitReadable(std::chrono::milliseconds) override {
        if (onWait) {
            onWait();
        }
        return !waiting.empty();
    }

    void Pause(std::chrono::milliseconds) override {}

    std::deque<Packet> waiting;
    std::vector<Packet> sent;
    std::size_t receives = 0;
    std::function<void()> onWait;
};

class FakeNames : public NameService {
public:
    std::optional<Ipv4> LookUpName(const std::string& name) override {
        asked.push_back(name);
        const auto found = addresses.find(name);
        if (found == addresses.end()) {
            return std::nullopt;
        }
        return found->second;
    }

    std::optional<std::string> LookUpAddress(Ipv4 address) override {
        const auto found = names.find(address);
        if (found == names.end()) {
            return std::nullopt;
        }
        return found->second;
    }

    std::map<std::string, Ipv4> addresses;
    std::map<Ipv4, std::string> names;
    std::vector<std::string> asked;
};

struct ShownBox {
    std::string text;
    std::optional<std::string> caption;
    BoxIcon icon;
};

// Show records the box, then runs `nested` as the box's message loop would run timers and
// datagrams, to a bounded depth.
class FakeBoxes : public MessageBoxes {
public:
    void Show(std::string_view text, std::optional<std::string_view> caption,
              BoxIcon icon) override {
        shown.push_back({std::string(text),
                         caption ? std::optional<std::string>(*caption) : std::nullopt, icon});
        if (nested && depth < kMaxDepth) {
            ++depth;
            nested();
            --depth;
        }
    }

    static constexpr int kMaxDepth = 3;
    std::vector<ShownBox> shown;
    std::function<void()> nested;
    int depth = 0;
};

}  // namespace vorlek::fuzz
