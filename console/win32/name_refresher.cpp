#include "console/win32/name_refresher.h"

#include <algorithm>
#include <utility>

#include "link/win32/winsock_network.h"
#include "server/name_schedule.h"

namespace vorlek {

namespace {

// Look-ups that may wait on the name server at the same time: with a server that answers in
// 200 ms, 256 stations are each looked up again within 7 s.
constexpr int kLookUpThreads = 8;
// A thread with nothing due looks at the schedule again at least this often.
constexpr DWORD kLongestIdleMs = 1000;
constexpr SIZE_T kThreadStackBytes = 64 * 1024;

class Lock {
public:
    explicit Lock(CRITICAL_SECTION& section) : section_(section) {
        EnterCriticalSection(&section_);
    }
    ~Lock() { LeaveCriticalSection(&section_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION& section_;
};

}  // namespace

struct NameRefresher::Shared {
    Shared() {
        InitializeCriticalSection(&lock);
        wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    ~Shared() {
        if (wake != nullptr) {
            CloseHandle(wake);
        }
        DeleteCriticalSection(&lock);
    }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    // Everything below is guarded by lock, except wake.
    CRITICAL_SECTION lock;
    HANDLE wake = nullptr;
    NameSchedule schedule;
    std::vector<RefreshedName> results;
    HWND window = nullptr;
    UINT message = 0;
    bool announced = false;
    bool stopping = false;
};

namespace {

// One look-up thread: takes the address that is due, looks it up without the lock and hands
// the result over; ends when the refresher stops.
DWORD WINAPI LookUpThread(void* parameter) {
    const std::unique_ptr<std::shared_ptr<NameRefresher::Shared>> owned(
        static_cast<std::shared_ptr<NameRefresher::Shared>*>(parameter));
    NameRefresher::Shared& shared = **owned;
    for (;;) {
        std::optional<Ipv4> address;
        DWORD idleMs = kLongestIdleMs;
        const DWORD started = GetTickCount();
        {
            Lock lock(shared.lock);
            if (shared.stopping) {
                return 0;
            }
            address = shared.schedule.TakeDue(started);
            if (!address) {
                idleMs = std::min<DWORD>(shared.schedule.WaitMs(started).value_or(kLongestIdleMs),
                                         kLongestIdleMs);
            }
        }
        if (!address) {
            WaitForSingleObject(shared.wake, idleMs);
            continue;
        }
        std::optional<std::string> name = LookUpAddressName(*address);
        Lock lock(shared.lock);
        shared.schedule.Done(*address, started);
        shared.results.push_back({*address, std::move(name)});
        if (!shared.announced && shared.window != nullptr) {
            shared.announced = PostMessageA(shared.window, shared.message, 0, 0) != FALSE;
        }
    }
}

}  // namespace

NameRefresher::NameRefresher() : shared_(std::make_shared<Shared>()) {}

NameRefresher::~NameRefresher() {
    Stop();
}

void NameRefresher::Announce(HWND window, UINT message) {
    Lock lock(shared_->lock);
    shared_->window = window;
    shared_->message = message;
    shared_->announced = false;
}

void NameRefresher::Keep(Ipv4 address) {
    {
        Lock lock(shared_->lock);
        if (shared_->stopping) {
            return;
        }
        shared_->schedule.Add(address, GetTickCount());
    }
    if (!started_) {
        started_ = true;
        StartThreads();
    }
}

void NameRefresher::StartThreads() {
    for (int i = 0; i < kLookUpThreads; ++i) {
        auto parameter = std::make_unique<std::shared_ptr<Shared>>(shared_);
        const HANDLE thread =
            CreateThread(nullptr, kThreadStackBytes, LookUpThread, parameter.get(),
                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (thread == nullptr) {
            // The threads that did start do the work; with none, the rows keep their first names.
            return;
        }
        parameter.release();
        CloseHandle(thread);
    }
}

std::vector<RefreshedName> NameRefresher::TakeResults() {
    Lock lock(shared_->lock);
    shared_->announced = false;
    return std::exchange(shared_->results, {});
}

void NameRefresher::Stop() {
    {
        Lock lock(shared_->lock);
        shared_->stopping = true;
        shared_->window = nullptr;
    }
    // Wakes one idle thread; the others see the stop within kLongestIdleMs.
    SetEvent(shared_->wake);
}

}  // namespace vorlek
