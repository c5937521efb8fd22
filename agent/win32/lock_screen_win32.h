// The full-screen lock window: a WS_POPUP window of the agent's own class that shows the lock
// picture stretched over the whole screen. Under /hold=hooks it is topmost and covers the whole
// virtual screen, every monitor, instead of the primary one.
#pragma once

#include <windows.h>

#include "agent/agent.h"

namespace vorlek {

// What the lock window covers.
enum class LockCover {
    PrimaryScreen,  // not topmost
    EveryMonitor,   // topmost
};

class Win32LockScreen final : public LockScreen {
public:
    explicit Win32LockScreen(LockCover cover) : cover_(cover) {}

    // The instance that WinMain received; the lock window is created with it.
    void SetInstance(HINSTANCE instance) { instance_ = instance; }

    bool Open(const LockPicture& picture) override;
    void Close() override;
    // Draws the picture over the whole lock window; nothing while there is none.
    void Paint();
    // Timer 2 of the lock window: puts the lock window back in front of any other window.
    void BringToFront();

private:
    // The covered area in screen coordinates.
    RECT Area() const;

    LockCover cover_;
    HINSTANCE instance_ = nullptr;
    HWND lockWindow_ = nullptr;
    const LockPicture* picture_ = nullptr;
};

}  // namespace vorlek
