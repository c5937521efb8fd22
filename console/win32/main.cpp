// VorlekServer.exe: the operator console.
#include <windows.h>

#include "console/win32/console_app.h"
#include "console/win32/console_windows.h"

namespace vorlek {

namespace {

// Built during static initialisation, before WinMain and before any window exists.
ConsoleApp theConsole;

}  // namespace

ConsoleApp& TheConsole() {
    return theConsole;
}

}  // namespace vorlek

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    vorlek::CreateConsole(vorlek::TheConsole(), vorlek::TopWindowProc, instance);
    vorlek::RunMessageLoop(vorlek::TheConsole());
    return 0;
}
