// Logging the user off and rebooting the workstation with ExitWindowsEx.
#pragma once

#include "agent/agent.h"
#include "agent/win32/input_lock_device_win32.h"

namespace vorlek {

class Win32Session final : public Session {
public:
    // The input hold knows the platform family once it has been opened.
    explicit Win32Session(const Win32InputHold& hold) : hold_(hold) {}

    void LogOff() override;
    void Reboot() override;

private:
    void EndSession(UINT flags);

    const Win32InputHold& hold_;
};

}  // namespace vorlek
