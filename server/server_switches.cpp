#include "server/server_switches.h"

#include "link/switches.h"

namespace vorlek {

namespace {

// The values in the order of the enumeration, the default first.
const SwitchForm kServerSwitches[] = {
    {"hellos", {"any", "listed"}},
    {"orders", {"unsigned", "signed"}},
};

}  // namespace

std::optional<std::string> ReadServerSwitches(std::span<const std::string> words,
                                              ServerSwitches& switches) {
    SwitchReading reading = ReadSwitches(words, kServerSwitches, "VorlekServer.exe");
    if (!reading.fault) {
        switches.hellos = static_cast<HelloSource>(reading.chosen[0]);
        switches.orders = static_cast<ConsoleOrders>(reading.chosen[1]);
    }
    return std::move(reading.fault);
}

}  // namespace vorlek
