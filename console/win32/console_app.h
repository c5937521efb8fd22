// VorlekServer's one global object: the endpoint, the engine and the handles of the console's
// windows. It is built before WinMain; a fatal start-up failure ends the process from inside the
// constructor, so no clean-up runs for it.
#pragma once

#include <windows.h>

#include <optional>

#include "console/win32/engine_ports.h"
#include "console/win32/journal_writer.h"
#include "console/win32/name_refresher.h"
#include "console/win32/order_signing_win32.h"
#include "console/win32/send_queue.h"
#include "link/udp_endpoint.h"
#include "link/win32/message_boxes_win32.h"
#include "link/win32/winsock_layer.h"
#include "link/win32/winsock_network.h"
#include "server/server.h"

namespace vorlek {

// The message the name refresher posts to the top window when refreshed names wait (Winsock's
// is kSocketMessage, the one after it).
inline constexpr UINT kNamesMessage = kSocketMessage + 1;

class ConsoleApp {
public:
    // Reads the switches of the command line (a refused one: its box and exit code 0), under
    // /orders=signed the key (missing or unreadable: its box and exit code 0), opens the
    // endpoint ("Network error" and exit code 0 when it is not ready), opens the journal (a folder
    // that cannot be written: its box and exit code 0), reads "clients" and, when that gives no
    // address, discovers the stations by broadcast.
    ConsoleApp();
    ~ConsoleApp();
    ConsoleApp(const ConsoleApp&) = delete;
    ConsoleApp& operator=(const ConsoleApp&) = delete;

    Server& server() { return *server_; }
    MessageBoxes& boxes() { return boxes_; }
    SOCKET socket() const { return sockets_.socket(); }

    HWND mainDialog() const { return mainDialog_; }
    HACCEL accelerators() const { return accelerators_; }
    HINSTANCE instance() const { return instance_; }

    // Kept by the start-up sequence as it creates or loads them.
    void setInstance(HINSTANCE instance) { instance_ = instance; }
    void setTopWindow(HWND window);
    void setMainDialog(HWND dialog);
    void setAccelerators(HACCEL accelerators) { accelerators_ = accelerators; }
    void setMenu(HMENU menu) { menu_ = menu; }
    HMENU menu() const { return menu_; }

    // Hands the names looked up again since the last call to the engine's name cache.
    void TakeRefreshedNames();

    // Exit: destroys the top window (and the main dialog it owns), which ends the message loop,
    // and closes the endpoint. A second call does nothing.
    void Shutdown();

private:
    Win32MessageBoxes boxes_;
    // Read before the endpoint is built.
    ServerSwitches switches_;
    std::unique_ptr<ConsoleSigning> signing_;
    WinsockLayer sockets_;
    UdpEndpoint endpoint_;
    WinsockNetwork network_;
    QueuedSends sends_{network_};
    NameRefresher refresher_;
    NameCache rowNames_{refresher_};
    StationListBox rows_;
    MainDialogWindow window_;
    CalendarClock clock_;
    std::optional<JournalWriter> journal_;
    std::optional<Server> server_;

    HWND topWindow_ = nullptr;
    HWND mainDialog_ = nullptr;
    HACCEL accelerators_ = nullptr;
    HMENU menu_ = nullptr;
    HINSTANCE instance_ = nullptr;
};

// The global object.
ConsoleApp& TheConsole();

}  // namespace vorlek
