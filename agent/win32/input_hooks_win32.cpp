#include "agent/win32/input_hooks_win32.h"

namespace vorlek {

namespace {

// Thread messages to the hook thread.
constexpr UINT kHoldInput = WM_APP + 1;
constexpr UINT kReleaseInput = WM_APP + 2;
// How long the agent waits for the hook thread to start or to answer a request.
constexpr DWORD kAnswerTimeoutMs = 5000;

// Set only while the station is locked, so every event it is given is kept from every window.
LRESULT CALLBACK SwallowInput(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct Hooks {
    HHOOK keyboard = nullptr;
    HHOOK mouse = nullptr;

    void Set() {
        const HINSTANCE module = GetModuleHandleA(nullptr);
        if (keyboard == nullptr) {
            keyboard = SetWindowsHookExA(WH_KEYBOARD_LL, SwallowInput, module, 0);
        }
        if (mouse == nullptr) {
            mouse = SetWindowsHookExA(WH_MOUSE_LL, SwallowInput, module, 0);
        }
    }
    void Remove() {
        if (keyboard != nullptr) {
            UnhookWindowsHookEx(keyboard);
            keyboard = nullptr;
        }
        if (mouse != nullptr) {
            UnhookWindowsHookEx(mouse);
            mouse = nullptr;
        }
    }
};

DWORD WINAPI ServeHooks(LPVOID answered) {
    MSG message;
    // The first call of a message function gives the thread its queue; requests can come now.
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(answered);
    Hooks hooks;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == kHoldInput) {
            hooks.Set();
        } else if (message.message == kReleaseInput) {
            hooks.Remove();
        }
        SetEvent(answered);
    }
    hooks.Remove();
    return 0;
}

}  // namespace

Win32InputHooks::~Win32InputHooks() {
    Close();
}

bool Win32InputHooks::Open() {
    platformFamily_ = QueryPlatformFamily();
    if (platformFamily_ != PlatformFamily::Nt) {
        return false;
    }
    answered_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (answered_ == nullptr) {
        return false;
    }
    thread_ = CreateThread(nullptr, 0, ServeHooks, answered_, 0, &threadId_);
    return thread_ != nullptr && WaitForSingleObject(answered_, kAnswerTimeoutMs) == WAIT_OBJECT_0;
}

const char* Win32InputHooks::OpenFailedText() const {
    return "Failed to start the input hooks of /hold=hooks\n";
}

void Win32InputHooks::LockInput() {
    Ask(kHoldInput);
}

void Win32InputHooks::UnlockInput() {
    Ask(kReleaseInput);
}

void Win32InputHooks::Ask(UINT request) {
    if (thread_ != nullptr && PostThreadMessageA(threadId_, request, 0, 0)) {
        WaitForSingleObject(answered_, kAnswerTimeoutMs);
    }
}

void Win32InputHooks::Close() {
    if (thread_ != nullptr) {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_, kAnswerTimeoutMs);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    if (answered_ != nullptr) {
        CloseHandle(answered_);
        answered_ = nullptr;
    }
}

}  // namespace vorlek
