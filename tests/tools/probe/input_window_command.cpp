// input-window TITLE MS: a visible window that takes the focus and prints one line for each key
// and mouse event it receives, for MS milliseconds; then "done". It shows whether the user's
// input reaches the windows of the station.
//
// Output lines: "key VK" (WM_KEYDOWN and WM_SYSKEYDOWN, VK in hexadecimal), "button left",
// "button right", "button middle", "wheel", "move X,Y" (client coordinates).
#include <windows.h>
#include <windowsx.h>

#include <cstdio>
#include <string>

#include "tests/tools/probe/probe_commands.h"
#include "tests/tools/probe/probe_output.h"

namespace vorlek::probe {

namespace {

constexpr wchar_t kInputWindowClass[] = L"VorlekProbeInputWindow";
constexpr UINT_PTR kEndTimerId = 1;

LRESULT CALLBACK RecordInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    char line[64];
    switch (message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            std::snprintf(line, sizeof line, "key 0x%02X", static_cast<unsigned>(wParam));
            PrintLine(line);
            return 0;
        case WM_LBUTTONDOWN:
            PrintLine("button left");
            return 0;
        case WM_RBUTTONDOWN:
            PrintLine("button right");
            return 0;
        case WM_MBUTTONDOWN:
            PrintLine("button middle");
            return 0;
        case WM_MOUSEWHEEL:
            PrintLine("wheel");
            return 0;
        case WM_MOUSEMOVE:
            std::snprintf(line, sizeof line, "move %d,%d", GET_X_LPARAM(lParam),
                          GET_Y_LPARAM(lParam));
            PrintLine(line);
            return 0;
        case WM_TIMER:
            if (wParam == kEndTimerId) {
                PostQuitMessage(0);
                return 0;
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int RunInputWindow(Arguments args) {
    const auto duration = args.size() == 2 ? Number(args[1]) : std::nullopt;
    if (!duration) {
        return kUsage;
    }
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = RecordInput;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kInputWindowClass;
    RegisterClassW(&windowClass);
    const HWND window =
        CreateWindowExW(0, kInputWindowClass, args[0].c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                        100, 100, 400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
        PrintLine("no window");
        return kFailed;
    }
    SetForegroundWindow(window);
    SetFocus(window);
    SetTimer(window, kEndTimerId, static_cast<UINT>(*duration), nullptr);
    PrintLine("ready");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DestroyWindow(window);
    PrintLine("done");
    return kOk;
}

}  // namespace vorlek::probe
