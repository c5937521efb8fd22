#include "agent/hook_keeper.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace vorlek {
namespace {

using ::testing::ElementsAre;

// The system's hooks: each set one gets the next number; the test can refuse sets and, as the
// system does with a hook that answered too late, unhook one behind the keeper's back.
class SystemHooks : public HookCalls {
public:
    std::vector<std::string> calls;
    std::set<std::uintptr_t> keyboard, mouse;
    bool refuses = false;

    std::uintptr_t Set(HookKind kind) override {
        const char* name = kind == HookKind::Keyboard ? "keyboard" : "mouse";
        if (refuses) {
            calls.push_back(std::string("refused ") + name);
            return 0;
        }
        ++last_;
        calls.push_back("set " + std::string(name) + " " + std::to_string(last_));
        (kind == HookKind::Keyboard ? keyboard : mouse).insert(last_);
        return last_;
    }
    void Remove(std::uintptr_t hook) override {
        calls.push_back("remove " + std::to_string(hook));
        Unhook(hook);
    }
    void Unhook(std::uintptr_t hook) {
        keyboard.erase(hook);
        mouse.erase(hook);
    }

private:
    std::uintptr_t last_ = 0;
};

TEST(HookKeeper, RenewsEachHookNewBeforeOldRetriesARefusedOneAndComesBackAfterAnUnhook) {
    SystemHooks system;
    {
        HookKeeper keeper(system);
        keeper.Renew();
        system.refuses = true;
        keeper.Hold();
        system.refuses = false;
        keeper.Renew();
        system.Unhook(1);
        keeper.Renew();
        EXPECT_THAT(system.keyboard, ElementsAre(3));
        EXPECT_THAT(system.mouse, ElementsAre(4));
        system.refuses = true;
        keeper.Renew();
        keeper.Release();
        keeper.Renew();
        system.refuses = false;
        keeper.Hold();
    }
    EXPECT_THAT(system.calls,
                ElementsAre("refused keyboard", "refused mouse", "set keyboard 1", "set mouse 2",
                            "set keyboard 3", "remove 1", "set mouse 4", "remove 2",
                            "refused keyboard", "refused mouse", "remove 3", "remove 4",
                            "set keyboard 5", "set mouse 6", "remove 5", "remove 6"));
}

}  // namespace
}  // namespace vorlek
