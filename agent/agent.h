// The workstation agent: the station's clock and mode, the commands it obeys, its once-a-second
// countdown with the user's warning, and the lock it puts on the station. It reaches the world
// only through the interfaces below; the Win32 shell provides the real ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "agent/agent_switches.h"
#include "agent/countdown_view.h"
#include "agent/lock_picture.h"
#include "agent/order_gate.h"
#include "link/host_list.h"
#include "link/message_boxes.h"
#include "link/network.h"
#include "link/protocol.h"

namespace vorlek {

inline constexpr const char* kAgentFatalCaption = "Vorlek client";
inline constexpr const char* kDeviceFailedText = "Failed to open vorlek device\n";
inline constexpr const char* kWarningCaption = "Vorlek warning";
inline constexpr const char* kNoConsoleListedText =
    "/orders=servers: the file \"servers\" lists no console, so the agent would obey nobody.\n"
    "Write the consoles' addresses into \"servers\" in the agent's folder, or start the agent "
    "without /orders=servers.";

// What holds keyboard and mouse while the station is locked: the kernel-mode driver behind the
// input-lock device, or (/hold=hooks) the agent's own hooks.
class InputLockDevice {
public:
    virtual ~InputLockDevice() = default;
    // false when the device cannot be opened; the agent cannot run without it.
    virtual bool Open() = 0;
    // What the user is told when Open fails.
    virtual const char* OpenFailedText() const { return kDeviceFailedText; }
    // Control code 0x100: hold the user's input.
    virtual void LockInput() = 0;
    // Control code 0x200: release it.
    virtual void UnlockInput() = 0;
};

// The full-screen window that shows the lock picture.
class LockScreen {
public:
    virtual ~LockScreen() = default;
    // Creates the window over the whole screen, brings it to the foreground and paints the
    // picture, which stays alive and unchanged while the window exists; false when the window
    // could not be created.
    virtual bool Open(const LockPicture& picture) = 0;
    virtual void Close() = 0;
};

// The user's session on the workstation.
class Session {
public:
    virtual ~Session() = default;
    virtual void LogOff() = 0;
    virtual void Reboot() = 0;
};

// Timer 1 of the agent's window, which drives Tick once a second, and the clock the countdown
// follows: the system makes a timer message only when no posted message waits, so a flood of
// datagrams would otherwise stop the count.
class TickTimer {
public:
    virtual ~TickTimer() = default;
    // Restarts the period, so the next tick comes a full second later.
    virtual void Rearm() = 0;
    // Milliseconds of a monotonic clock that wraps around at 2^32.
    virtual std::uint32_t NowMs() = 0;
};

struct AgentPorts {
    Network& network;
    MessageBoxes& boxes;
    InputLockDevice& device;
    LockScreen& lockScreen;
    Session& session;
    TickTimer& timer;
};

// Received datagrams are taken into a buffer of this size; a longer one is dropped.
inline constexpr std::size_t kAgentReceiveBuffer = 4096;

// Whose orders the agent obeys, and the station's own address, which /orders=servers refuses.
struct OrderRule {
    OrderSource source = OrderSource::Any;
    Ipv4 ownAddress = 0;
    // Under /orders=signed: the gate every Command passes; its nonce rides on Hello and reports.
    OrderGate* gate = nullptr;
};

class Agent {
public:
    // servers: the list read from "servers"; picturePath: "BLOCKED.BMP" beside the executable.
    Agent(AgentPorts ports, HostList servers, std::string picturePath, OrderRule orders = {});

    // /countdown=on: the customer's countdown window, kept up to date from here on.
    void ShowCountdownOn(CountdownDisplay& display) { countdown_ = &display; }

    // Says hello to every server (or once by broadcast when there are none), applies the first
    // mode, AVAILABLE, with its report, then opens the input-lock device. Under /start=blocked
    // the device is opened first and the first mode is BLOCKED: the lock is on before its
    // report. false when the device could not be opened, or when /orders=servers finds no
    // console to obey before anything is sent: the user has been told, and the program must end
    // at once.
    bool Start(StartMode start = StartMode::Available);
    // The endpoint is bound anew, to the station's new address: says hello as at the start and
    // reports the status, which stays as it was.
    void Rejoin(Ipv4 ownAddress);
    // Receives one datagram, without waiting, and acts on it; called once on every read
    // notification of the socket. First it counts the seconds that passed since the last tick,
    // as a tick would, when a second or more has. A Command is obeyed and answered; a type-4
    // datagram shorter than a report is a status request and answered; anything else is dropped.
    // Under /orders=servers a Command or StatusRequest from anyone but a listed console is dropped
    // without an answer.
    void HandleDatagram();
    // Applies one command word, then reports the new status to every listed server.
    void ExecuteCommand(StatusWord word);
    StatusWord CurrentStatus() const;
    void ReportStatus();
    // The once-a-second step: counts down every whole second the clock shows since the last
    // counted one, warns once when the count reaches or steps over the threshold, and locks when
    // the time is out.
    void Tick();

    std::uint32_t remaining() const { return remaining_; }
    StationState state() const { return state_; }
    std::uint32_t warningThreshold() const { return warningThreshold_; }
    const HostList& servers() const { return servers_; }
    // The loaded lock picture, or nullptr before the first successful load.
    const LockPicture* picture() const { return picture_ ? &*picture_ : nullptr; }
    bool lockWindowOpen() const { return lockWindowOpen_; }

private:
    void AddTime(std::uint32_t seconds);
    void SetTime(std::uint32_t seconds);
    void ApplyMode(std::uint32_t x);
    void ShowLockScreen();
    void HideLockScreen();
    void ShowWarning();
    // Starts the second being counted afresh: the timer's period and the clock's.
    void RestartSecond();
    // Whole seconds since the counted second began, taken from the clock.
    std::uint32_t TakeSeconds(std::uint32_t slackMs);
    void CountDown(std::uint32_t seconds);
    void RefreshCountdown();

    bool ObeysSender(Ipv4 sender) const;
    // To every server, or once by broadcast when there are none.
    void SayHello();
    void SendReport(Peer to);
    // false, with the user told, when the device cannot be opened.
    bool OpenDevice();

    AgentPorts ports_;
    HostList servers_;
    OrderRule orders_;
    std::string picturePath_;
    std::uint32_t remaining_ = 0;
    StationState state_ = StationState::AVAILABLE;
    std::uint32_t warningThreshold_ = 0;
    // The clock's reading when the second being counted began.
    std::uint32_t secondStartMs_ = 0;
    std::optional<LockPicture> picture_;
    bool lockWindowOpen_ = false;
    CountdownDisplay* countdown_ = nullptr;
};

}  // namespace vorlek
