// The console's datagrams go out on a thread of their own: under Wine one sendto costs about a
// tenth of a millisecond, so a tick that checks 2048 stations and sends each its warning would
// hold the console's thread for half a second. The engine's calls only queue the datagram; the
// thread sends them in the order they were queued. Receiving stays on the console's thread.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "link/network.h"

namespace vorlek {

class QueuedSends final : public Network {
public:
    // direct sends, receives and waits; its SendTo is called from the sending thread only.
    explicit QueuedSends(Network& direct);
    // Sends what waits, for a short while at most.
    ~QueuedSends() override;
    QueuedSends(const QueuedSends&) = delete;
    QueuedSends& operator=(const QueuedSends&) = delete;

    // Queues the datagram; when the queue is full, waits for room rather than lose it.
    void SendTo(Peer to, std::span<const std::uint8_t> bytes) override;
    std::optional<Received> ReceiveFrom(std::span<std::uint8_t> buffer) override;
    bool WaitReadable(std::chrono::milliseconds timeout) override;
    void Pause(std::chrono::milliseconds duration) override;

    // Sends what waits (for a short while at most) and ends the thread, before the socket is
    // closed; later datagrams are sent on the calling thread. A second call does nothing.
    void Stop();

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    HANDLE thread_ = nullptr;
};

}  // namespace vorlek
