// /hold=hooks: the agent holds keyboard and mouse itself, without the input-lock device. While
// the station is locked, low-level hooks swallow every key (Alt+Tab, Alt+F4, Ctrl+Esc and the
// Windows keys included) and every button, wheel turn and move before any window sees it.
//
// The hooks live on a thread of their own that does nothing but serve them: the system calls a
// low-level hook on the thread that set it, and skips (and at last silently removes) a hook whose
// thread keeps the input waiting, as the agent's own thread does inside a name look-up.
#pragma once

#include <windows.h>

#include "agent/win32/input_lock_device_win32.h"

namespace vorlek {

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
    // Each returns once the hook thread has set or removed its hooks.
    void LockInput() override;
    void UnlockInput() override;
    // Ends the hook thread, which takes its hooks with it. At exit, and when the session ends.
    void Close() override;

private:
    void Ask(UINT request);

    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    // Set by the hook thread when its queue exists and after each request.
    HANDLE answered_ = nullptr;
};

}  // namespace vorlek
