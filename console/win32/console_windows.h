// The console's windows: the hidden top window that receives the timers and the socket
// notification, the modeless main dialog 101 and the modal dialogs it opens.
#pragma once

#include <windows.h>

#include "console/win32/console_app.h"

namespace vorlek {

// Edits are read with room for this many characters.
inline constexpr int kEditTextLimit = 254;

// Registers "VorlekServerWndClass", creates the hidden top window "Vorlek Server" and the main
// dialog with its menu and accelerators, asks for socket notifications and starts the timers.
// Each failure is shown in a plain box; the sequence stops after a window that was not created.
void CreateConsole(ConsoleApp& app, WNDPROC topWindowProc, HINSTANCE instance);

// Runs until the quit message, offering every message to the accelerators of the main dialog.
void RunMessageLoop(const ConsoleApp& app);

LRESULT CALLBACK TopWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PeriodicCheckProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK TimeoutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ClientWarningProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK EditClientsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AddClientProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace vorlek
