// Logging the user off and rebooting the workstation with ExitWindowsEx.
#pragma once

#include "agent/agent.h"
#include "agent/win32/input_lock_device_win32.h"

namespace vorlek {

class Win32Session final : public Session {
public:
    // The device knows the platform family once it has been opened.
    explicit Win32Session(const Win32InputLockDevice& device) : device_(device) {}

    void LogOff() override;
    void Reboot() override;

private:
    void EndSession(UINT flags);

    const Win32InputLockDevice& device_;
};

}  // namespace vorlek
