#include "agent/win32/lock_screen_win32.h"

#include "agent/win32/agent_window.h"

namespace vorlek {

bool Win32LockScreen::Open(const LockPicture& picture) {
    picture_ = &picture;
    // Not topmost (extended style 0); brought to the foreground once.
    lockWindow_ = CreateWindowExA(0, kAgentWindowClass, kAgentWindowTitle, WS_POPUP | WS_VISIBLE, 0,
                                  0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                  nullptr, nullptr, instance_, nullptr);
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
    StretchBlt(windowContext, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
               memoryContext, 0, 0, picture_->width, picture_->height, SRCCOPY);
    SelectObject(memoryContext, previous);
    DeleteDC(memoryContext);
    ReleaseDC(lockWindow_, windowContext);
    DeleteObject(bitmap);
}

}  // namespace vorlek
