#include "agent/agent_switches.h"

#include "link/switches.h"

namespace vorlek {

namespace {

// The values in the order of the enumerations, the default first.
const SwitchForm kAgentSwitches[] = {
    {"hold", {"device", "hooks"}},
    {"orders", {"any", "servers", "signed"}},
    {"start", {"available", "blocked"}},
    {"countdown", {"off", "on"}},
};

bool IsLoopback(Ipv4 address) {
    // Network byte order: the first octet is the lowest-addressed byte.
    return MakeAddress(127, 0, 0, 0) == (address & MakeAddress(255, 0, 0, 0));
}

}  // namespace

std::optional<std::string> ReadAgentSwitches(std::span<const std::string> words,
                                             AgentSwitches& switches) {
    SwitchReading reading = ReadSwitches(words, kAgentSwitches, "VorlekClient.exe");
    if (!reading.fault) {
        switches.hold = static_cast<InputHold>(reading.chosen[0]);
        switches.orders = static_cast<OrderSource>(reading.chosen[1]);
        switches.start = static_cast<StartMode>(reading.chosen[2]);
        switches.countdown = static_cast<Countdown>(reading.chosen[3]);
    }
    return std::move(reading.fault);
}

bool IsListedConsole(Ipv4 sender, const HostList& servers, Ipv4 ownAddress) {
    return sender != ownAddress && !IsLoopback(sender) && servers.Contains(sender);
}

}  // namespace vorlek
