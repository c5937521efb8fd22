#include "agent/win32/countdown_window_win32.h"

namespace vorlek {

namespace {

constexpr const char* kCountdownWindowClass = "VorlekCountdownWndClass";
constexpr int kWidth = 176;
constexpr int kHeight = 44;
// Gap between the window and the edges of the work area (the taskbar stays visible).
constexpr int kMargin = 12;
constexpr BYTE kOpacity = 230;
constexpr COLORREF kTextColour = RGB(255, 255, 255);
constexpr COLORREF kBackground = RGB(32, 32, 32);
constexpr COLORREF kWarningBackground = RGB(192, 0, 0);

}  // namespace

Win32CountdownWindow::~Win32CountdownWindow() {
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
    if (font_ != nullptr) {
        DeleteObject(font_);
    }
}

void Win32CountdownWindow::Create(HINSTANCE instance) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kCountdownWindowClass;
    if (RegisterClassA(&windowClass) == 0) {
        return;
    }
    // WS_EX_NOACTIVATE and WS_EX_TRANSPARENT: a click goes to the window below and the focus
    // stays where it is; WS_EX_TOOLWINDOW keeps it off the taskbar and Alt+Tab.
    window_ = CreateWindowExA(
        WS_EX_TOPMOST | WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW,
        kCountdownWindowClass, "", WS_POPUP, 0, 0, kWidth, kHeight, nullptr, nullptr, instance,
        nullptr);
    if (window_ == nullptr) {
        return;
    }
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetLayeredWindowAttributes(window_, 0, kOpacity, LWA_ALPHA);
    font_ =
        CreateFontA(-26, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Tahoma");
    const CountdownView kept = view_;
    view_ = {};
    Show(kept);
}

void Win32CountdownWindow::Show(const CountdownView& view) {
    const bool changed = view != view_;
    view_ = view;
    if (window_ == nullptr || !changed) {
        return;
    }
    if (view_.text.empty()) {
        ShowWindow(window_, SW_HIDE);
        return;
    }
    // The text is also the window's title, so that tools can read what the customer sees.
    SetWindowTextA(window_, view_.text.c_str());
    InvalidateRect(window_, nullptr, TRUE);
    Place();
}

void Win32CountdownWindow::Place() {
    // The work area may change while the window is hidden (a taskbar moved, a new resolution).
    RECT area{};
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
        area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    SetWindowPos(window_, HWND_TOPMOST, area.right - kWidth - kMargin,
                 area.bottom - kHeight - kMargin, kWidth, kHeight, SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void Win32CountdownWindow::Paint() {
    PAINTSTRUCT paint;
    const HDC context = BeginPaint(window_, &paint);
    RECT client{};
    GetClientRect(window_, &client);
    const HBRUSH brush = CreateSolidBrush(view_.warning ? kWarningBackground : kBackground);
    FillRect(context, &client, brush);
    DeleteObject(brush);
    const HGDIOBJ previous = SelectObject(context, font_);
    SetBkMode(context, TRANSPARENT);
    SetTextColor(context, kTextColour);
    DrawTextA(context, view_.text.c_str(), static_cast<int>(view_.text.size()), &client,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(context, previous);
    EndPaint(window_, &paint);
}

LRESULT CALLBACK Win32CountdownWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
    auto* self = reinterpret_cast<Win32CountdownWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
        case WM_PAINT:
            if (self != nullptr) {
                self->Paint();
                return 0;
            }
            break;
        case WM_ERASEBKGND:
            // Paint fills the whole window.
            return 1;
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;
        case WM_NCHITTEST:
            return HTTRANSPARENT;
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace vorlek
