// The agent's command-line switches, read before its start-up, and the rule by which it chooses
// whose orders it obeys. Without switches the agent has its input held by the input-lock device
// and obeys every sender.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "link/address.h"
#include "link/host_list.h"

namespace vorlek {

// /hold=: who holds keyboard and mouse while the station is locked.
enum class InputHold {
    Device,  // the input-lock device
    Hooks,   // the agent's own low-level hooks; the lock window covers every monitor
};

// /orders=: whose Command and StatusRequest the agent acts on.
enum class OrderSource {
    Any,      // every sender's
    Servers,  // only those of the consoles in "servers"
    Signed,   // Commands only when signed by a key in "roomkeys"; StatusRequests from all
};

// /start=: the station's first mode.
enum class StartMode {
    Available,  // free, as after every start without the switch
    Blocked,    // locked and its input held before the first report, until a console gives time
};

// /countdown=: whether the customer sees the time left in a corner of the screen.
enum class Countdown {
    Off,
    On,
};

struct AgentSwitches {
    InputHold hold = InputHold::Device;
    OrderSource orders = OrderSource::Any;
    StartMode start = StartMode::Available;
    Countdown countdown = Countdown::Off;
};

// Reads the words of the command line (without the program's name) into switches. Returns the
// text of the stop box when a word is not a known switch with a known value, or repeats one.
std::optional<std::string> ReadAgentSwitches(std::span<const std::string> words,
                                             AgentSwitches& switches);

// Under /orders=servers: whether a sender is one of the listed consoles. The station's own
// address and 127.0.0.0/8 never are, even when "servers" names them.
bool IsListedConsole(Ipv4 sender, const HostList& servers, Ipv4 ownAddress);

}  // namespace vorlek
