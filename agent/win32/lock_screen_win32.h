// The full-screen lock window: a WS_POPUP window of the agent's own class that shows the lock
// picture stretched over the whole screen.
#pragma once

#include <windows.h>

#include "agent/agent.h"

namespace vorlek {

class Win32LockScreen final : public LockScreen {
public:
    // The instance that WinMain received; the lock window is created with it.
    void SetInstance(HINSTANCE instance) { instance_ = instance; }

    bool Open(const LockPicture& picture) override;
    void Close() override;
    // Draws the picture over the whole lock window; nothing while there is none.
    void Paint();
    // Timer 2 of the lock window: puts the lock window back in front of any other window.
    void BringToFront();

private:
    HINSTANCE instance_ = nullptr;
    HWND lockWindow_ = nullptr;
    const LockPicture* picture_ = nullptr;
};

}  // namespace vorlek
