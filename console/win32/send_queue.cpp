#include "console/win32/send_queue.h"

#include <deque>
#include <utility>
#include <vector>

#include "console/win32/section_lock.h"

namespace vorlek {

namespace {

// Datagrams that may wait: the status checks and warnings of two ticks of a room of 2048.
constexpr std::size_t kQueueLimit = 8192;
// How long the end of the console waits for the datagrams still queued.
constexpr DWORD kFinalSendMs = 2000;

}  // namespace

struct QueuedSends::Shared {
    explicit Shared(Network& network) : direct(network) {
        InitializeCriticalSection(&lock);
        wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        room = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    }
    ~Shared() {
        for (const HANDLE event : {wake, room}) {
            if (event != nullptr) {
                CloseHandle(event);
            }
        }
        DeleteCriticalSection(&lock);
    }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    struct Datagram {
        Peer to;
        std::vector<std::uint8_t> bytes;
    };

    Network& direct;
    // Guarded by lock, except the events.
    CRITICAL_SECTION lock;
    // Set when datagrams wait or the thread is to stop.
    HANDLE wake = nullptr;
    // Set while the queue has room.
    HANDLE room = nullptr;
    std::deque<Datagram> waiting;
    bool stopping = false;
};

namespace {

DWORD WINAPI SendingThread(void* parameter) {
    const std::unique_ptr<std::shared_ptr<QueuedSends::Shared>> owned(
        static_cast<std::shared_ptr<QueuedSends::Shared>*>(parameter));
    QueuedSends::Shared& shared = **owned;
    for (;;) {
        WaitForSingleObject(shared.wake, INFINITE);
        std::deque<QueuedSends::Shared::Datagram> batch;
        bool stopping = false;
        {
            SectionLock lock(shared.lock);
            batch = std::exchange(shared.waiting, {});
            SetEvent(shared.room);
            stopping = shared.stopping;
        }
        for (const auto& datagram : batch) {
            shared.direct.SendTo(datagram.to, datagram.bytes);
        }
        if (stopping) {
            return 0;
        }
    }
}

}  // namespace

QueuedSends::QueuedSends(Network& direct) : shared_(std::make_shared<Shared>(direct)) {
    auto parameter = std::make_unique<std::shared_ptr<Shared>>(shared_);
    if (shared_->wake != nullptr && shared_->room != nullptr) {
        thread_ = CreateThread(nullptr, 0, SendingThread, parameter.get(), 0, nullptr);
    }
    if (thread_ != nullptr) {
        parameter.release();
    }
}

QueuedSends::~QueuedSends() {
    Stop();
}

void QueuedSends::Stop() {
    if (thread_ == nullptr) {
        return;
    }
    {
        SectionLock lock(shared_->lock);
        shared_->stopping = true;
    }
    SetEvent(shared_->wake);
    // A non-blocking socket never holds a send. A thread that has still not ended is left
    // behind: this happens only as the console ends, and the process ends under it.
    WaitForSingleObject(thread_, kFinalSendMs);
    CloseHandle(thread_);
    thread_ = nullptr;
}

void QueuedSends::SendTo(Peer to, std::span<const std::uint8_t> bytes) {
    if (thread_ == nullptr) {
        shared_->direct.SendTo(to, bytes);
        return;
    }
    bool first = false;
    for (;;) {
        {
            SectionLock lock(shared_->lock);
            if (shared_->waiting.size() < kQueueLimit) {
                first = shared_->waiting.empty();
                shared_->waiting.push_back({to, {bytes.begin(), bytes.end()}});
                break;
            }
            ResetEvent(shared_->room);
        }
        WaitForSingleObject(shared_->room, INFINITE);
    }
    // The thread takes every waiting datagram at once: it was woken for the first of them. Under
    // Wine each SetEvent is a call to the Wine server, as costly as the send itself.
    if (first) {
        SetEvent(shared_->wake);
    }
}

std::optional<Received> QueuedSends::ReceiveFrom(std::span<std::uint8_t> buffer) {
    return shared_->direct.ReceiveFrom(buffer);
}

bool QueuedSends::WaitReadable(std::chrono::milliseconds timeout) {
    return shared_->direct.WaitReadable(timeout);
}

void QueuedSends::Pause(std::chrono::milliseconds duration) {
    shared_->direct.Pause(duration);
}

}  // namespace vorlek
