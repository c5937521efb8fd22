// The custom action of VorlekClient.msi that looks for the input-lock device, so that the
// package can choose the agent's /hold= as the setup program does: Windows Installer has no
// search that opens a device.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

namespace {

// The device that the agent opens under /hold=device.
constexpr wchar_t kInputLockDevice[] = L"\\\\.\\VORLEK";
// Set to "1" when the device opens.
constexpr wchar_t kDeviceProperty[] = L"INPUT_LOCK_DEVICE";

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall FindInputLockDevice(MSIHANDLE session) {
    HANDLE device = CreateFileW(kInputLockDevice, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
        MsiSetPropertyW(session, kDeviceProperty, L"1");
    }
    return ERROR_SUCCESS;
}
