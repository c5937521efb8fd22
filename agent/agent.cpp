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

}  // namespace

Agent::Agent(AgentPorts ports, HostList servers, std::string picturePath, OrderRule orders)
    : ports_(ports),
      servers_(std::move(servers)),
      orders_(orders),
      picturePath_(std::move(picturePath)) {}

bool Agent::ObeysSender(Ipv4 sender) const {
    return orders_.source == OrderSource::Any ||
           IsListedConsole(sender, servers_, orders_.ownAddress);
}

bool Agent::Start() {
    if (orders_.source == OrderSource::Servers &&
        std::ranges::none_of(servers_.Addresses(),
                             [this](Ipv4 server) { return ObeysSender(server); })) {
        ports_.boxes.Show(kNoConsoleListedText, kAgentFatalCaption, BoxIcon::Stop);
        return false;
    }
    const auto hello = BuildHello();
    for (const Ipv4 server : servers_.Addresses()) {
        ports_.network.SendTo(StationPeer(server), hello);
    }
    if (servers_.Empty()) {
        ports_.network.SendTo(StationPeer(kBroadcastAddress), hello);
    }
    ExecuteCommand(ModeWord(StationState::AVAILABLE));
    if (!ports_.device.Open()) {
        ports_.boxes.Show(ports_.device.OpenFailedText(), kAgentFatalCaption, BoxIcon::Stop);
        return false;
    }
    return true;
}

void Agent::HandleDatagram() {
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
            if (!datagram->word) {
                return;
            }
            ExecuteCommand(*datagram->word);
            break;
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
    ports_.network.SendTo(received->from, BuildStatusReport(CurrentStatus()));
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
    ports_.timer.Rearm();
    remaining_ += seconds;
}

void Agent::SetTime(std::uint32_t seconds) {
    if (state_ == StationState::BLOCKED) {
        HideLockScreen();
    }
    if (state_ != StationState::PAUSED) {
        state_ = StationState::NORMAL;
    }
    ports_.timer.Rearm();
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
                ports_.timer.Rearm();
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
    const auto report = BuildStatusReport(CurrentStatus());
    for (const Ipv4 server : servers_.Addresses()) {
        ports_.network.SendTo(StationPeer(server), report);
    }
}

void Agent::Tick() {
    if (state_ != StationState::NORMAL) {
        return;
    }
    if (remaining_ == 0) {
        // The servers learn of this lock from their next status request.
        ShowLockScreen();
        return;
    }
    --remaining_;
    if (warningThreshold_ != 0 && remaining_ == warningThreshold_) {
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

void Agent::ShowLockScreen() {
    state_ = StationState::BLOCKED;
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
