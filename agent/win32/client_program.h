// VorlekClient's one global object: the endpoint, the world of the agent core and the core
// itself, built before WinMain and torn down at normal process exit.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "agent/agent.h"
#include "agent/agent_switches.h"
#include "agent/win32/countdown_window_win32.h"
#include "agent/win32/input_lock_device_win32.h"
#include "agent/win32/lock_screen_win32.h"
#include "agent/win32/session_win32.h"
#include "link/udp_endpoint.h"
#include "link/win32/message_boxes_win32.h"
#include "link/win32/order_crypto_win32.h"
#include "link/win32/winsock_layer.h"
#include "link/win32/winsock_network.h"

namespace vorlek {

// Timer 1 of the hidden window; nothing to re-arm before the window exists. The clock is
// GetTickCount, which every Windows has.
class WindowTickTimer final : public TickTimer {
public:
    void SetWindow(HWND window) { window_ = window; }
    void Rearm() override;
    std::uint32_t NowMs() override { return GetTickCount(); }

private:
    HWND window_ = nullptr;
};

class ClientProgram {
public:
    // Start-up. Reads the switches of the command line first. When a switch is refused, or the
    // endpoint or the input hold is not usable, tells the user and ends the process at once with
    // exit code 0, without any clean-up.
    ClientProgram();
    // Shutdown: closes the device (no unlock request) or ends the hooks, frees the lists and the
    // picture, closes the endpoint. The lock window is left to the system.
    ~ClientProgram();
    ClientProgram(const ClientProgram&) = delete;
    ClientProgram& operator=(const ClientProgram&) = delete;

    // Registers the class, creates the hidden window, starts a station that starts locked, asks
    // for socket notifications and arms the tick and the address check. Each failure is shown, and
    // set-up goes on.
    void CreateAgentWindow(WNDPROC windowProc, HINSTANCE instance);
    LRESULT AgentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    // Starts the agent; a refused start ends the process at once.
    void StartOrEnd();
    // Timer 3: a new first address of the host gets a new socket, and the consoles a new hello.
    void FollowHostAddress();
    // Under /orders=signed: CNG, the keys of "roomkeys" and this run's nonce, or the user told
    // why not and the process ended at once.
    OrderGate* SignedOrdersOrEnd();

    Win32MessageBoxes boxes_;
    // Read before the endpoint is built.
    AgentSwitches switches_;
    WinsockLayer sockets_;
    UdpEndpoint endpoint_{sockets_, boxes_};
    std::optional<WinsockNetwork> network_;
    // The input-lock device, or the agent's own hooks under /hold=hooks.
    std::unique_ptr<Win32InputHold> hold_;
    Win32LockScreen lockScreen_;
    Win32Session session_;
    WindowTickTimer timer_;
    // Under /countdown=on only.
    std::optional<Win32CountdownWindow> countdown_;
    std::unique_ptr<Cng> cng_;
    std::optional<CngVerifier> verifier_;
    std::optional<OrderGate> gate_;
    std::optional<Agent> agent_;
    HWND window_ = nullptr;
};

}  // namespace vorlek
