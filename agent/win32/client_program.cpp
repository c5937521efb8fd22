#include "agent/win32/client_program.h"

#include <cstdio>
#include <string>

#include "agent/win32/agent_window.h"
#include "agent/win32/input_hooks_win32.h"
#include "link/host_list.h"
#include "link/stdio_file.h"
#include "link/win32/command_line_win32.h"

namespace vorlek {

namespace {

// "BLOCKED.BMP" in the folder of the agent's own executable.
std::string PicturePath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length < MAX_PATH ? length : MAX_PATH - 1);
    const auto slash = folder.rfind('\\');
    folder.resize(slash == std::string::npos ? 0 : slash + 1);
    return folder + "BLOCKED.BMP";
}

// A fatal start-up failure ends the process here: no destructor, no Winsock clean-up.
[[noreturn]] void EndAtOnce() {
    ExitProcess(0);
}

AgentSwitches SwitchesOrEnd(MessageBoxes& boxes) {
    AgentSwitches switches;
    if (const auto fault = ReadAgentSwitches(CommandLineWords(), switches)) {
        boxes.Show(*fault, kAgentFatalCaption, BoxIcon::Stop);
        EndAtOnce();
    }
    return switches;
}

std::unique_ptr<Win32InputHold> MakeInputHold(InputHold hold) {
    if (hold == InputHold::Hooks) {
        return std::make_unique<Win32InputHooks>();
    }
    return std::make_unique<Win32InputLockDevice>();
}

}  // namespace

void WindowTickTimer::Rearm() {
    if (window_ != nullptr) {
        SetTimer(window_, kTickTimerId, kTickPeriodMs, nullptr);
    }
}

ClientProgram::ClientProgram()
    : switches_(SwitchesOrEnd(boxes_)),
      hold_(MakeInputHold(switches_.hold)),
      lockScreen_(switches_.hold == InputHold::Hooks ? LockCover::EveryMonitor
                                                     : LockCover::PrimaryScreen),
      session_(*hold_) {
    if (!endpoint_.isReady()) {
        boxes_.Show("Socket init failed", kAgentFatalCaption, BoxIcon::Stop);
        EndAtOnce();
    }
    network_.emplace(sockets_.socket());
    const Ipv4 own = endpoint_.getLocalAddress()->address;
    HostList servers = ReadHostList("servers", own, *network_);
    agent_.emplace(AgentPorts{*network_, boxes_, *hold_, lockScreen_, session_, timer_},
                   std::move(servers), PicturePath(),
                   OrderRule{switches_.orders, own, SignedOrdersOrEnd()});
    if (switches_.countdown == Countdown::On) {
        agent_->ShowCountdownOn(countdown_.emplace());
    }
    // A station that starts locked needs the window class of its lock window: it starts once
    // the agent's window exists.
    if (switches_.start == StartMode::Available) {
        StartOrEnd();
    }
}

OrderGate* ClientProgram::SignedOrdersOrEnd() {
    if (switches_.orders != OrderSource::Signed) {
        return nullptr;
    }
    cng_ = Cng::Load();
    if (!cng_) {
        boxes_.Show(kNoCngText, kAgentFatalCaption, BoxIcon::Stop);
        EndAtOnce();
    }
    std::optional<std::vector<PublicKey>> keys;
    if (const UniqueFile file{std::fopen("roomkeys", "rt")}) {
        keys = ReadRoomKeys(file.get());
    }
    if (!keys) {
        boxes_.Show(kNoRoomKeysText, kAgentFatalCaption, BoxIcon::Stop);
        EndAtOnce();
    }
    Nonce nonce{};
    if (!cng_->Random(nonce)) {
        boxes_.Show("/orders=signed: CNG gave no random nonce.", kAgentFatalCaption, BoxIcon::Stop);
        EndAtOnce();
    }
    verifier_.emplace(*cng_);
    return &gate_.emplace(std::move(*keys), nonce, *verifier_);
}

void ClientProgram::StartOrEnd() {
    if (!agent_->Start(switches_.start)) {
        EndAtOnce();
    }
}

ClientProgram::~ClientProgram() {
    hold_->Close();
    agent_.reset();
    network_.reset();
    endpoint_.Close();
}

void ClientProgram::CreateAgentWindow(WNDPROC windowProc, HINSTANCE instance) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_CROSS);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kAgentWindowClass;
    if (RegisterClassA(&windowClass) == 0) {
        boxes_.Show("ERROR registering window class", kAgentWindowErrorCaption, BoxIcon::Stop);
    }

    lockScreen_.SetInstance(instance);
    window_ = CreateWindowExA(0, kAgentWindowClass, kAgentWindowTitle, WS_OVERLAPPEDWINDOW, 0, 0, 0,
                              0, nullptr, nullptr, instance, nullptr);
    if (window_ == nullptr) {
        char text[64];
        std::snprintf(text, sizeof text, "Error # %lu creating window", GetLastError());
        boxes_.Show(text, kAgentWindowErrorCaption, BoxIcon::Stop);
    }
    timer_.SetWindow(window_);
    if (countdown_) {
        countdown_->Create(instance);
    }
    // Before any datagram can be dispatched, as at a start without the lock.
    if (switches_.start == StartMode::Blocked) {
        StartOrEnd();
    }

    if (WSAAsyncSelect(sockets_.socket(), window_, kSocketMessage, FD_READ) == SOCKET_ERROR) {
        char text[64];
        std::snprintf(text, sizeof text, "WSAAsyncSelect() returned error %d\n", WSAGetLastError());
        boxes_.Show(text, kAgentWindowErrorCaption, BoxIcon::Stop);
    }
    SetTimer(window_, kTickTimerId, kTickPeriodMs, nullptr);
    SetTimer(window_, kAddressTimerId, kAddressPeriodMs, nullptr);
}

void ClientProgram::FollowHostAddress() {
    if (!endpoint_.FollowHostAddress()) {
        return;
    }
    network_->SetSocket(sockets_.socket());
    WSAAsyncSelect(sockets_.socket(), window_, kSocketMessage, FD_READ);
    agent_->Rejoin(endpoint_.getLocalAddress()->address);
}

LRESULT ClientProgram::AgentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            // DefWindowProcA validates the window afterwards.
            lockScreen_.Paint();
            break;
        case WM_ERASEBKGND:
            // The picture covers the whole lock window, and the hidden window is never shown:
            // erasing would only paint the class's brush over the picture that WM_PAINT drew
            // through the window's own context before DefWindowProcA's BeginPaint.
            return 1;
        case WM_TIMER:
            if (wParam == kTickTimerId) {
                agent_->Tick();
                return 0;
            }
            if (wParam == kForegroundTimerId) {
                lockScreen_.BringToFront();
                return 0;
            }
            if (wParam == kAddressTimerId) {
                FollowHostAddress();
                return 0;
            }
            break;
        case kSocketMessage:
            agent_->HandleDatagram();
            return 1;
        case WM_ENDSESSION:
            // The hooks go with the session; the device is left as the system leaves it. An
            // installer's Restart Manager sends ENDSESSION_CLOSEAPP and may leave the program
            // running: the hold stays.
            if (wParam != FALSE && (lParam & ENDSESSION_CLOSEAPP) == 0 &&
                switches_.hold == InputHold::Hooks) {
                hold_->Close();
            }
            break;
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace vorlek
