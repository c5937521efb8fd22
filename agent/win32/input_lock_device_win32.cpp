#include "agent/win32/input_lock_device_win32.h"

#include <string>

namespace vorlek {

namespace {

constexpr DWORD kLockInputCode = 0x00000100;
constexpr DWORD kUnlockInputCode = 0x00000200;
// The path buffers of the 9x branch: the current directory and the executable's path.
constexpr DWORD kPathBuffer = 256;

// On Windows 9x this name loads the driver file of that name from the current directory, and
// unloads it when the handle is closed; so the agent's folder is the current directory only
// for the duration of the open.
HANDLE OpenVirtualDeviceDriver() {
    char previous[kPathBuffer] = {};
    const DWORD previousLength = GetCurrentDirectoryA(kPathBuffer, previous);
    // A directory longer than the buffer leaves nothing usable to restore.
    const bool canRestore = previousLength > 0 && previousLength < kPathBuffer;

    char executable[kPathBuffer] = {};
    const DWORD length = GetModuleFileNameA(nullptr, executable, kPathBuffer);
    std::string folder(executable, length < kPathBuffer ? length : kPathBuffer - 1);
    if (const auto slash = folder.rfind('\\'); slash != std::string::npos) {
        folder.resize(slash);
        SetCurrentDirectoryA(folder.c_str());
    }
    const HANDLE handle = CreateFileA("\\\\.\\VORLEK.VXD", 0, 0, nullptr, CREATE_NEW,
                                      FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (canRestore) {
        SetCurrentDirectoryA(previous);
    }
    return handle;
}

}  // namespace

PlatformFamily QueryPlatformFamily() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;  // 148
    GetVersionExA(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT ? PlatformFamily::Nt
                                                         : PlatformFamily::Windows9x;
}

bool Win32InputLockDevice::Open() {
    platformFamily_ = QueryPlatformFamily();
    if (platformFamily_ == PlatformFamily::Nt) {
        deviceHandle_ = CreateFileA("\\\\.\\VORLEK", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    } else {
        deviceHandle_ = OpenVirtualDeviceDriver();
    }
    return deviceHandle_ != INVALID_HANDLE_VALUE;
}

void Win32InputLockDevice::LockInput() {
    SendDeviceRequest(kLockInputCode);
}

void Win32InputLockDevice::UnlockInput() {
    SendDeviceRequest(kUnlockInputCode);
}

void Win32InputLockDevice::SendDeviceRequest(DWORD controlCode) {
    DWORD returned = 0;
    DeviceIoControl(deviceHandle_, controlCode, nullptr, 0, nullptr, 0, &returned, nullptr);
}

void Win32InputLockDevice::Close() {
    if (deviceHandle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(deviceHandle_);
        deviceHandle_ = INVALID_HANDLE_VALUE;
    }
}

}  // namespace vorlek
