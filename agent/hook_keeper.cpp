#include "agent/hook_keeper.h"

namespace vorlek {

void HookKeeper::Hold() {
    held_ = true;
    Renew();
}

void HookKeeper::Renew() {
    if (!held_) {
        return;
    }
    for (const HookKind kind : {HookKind::Keyboard, HookKind::Mouse}) {
        std::uintptr_t& hook = hooks_[static_cast<std::size_t>(kind)];
        if (const std::uintptr_t renewed = calls_.Set(kind); renewed != 0) {
            if (hook != 0) {
                calls_.Remove(hook);
            }
            hook = renewed;
        }
    }
}

void HookKeeper::Release() {
    held_ = false;
    for (std::uintptr_t& hook : hooks_) {
        if (hook != 0) {
            calls_.Remove(hook);
            hook = 0;
        }
    }
}

}  // namespace vorlek
