#include "agent/win32/lock_screen_win32.h"

#include "agent/win32/agent_window.h"

namespace vorlek {

RECT Win32LockScreen::Area() const {
    if (cover_ == LockCover::EveryMonitor) {
        const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
        const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
        return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    }
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

bool Win32LockScreen::Open(const LockPicture& picture) {
    picture_ = &picture;
    // Over the primary screen not topmost (extended style 0); brought to the foreground once.
    const RECT area = Area();
    lockWindow_ = CreateWindowExA(cover_ == LockCover::EveryMonitor ? WS_EX_TOPMOST : 0,
                                  kAgentWindowClass, kAgentWindowTitle, WS_POPUP | WS_VISIBLE,
                                  area.left, area.top, area.right - area.left,
                                  area.bottom - area.top, nullptr, nullptr, instance_, nullptr);
    if (lockWindow_ == nullptr) {
        picture_ = nullptr;
        return false;
    }
    SetForegroundWindow(lockWindow_);
    SetTimer(lockWindow_, kForegroundTimerId, kForegroundPeriodMs, nullptr);
    Paint();
    return true;
}

void Win32LockScreen::Close() {
    if (lockWindow_ != nullptr) {
        KillTimer(lockWindow_, kForegroundTimerId);
        DestroyWindow(lockWindow_);
        lockWindow_ = nullptr;
    }
    picture_ = nullptr;
}

void Win32LockScreen::BringToFront() {
    if (lockWindow_ != nullptr) {
        // SetForegroundWindow does nothing while the system still takes the lock window for
        // the foreground one, even when another program's window was raised above it.
        SetForegroundWindow(lockWindow_);
        SetWindowPos(lockWindow_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
}

void Win32LockScreen::Paint() {
    if (picture_ == nullptr || lockWindow_ == nullptr) {
        return;
    }
    // A positive height makes the rows count from the bottom: the picture's rows were reversed
    // at loading, so the first row stored in the file is at the top of the screen.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture_->width;
    info.bmiHeader.biHeight = picture_->height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    // The class has CS_OWNDC, so this is the window's own context.
    const HDC windowContext = GetDC(lockWindow_);
    const HDC memoryContext = CreateCompatibleDC(windowContext);
    const HBITMAP bitmap = CreateCompatibleBitmap(windowContext, picture_->width, picture_->height);
    SetDIBits(windowContext, bitmap, 0, static_cast<UINT>(picture_->height),
              picture_->pixels.data(), &info, DIB_RGB_COLORS);
    const HGDIOBJ previous = SelectObject(memoryContext, bitmap);
    SetStretchBltMode(windowContext, HALFTONE);
    const RECT area = Area();
    StretchBlt(windowContext, 0, 0, area.right - area.left, area.bottom - area.top, memoryContext,
               0, 0, picture_->width, picture_->height, SRCCOPY);
    SelectObject(memoryContext, previous);
    DeleteDC(memoryContext);
    ReleaseDC(lockWindow_, windowContext);
    DeleteObject(bitmap);
}

}  // namespace vorlek
