// /hold=hooks: the agent holds keyboard and mouse itself, without the input-lock device. While
// the station is locked, low-level hooks swallow every key (Alt+Tab, Alt+F4, Ctrl+Esc and the
// Windows keys included) and every button, wheel turn and move before any window sees it.
//
// The hooks live on a thread of their own, at time-critical priority, that does nothing but serve
// them: the system calls a low-level hook on the thread that set it, and skips (and at last
// silently removes) a hook whose thread keeps the input waiting, as the agent's own thread does
// inside a name look-up. While locked the thread sets its hooks anew twice a second.
#pragma once

#include <windows.h>

#include <memory>

#include "agent/win32/input_lock_device_win32.h"

namespace vorlek {

// What the agent and the hook thread share: the event the thread sets after each answer, and the
// number of the request it answered. Either side may outlive the other.
struct HookAnswers;

class Win32InputHooks final : public Win32InputHold {
public:
    Win32InputHooks() = default;
    ~Win32InputHooks() override;
    Win32InputHooks(const Win32InputHooks&) = delete;
    Win32InputHooks& operator=(const Win32InputHooks&) = delete;

    // Records the platform family and starts the hook thread; false on Windows 9x, which has no
    // low-level hooks, or when the thread does not start.
    bool Open() override;
    const char* OpenFailedText() const override;
    // Each returns once the hook thread has set or removed its hooks, or after 5 s. A lock after
    // Close starts the thread again.
    void LockInput() override;
    void UnlockInput() override;
    // Ends the hook thread, which takes its hooks with it. At exit, and when the session ends.
    void Close() override;

private:
    bool StartThread();
    // Whether the thread answered request number `request` within the time.
    bool AwaitAnswer(unsigned request);
    void Ask(UINT message);

    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    std::shared_ptr<HookAnswers> answers_;
    unsigned lastRequest_ = 0;
};

}  // namespace vorlek
