// The low-level hooks of /hold=hooks as the hook thread keeps them while the station is locked.
// The system silently removes a low-level hook whose procedure once answers too late (paging
// after a long lock, a starved processor), and a hook may fail to be set at all: so the hooks
// are set anew every renewal, each new one before its old one goes, so no moment is unheld.
#pragma once

#include <array>
#include <cstdint>

namespace vorlek {

enum class HookKind {
    Keyboard,
    Mouse,
};

// Setting and removing one low-level hook: SetWindowsHookEx and UnhookWindowsHookEx.
class HookCalls {
public:
    virtual ~HookCalls() = default;
    // The new hook, or 0 when the system refuses it.
    virtual std::uintptr_t Set(HookKind kind) = 0;
    // Removing a hook that the system already removed does nothing.
    virtual void Remove(std::uintptr_t hook) = 0;
};

class HookKeeper {
public:
    explicit HookKeeper(HookCalls& calls) : calls_(calls) {}
    ~HookKeeper() { Release(); }
    HookKeeper(const HookKeeper&) = delete;
    HookKeeper& operator=(const HookKeeper&) = delete;

    // Sets both hooks; one that the system refuses is tried again at the next renewal.
    void Hold();
    // While held: sets each hook anew, then removes the one it replaces; where the new one is
    // refused the old one stays.
    void Renew();
    void Release();

private:
    HookCalls& calls_;
    bool held_ = false;
    // Indexed by HookKind; 0 where none is set.
    std::array<std::uintptr_t, 2> hooks_{};
};

}  // namespace vorlek
