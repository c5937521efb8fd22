#include "agent/win32/input_hooks_win32.h"

#include <atomic>

#include "agent/hook_keeper.h"

namespace vorlek {

struct HookAnswers {
    HANDLE answered = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // The thread answers request 0 once its queue exists; requests are numbered from 1.
    std::atomic<unsigned> last{~0u};

    HookAnswers() = default;
    ~HookAnswers() {
        if (answered != nullptr) {
            CloseHandle(answered);
        }
    }
    HookAnswers(const HookAnswers&) = delete;
    HookAnswers& operator=(const HookAnswers&) = delete;

    void Answer(unsigned request) {
        last = request;
        SetEvent(answered);
    }
};

namespace {

// Thread messages to the hook thread; wParam is the request's number.
constexpr UINT kHoldInput = WM_APP + 1;
constexpr UINT kReleaseInput = WM_APP + 2;
// How long the agent waits for the hook thread to start or to answer a request.
constexpr DWORD kAnswerTimeoutMs = 5000;
// Well inside the second within which a removed hook must be back.
constexpr UINT kRenewalPeriodMs = 500;

// Set only while the station is locked, so every event it is given is kept from every window.
LRESULT CALLBACK SwallowInput(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class Win32HookCalls final : public HookCalls {
public:
    std::uintptr_t Set(HookKind kind) override {
        const int type = kind == HookKind::Keyboard ? WH_KEYBOARD_LL : WH_MOUSE_LL;
        return reinterpret_cast<std::uintptr_t>(
            SetWindowsHookExA(type, SwallowInput, GetModuleHandleA(nullptr), 0));
    }
    void Remove(std::uintptr_t hook) override {
        UnhookWindowsHookEx(reinterpret_cast<HHOOK>(hook));
    }
};

DWORD WINAPI ServeHooks(LPVOID shared) {
    // The thread's own share of the answers, handed over by StartThread.
    const std::unique_ptr<std::shared_ptr<HookAnswers>> answers(
        static_cast<std::shared_ptr<HookAnswers>*>(shared));
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    MSG message;
    // The first call of a message function gives the thread its queue; requests can come now.
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    const UINT_PTR renewal = SetTimer(nullptr, 0, kRenewalPeriodMs, nullptr);
    (*answers)->Answer(0);
    Win32HookCalls calls;
    HookKeeper keeper(calls);
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER) {
            keeper.Renew();
            continue;
        }
        if (message.message == kHoldInput) {
            keeper.Hold();
        } else if (message.message == kReleaseInput) {
            keeper.Release();
        }
        (*answers)->Answer(static_cast<unsigned>(message.wParam));
    }
    KillTimer(nullptr, renewal);
    return 0;
}

}  // namespace

Win32InputHooks::~Win32InputHooks() {
    Close();
}

bool Win32InputHooks::Open() {
    platformFamily_ = QueryPlatformFamily();
    return platformFamily_ == PlatformFamily::Nt && StartThread();
}

bool Win32InputHooks::StartThread() {
    answers_ = std::make_shared<HookAnswers>();
    if (answers_->answered == nullptr) {
        return false;
    }
    auto shared = std::make_unique<std::shared_ptr<HookAnswers>>(answers_);
    thread_ = CreateThread(nullptr, 0, ServeHooks, shared.get(), 0, &threadId_);
    if (thread_ == nullptr) {
        return false;
    }
    // The thread owns its share now.
    shared.release();
    return AwaitAnswer(0);
}

const char* Win32InputHooks::OpenFailedText() const {
    return "Failed to start the input hooks of /hold=hooks\n";
}

void Win32InputHooks::LockInput() {
    // After the session's end closed the thread, a process that lives on still holds.
    if (thread_ == nullptr && platformFamily_ == PlatformFamily::Nt) {
        StartThread();
    }
    Ask(kHoldInput);
}

void Win32InputHooks::UnlockInput() {
    Ask(kReleaseInput);
}

void Win32InputHooks::Ask(UINT message) {
    const unsigned request = ++lastRequest_;
    if (thread_ != nullptr && PostThreadMessageA(threadId_, message, request, 0)) {
        AwaitAnswer(request);
    }
}

bool Win32InputHooks::AwaitAnswer(unsigned request) {
    // The answer of an earlier request that came after its time also sets the event: it is
    // waited past, within the time this request has.
    const DWORD start = GetTickCount();
    while (answers_->last != request) {
        const DWORD waited = GetTickCount() - start;
        if (waited >= kAnswerTimeoutMs ||
            WaitForSingleObject(answers_->answered, kAnswerTimeoutMs - waited) != WAIT_OBJECT_0) {
            return answers_->last == request;
        }
    }
    return true;
}

void Win32InputHooks::Close() {
    if (thread_ != nullptr) {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_, kAnswerTimeoutMs);
        // A thread that has not ended yet keeps its own share of the event it may still set.
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    answers_.reset();
}

}  // namespace vorlek
