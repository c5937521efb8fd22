// The customer's countdown (/countdown=on): a small window in the bottom-right corner of the
// primary monitor's work area that shows what the agent's countdown view says. It is topmost,
// layered and transparent to the mouse, and never takes the focus, so the program the customer
// works in keeps every key and click.
#pragma once

#include <windows.h>

#include "agent/countdown_view.h"

namespace vorlek {

class Win32CountdownWindow final : public CountdownDisplay {
public:
    Win32CountdownWindow() = default;
    ~Win32CountdownWindow() override;
    Win32CountdownWindow(const Win32CountdownWindow&) = delete;
    Win32CountdownWindow& operator=(const Win32CountdownWindow&) = delete;

    // Creates the (hidden) window; a view shown before appears now. When the class or the
    // window cannot be made, the agent runs on without a countdown.
    void Create(HINSTANCE instance);
    void Show(const CountdownView& view) override;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();
    void Place();

    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    CountdownView view_;
};

}  // namespace vorlek
