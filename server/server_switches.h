// The console's command-line switches, read before its start-up. Without them a Hello from any
// address registers a station, every notice has a box of its own, nothing is journaled and
// Commands go unsigned.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace vorlek {

// /hellos=: whose Hello registers a station.
enum class HelloSource {
    Any,     // every sender's
    Listed,  // only that of an address already in the console's address array
};

// /notices=: how the OFF, ON and BLOCKED notices of one tick are shown.
enum class NoticeMode {
    Each,     // a box for every station
    Summary,  // one box for all the stations of one kind
};

// /orders=: whether every Command to a station carries a signature made with "room.key".
enum class ConsoleOrders {
    Unsigned,
    Signed,
};

struct ServerSwitches {
    HelloSource hellos = HelloSource::Any;
    NoticeMode notices = NoticeMode::Each;
    ConsoleOrders orders = ConsoleOrders::Unsigned;
    // /journal=FOLDER: where the journal of commands and state changes is written, as given.
    std::optional<std::string> journal;
};

// Reads the words of the command line (without the program's name). Returns the text of the
// stop box when a word is not a known switch with a known value, or repeats one.
std::optional<std::string> ReadServerSwitches(std::span<const std::string> words,
                                              ServerSwitches& switches);

}  // namespace vorlek
