#include "console/win32/name_refresher.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "console/win32/section_lock.h"
#include "link/win32/winsock_network.h"
#include "server/name_schedule.h"

namespace vorlek {

namespace {

// Look-ups that may wait on the name server at the same time: with a server that answers in
// 200 ms, 2048 new stations are all named within 26 s.
constexpr int kLookUpThreads = 16;
// A thread with nothing due looks at the schedule again at least this often.
constexpr DWORD kLongestIdleMs = 1000;
constexpr SIZE_T kThreadStackBytes = 64 * 1024;

}  // namespace

struct NameRefresher::Shared {
    Shared() {
        InitializeCriticalSection(&lock);
        wake = CreateSemaphoreA(nullptr, 0, kLookUpThreads, nullptr);
        answered = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    ~Shared() {
        for (const HANDLE event : {wake, answered}) {
            if (event != nullptr) {
                CloseHandle(event);
            }
        }
        DeleteCriticalSection(&lock);
    }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    // Everything below is guarded by lock, except the events.
    CRITICAL_SECTION lock;
    // A semaphore: each count wakes one idle thread.
    HANDLE wake = nullptr;
    // Set when a first answer is put into firstAnswers.
    HANDLE answered = nullptr;
    NameSchedule schedule;
    std::vector<RefreshedName> results;
    // First look-ups whose answer the console's thread still waits for, and their answers.
    std::unordered_set<Ipv4> awaited;
    struct Answer {
        std::optional<std::string> name;
        std::chrono::microseconds lookUp;
    };
    std::unordered_map<Ipv4, Answer> firstAnswers;
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
            SectionLock lock(shared.lock);
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
        const auto lookUpStart = std::chrono::steady_clock::now();
        std::optional<std::string> name = LookUpAddressName(*address);
        const auto lookUp = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - lookUpStart);
        SectionLock lock(shared.lock);
        shared.schedule.Done(*address, started);
        if (shared.awaited.erase(*address) != 0) {
            shared.firstAnswers.emplace(*address, NameRefresher::Shared::Answer{name, lookUp});
            SetEvent(shared.answered);
        }
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
    {
        SectionLock lock(shared_->lock);
        shared_->window = window;
        shared_->message = message;
        shared_->announced = false;
    }
    StartThreads();
}

void NameRefresher::LookUpFirst(std::span<const Ipv4> addresses) {
    if (addresses.empty()) {
        return;
    }
    {
        SectionLock lock(shared_->lock);
        if (shared_->stopping) {
            return;
        }
        for (const Ipv4 address : addresses) {
            shared_->schedule.AddFirst(address);
            shared_->awaited.insert(address);
        }
    }
    StartThreads();
    // One count a thread; a release beyond the semaphore's maximum fails, and every thread is
    // then awake or about to be.
    for (std::size_t i = 0; i < std::min<std::size_t>(addresses.size(), kLookUpThreads); ++i) {
        if (!ReleaseSemaphore(shared_->wake, 1, nullptr)) {
            break;
        }
    }
}

FirstAnswer NameRefresher::AwaitFirst(Ipv4 address, std::chrono::microseconds longest) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto waited = [start] {
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    };
    for (;;) {
        {
            SectionLock lock(shared_->lock);
            if (const auto found = shared_->firstAnswers.find(address);
                found != shared_->firstAnswers.end()) {
                FirstAnswer answer{true, std::move(found->second.name), waited(),
                                   found->second.lookUp};
                shared_->firstAnswers.erase(found);
                return answer;
            }
            if (waited() >= longest) {
                // A later answer comes back as a refreshed name.
                shared_->awaited.erase(address);
                return {false, std::nullopt, waited()};
            }
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(longest - waited());
        WaitForSingleObject(shared_->answered, static_cast<DWORD>(left.count()));
    }
}

void NameRefresher::StartThreads() {
    if (std::exchange(started_, true)) {
        return;
    }
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
    SectionLock lock(shared_->lock);
    shared_->announced = false;
    return std::exchange(shared_->results, {});
}

void NameRefresher::Stop() {
    {
        SectionLock lock(shared_->lock);
        shared_->stopping = true;
        shared_->window = nullptr;
    }
    // Wakes the idle threads; a release beyond the maximum fails, and they are then awake.
    ReleaseSemaphore(shared_->wake, kLookUpThreads, nullptr);
}

}  // namespace vorlek
