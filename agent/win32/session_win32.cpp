#include "agent/win32/session_win32.h"

#include <windows.h>

namespace vorlek {

namespace {

// The NT family lets a process end the session only with this privilege enabled. Failures are
// not looked at: ExitWindowsEx follows in any case and simply fails without it.
void EnableShutdownPrivilege() {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        CloseHandle(token);
    }
}

}  // namespace

void Win32Session::LogOff() {
    EndSession(EWX_LOGOFF | EWX_FORCE);
}

void Win32Session::Reboot() {
    EndSession(EWX_REBOOT | EWX_FORCE);
}

void Win32Session::EndSession(UINT flags) {
    if (hold_.platformFamily() == PlatformFamily::Nt) {
        EnableShutdownPrivilege();
    }
    ExitWindowsEx(flags, 0);
}

}  // namespace vorlek
