// The input-lock driver reached through its device: "\\.\VORLEK" on the NT family, the virtual
// device driver "\\.\VORLEK.VXD" beside the agent on Windows 9x.
#pragma once

#include <windows.h>

#include <cstdint>

#include "agent/agent.h"

namespace vorlek {

// Which family of Windows runs the agent: it decides how the device is opened and whether the
// shutdown privilege must be enabled before logging off or rebooting.
enum class PlatformFamily : std::uint32_t {
    Nt = 1,
    Windows9x = 2,
};

// GetVersionExA's platform identifier: NT or not.
PlatformFamily QueryPlatformFamily();

// What holds the station's input on Windows: the device, or the agent's own hooks. Each records
// the platform family when it is opened.
class Win32InputHold : public InputLockDevice {
public:
    // The end of the hold's use, at process exit.
    virtual void Close() = 0;

    PlatformFamily platformFamily() const { return platformFamily_; }

protected:
    PlatformFamily platformFamily_ = PlatformFamily::Nt;
};

class Win32InputLockDevice final : public Win32InputHold {
public:
    Win32InputLockDevice() = default;
    Win32InputLockDevice(const Win32InputLockDevice&) = delete;
    Win32InputLockDevice& operator=(const Win32InputLockDevice&) = delete;

    // Records the platform family, then opens the device.
    bool Open() override;
    void LockInput() override;
    void UnlockInput() override;
    // Closes the handle without an unlock request, even while the station is locked.
    void Close() override;

private:
    void SendDeviceRequest(DWORD controlCode);

    HANDLE deviceHandle_ = INVALID_HANDLE_VALUE;
};

}  // namespace vorlek
