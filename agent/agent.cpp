#include "agent/agent.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <utility>

namespace vorlek {

namespace {

// Mode numbers x of kModeBase + x that do more than store x.
constexpr std::uint32_t kModePause = static_cast<std::uint32_t>(ModeCommand::Pause);
constexpr std::uint32_t kModeBlock = static_cast<std::uint32_t>(ModeCommand::Block);
constexpr std::uint32_t kModeResume = static_cast<std::uint32_t>(ModeCommand::Resume);
constexpr std::uint32_t kModeLogOff = static_cast<std::uint32_t>(ModeCommand::LogOff);
constexpr std::uint32_t kModeReboot = static_cast<std::uint32_t>(ModeCommand::Reboot);

constexpr std::uint32_t kSecondMs = 1000;
// The timer may fire a little before the clock, which advances in steps of 10 to 16 ms, shows
// the full second; such a tick still counts its second.
constexpr std::uint32_t kTimerSlackMs = 100;

}  // namespace

Agent::Agent(AgentPorts ports, HostList servers, std::string picturePath, OrderRule orders)
    : ports_(ports),
      servers_(std::move(servers)),
      orders_(orders),
      picturePath_(std::move(picturePath)),
      secondStartMs_(ports_.timer.NowMs()) {}

bool Agent::ObeysSender(Ipv4 sender) const {
    return orders_.source != OrderSource::Servers ||
           IsListedConsole(sender, servers_, orders_.ownAddress);
}

bool Agent::Start(StartMode start) {
    if (orders_.source == OrderSource::Servers &&
        std::ranges::none_of(servers_.Addresses(),
                             [this](Ipv4 server) { return ObeysSender(server); })) {
        ports_.boxes.Show(kNoConsoleListedText, kAgentFatalCaption, BoxIcon::Stop);
        return false;
    }
    SayHello();
    if (start == StartMode::Blocked) {
        if (!OpenDevice()) {
            return false;
        }
        ExecuteCommand(ModeWord(StationState::BLOCKED));
        return true;
    }
    ExecuteCommand(ModeWord(StationState::AVAILABLE));
    return OpenDevice();
}

void Agent::SayHello() {
    const NoncedHello noncedHello = BuildHello(orders_.gate ? orders_.gate->nonce() : kNoNonce);
    // Without the gate the Hello is the single byte every console knows.
    const auto hello = std::span(noncedHello).first(orders_.gate ? noncedHello.size() : 1);
    for (const Ipv4 server : servers_.Addresses()) {
        ports_.network.SendTo(StationPeer(server), hello);
    }
    if (servers_.Empty()) {
        ports_.network.SendTo(StationPeer(kBroadcastAddress), hello);
    }
}

void Agent::Rejoin(Ipv4 ownAddress) {
    orders_.ownAddress = ownAddress;
    SayHello();
    ReportStatus();
}

bool Agent::OpenDevice() {
    if (!ports_.device.Open()) {
        ports_.boxes.Show(ports_.device.OpenFailedText(), kAgentFatalCaption, BoxIcon::Stop);
        return false;
    }
    return true;
}

void Agent::HandleDatagram() {
    // While datagrams keep coming the timer's messages do not: the count is kept here too.
    CountDown(TakeSeconds(0));
    // One receive per notification, whatever the socket says is waiting: the socket layer
    // notifies again only after a receive, so skipping it (for an empty datagram, say) would
    // leave the station deaf.
    std::array<std::uint8_t, kAgentReceiveBuffer> buffer{};
    const auto received = ports_.network.ReceiveFrom(buffer);
    if (!received) {
        return;
    }
    const auto datagram = ReadDatagram(std::span(buffer).first(received->size));
    if (!datagram || !ObeysSender(received->from.address)) {
        return;
    }
    switch (static_cast<DatagramType>(datagram->type)) {
        case DatagramType::Command:
            // A command without its full word is dropped like a foreign datagram.
            // Under /orders=signed anything the gate does not admit is dropped the same way.
            if (const auto word =
                    orders_.gate ? orders_.gate->Admit(std::span(buffer).first(received->size),
                                                       orders_.ownAddress, ports_.timer.NowMs())
                                 : datagram->word) {
                ExecuteCommand(*word);
                break;
            }
            return;
        case DatagramType::Status:
            // Five bytes or more is another agent's report, not a request: answering it would
            // start an echo between the two agents that never ends.
            if (datagram->word) {
                return;
            }
            break;
        default:
            return;
    }
    SendReport(received->from);
}

void Agent::ExecuteCommand(StatusWord word) {
    const DecodedCommand command = DecodeCommand(word);
    switch (command.kind) {
        case CommandKind::AddTime:
            AddTime(command.value);
            break;
        case CommandKind::SetWarning:
            warningThreshold_ = command.value;
            break;
        case CommandKind::SetTime:
            SetTime(command.value);
            break;
        case CommandKind::Mode:
            ApplyMode(command.value);
            break;
    }
    RefreshCountdown();
    ReportStatus();
}

void Agent::AddTime(std::uint32_t seconds) {
    if (state_ == StationState::UNLIMITED) {
        return;
    }
    if (state_ == StationState::BLOCKED) {
        HideLockScreen();
    }
    if (state_ != StationState::PAUSED && state_ != StationState::NORMAL) {
        state_ = StationState::NORMAL;
        remaining_ = 0;
    }
    RestartSecond();
    remaining_ += seconds;
}

void Agent::SetTime(std::uint32_t seconds) {
    if (state_ == StationState::BLOCKED) {
        HideLockScreen();
    }
    if (state_ != StationState::PAUSED) {
        state_ = StationState::NORMAL;
    }
    RestartSecond();
    remaining_ = seconds;
}

void Agent::ApplyMode(std::uint32_t x) {
    switch (x) {
        case kModePause:
            if (state_ == StationState::NORMAL) {
                state_ = StationState::PAUSED;
            }
            break;
        case kModeBlock:
            if (state_ != StationState::BLOCKED) {
                ShowLockScreen();
            }
            break;
        case kModeResume:
            if (state_ == StationState::PAUSED) {
                state_ = StationState::NORMAL;
                RestartSecond();
            }
            break;
        case kModeLogOff:
            ports_.session.LogOff();
            break;
        case kModeReboot:
            ports_.session.Reboot();
            break;
        default:
            if (state_ == StationState::BLOCKED) {
                HideLockScreen();
            }
            state_ = static_cast<StationState>(x);
            break;
    }
}

StatusWord Agent::CurrentStatus() const {
    return EncodeReport(state_, remaining_);
}

void Agent::ReportStatus() {
    for (const Ipv4 server : servers_.Addresses()) {
        SendReport(StationPeer(server));
    }
}

void Agent::SendReport(Peer to) {
    if (orders_.gate) {
        ports_.network.SendTo(to, BuildStatusReport(CurrentStatus(), orders_.gate->nonce()));
    } else {
        ports_.network.SendTo(to, BuildStatusReport(CurrentStatus()));
    }
}

void Agent::Tick() {
    CountDown(TakeSeconds(kTimerSlackMs));
}

void Agent::RestartSecond() {
    ports_.timer.Rearm();
    secondStartMs_ = ports_.timer.NowMs();
}

std::uint32_t Agent::TakeSeconds(std::uint32_t slackMs) {
    // The difference is taken modulo 2^32, so the clock's wrap-around does not matter; after a
    // tick that came early the count is up to the slack ahead of the clock.
    const auto elapsed = static_cast<std::int32_t>(ports_.timer.NowMs() - secondStartMs_);
    if (elapsed < 0) {
        return 0;
    }
    const std::uint32_t seconds = (static_cast<std::uint32_t>(elapsed) + slackMs) / kSecondMs;
    secondStartMs_ += seconds * kSecondMs;
    return seconds;
}

void Agent::CountDown(std::uint32_t seconds) {
    if (seconds == 0 || state_ != StationState::NORMAL) {
        return;
    }
    if (remaining_ == 0) {
        // The servers learn of this lock from their next status request.
        ShowLockScreen();
        return;
    }
    const std::uint32_t counted = std::min(seconds, remaining_);
    const bool warn = warningThreshold_ != 0 && remaining_ > warningThreshold_ &&
                      remaining_ - counted <= warningThreshold_;
    remaining_ -= counted;
    RefreshCountdown();
    // A second past the last one is the tick that finds the time out.
    if (seconds > counted) {
        ShowLockScreen();
    } else if (warn) {
        // Last step: the box runs a nested message loop in which ticks and commands go on.
        ShowWarning();
    }
}

void Agent::ShowWarning() {
    char text[128];
    std::snprintf(text, sizeof text, "You have %u:%u:%u of time remained", warningThreshold_ / 3600,
                  warningThreshold_ / 60 % 60, warningThreshold_ % 60);
    ports_.boxes.Show(text, kWarningCaption, BoxIcon::None);
}

void Agent::RefreshCountdown() {
    if (countdown_ != nullptr) {
        countdown_->Show(ViewCountdown(state_, remaining_, warningThreshold_));
    }
}

void Agent::ShowLockScreen() {
    state_ = StationState::BLOCKED;
    // The countdown is topmost: it goes before the lock window comes.
    RefreshCountdown();
    if (!picture_) {
        picture_ = LoadLockPicture(picturePath_.c_str());
        if (picture_) {
            ReverseRows(*picture_);
        }
    }
    if (picture_) {
        lockWindowOpen_ = ports_.lockScreen.Open(*picture_);
    }
    ports_.device.LockInput();
}

void Agent::HideLockScreen() {
    if (lockWindowOpen_) {
        ports_.lockScreen.Close();
        lockWindowOpen_ = false;
    }
    ports_.device.UnlockInput();
}

}  // namespace vorlek
