#include <winsock2.h>

#include <array>
#include <cstdio>
#include <string>

#include "console/resource.h"
#include "console/win32/console_windows.h"

namespace vorlek {

namespace {

constexpr const char* kWindowClass = "VorlekServerWndClass";
constexpr const char* kTopWindowTitle = "Vorlek Server";

// Timer 1 drives the one-second work of the engine, timer 2 puts the saved selection back.
constexpr UINT_PTR kSecondTimer = 1;
constexpr UINT kSecondTimerPeriod = 1000;
constexpr UINT_PTR kReselectTimer = 2;
constexpr UINT kReselectTimerPeriod = 50;

// A start-up failure: a plain box without owner or caption.
void ShowFailure(ConsoleApp& app, const char* format, int code) {
    std::array<char, 256> text{};
    std::snprintf(text.data(), text.size(), format, code);
    app.boxes().Show(text.data(), std::nullopt, BoxIcon::None);
}

}  // namespace

void CreateConsole(ConsoleApp& app, WNDPROC topWindowProc, HINSTANCE instance) {
    app.setInstance(instance);

    WNDCLASSA windowClass{};
    windowClass.style = CS_BYTEALIGNCLIENT;
    windowClass.lpfnWndProc = topWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursor(nullptr, IDC_CROSS);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassA(&windowClass) == 0) {
        app.boxes().Show("ERROR registering window class", std::nullopt, BoxIcon::None);
    }

    const HWND topWindow = CreateWindowExA(0, kWindowClass, kTopWindowTitle, WS_OVERLAPPEDWINDOW, 0,
                                           0, 0, 0, nullptr, nullptr, instance, nullptr);
    app.setTopWindow(topWindow);
    if (topWindow == nullptr) {
        ShowFailure(app, "Error # %d creating window", static_cast<int>(GetLastError()));
        return;
    }

    const HWND mainDialog =
        CreateDialogA(instance, MAKEINTRESOURCEA(IDD_MAIN), topWindow, MainDialogProc);
    app.setMainDialog(mainDialog);
    app.setAccelerators(LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS)));
    app.setMenu(LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAIN_MENU)));
    if (mainDialog == nullptr) {
        ShowFailure(app, "Error # %d creating dialog", static_cast<int>(GetLastError()));
        return;
    }
    SetMenu(mainDialog, app.menu());
    ShowWindow(mainDialog, SW_SHOWNORMAL);

    if (WSAAsyncSelect(app.socket(), topWindow, kSocketMessage, FD_READ) == SOCKET_ERROR) {
        ShowFailure(app, "WSAAsyncSelect() returned error %d\n", WSAGetLastError());
    }
    SetTimer(topWindow, kSecondTimer, kSecondTimerPeriod, nullptr);
    SetTimer(topWindow, kReselectTimer, kReselectTimerPeriod, nullptr);
}

void RunMessageLoop(const ConsoleApp& app) {
    // No IsDialogMessage: the accelerators stand in for the dialog's keyboard navigation.
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) == 1) {
        if (TranslateAcceleratorA(app.mainDialog(), app.accelerators(), &message) == 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

LRESULT CALLBACK TopWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ConsoleApp& app = TheConsole();
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_TIMER:
            if (wParam == kSecondTimer) {
                app.server().OnTimerTick();
            } else if (wParam == kReselectTimer) {
                app.server().Reselect();
            }
            return 0;
        case kSocketMessage:
            app.server().HandleDatagram();
            return 1;
        case kNamesMessage:
            app.TakeRefreshedNames();
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace vorlek
