// Fakes of the workstation's devices for the agent's fuzz target. They record what the agent
// does and check on every call that it keeps to the contracts: one lock window at a time, and
// a picture buffer of exactly width x height x 4 bytes.
#pragma once

#include <cstdint>

#include "agent/agent.h"
#include "fuzz/check.h"

namespace vorlek::fuzz {

class FakeDevice : public InputLockDevice {
public:
    bool Open() override {
        ++opens;
        return opensOk;
    }
    void LockInput() override {
        ++locks;
        held = true;
    }
    void UnlockInput() override {
        ++unlocks;
        held = false;
    }

    bool opensOk = true;
    int opens = 0;
    int locks = 0;
    int unlocks = 0;
    bool held = false;
};

class FakeLockScreen : public LockScreen {
public:
    bool Open(const LockPicture& picture) override {
        FUZZ_CHECK(!open);
        FUZZ_CHECK(picture.width > 0 && picture.height > 0);
        FUZZ_CHECK(picture.pixels.size() == static_cast<std::size_t>(picture.width) *
                                                static_cast<std::size_t>(picture.height) * 4);
        ++opens;
        open = createsWindow;
        return createsWindow;
    }
    void Close() override {
        FUZZ_CHECK(open);
        ++closes;
        open = false;
    }

    bool createsWindow = true;
    bool open = false;
    int opens = 0;
    int closes = 0;
};

class FakeSession : public Session {
public:
    void LogOff() override { ++logoffs; }
    void Reboot() override { ++reboots; }
    int logoffs = 0;
    int reboots = 0;
};

class FakeTimer : public TickTimer {
public:
    void Rearm() override { ++rearms; }
    int rearms = 0;
};

}  // namespace vorlek::fuzz
