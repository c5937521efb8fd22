// VorlekClient.exe: the hidden workstation agent.
#include <windows.h>

#include "agent/win32/client_program.h"

namespace {

// Built during static initialisation, before WinMain and before any window exists. Its
// destructor is registered only once the constructor has returned, and a fatal start-up failure
// ends the process from inside the constructor.
vorlek::ClientProgram program;

LRESULT CALLBACK AgentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return program.AgentWindowProc(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    program.CreateAgentWindow(AgentWindowProc, instance);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) == 1) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
