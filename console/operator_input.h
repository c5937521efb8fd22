// What the operator types into the console and what it does to the engine: the Death Timer and
// the three timing options (period of the periodic check, answer timeout, client warning).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server/server.h"

namespace vorlek {

// "&Update": a text that gives a time is sent to the selected stations as their new time (0
// blocks them; the PausedFlag bit is dropped); an empty text, one without a time, and one whose
// word would go beyond kCountingLimit (a mode, warning or add-time word, which is where negative
// texts land, or a count the console does not count down) send nothing.
void UpdateDeathTimer(Server& server, std::string_view text);

enum class TimingOption { PeriodicCheck, Timeout, ClientWarning };

// Whether the option's switch in Server::flags is on.
bool IsOptionOn(const Server& server, TimingOption option);

// The text the option's edit opens with: its value as hh:mm:ss, except that the client warning
// shows nothing while it is switched off.
std::string OptionText(const Server& server, TimingOption option);

// The check box: flips the option's switch at once (closing the dialog does not undo it).
void FlipOption(Server& server, TimingOption option);

// "Set": stores the time the text gives, if any. A check period below 1 second is refused, as
// the periodic check divides by it; a client warning above kLongestWarningTime is refused, as
// its command would add time instead. The client warning then sends 0x90000000 + the warning
// time (new or unchanged) to every listed address.
void SetOption(Server& server, TimingOption option, std::string_view text);

}  // namespace vorlek
