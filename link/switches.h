// The command-line switches of both programs: words "/name=value", read without regard to letter
// case, in any order, each switch at most once. Every switch is opt-in: the first of its values
// is the default, under which the program behaves as it does without any switch.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlek {

struct SwitchForm {
    std::string_view name;                 // lower case, without the slash
    std::vector<std::string_view> values;  // lower case; the first is the default
};

struct SwitchReading {
    // The index of the chosen value of each switch, in the order of the forms.
    std::vector<std::size_t> chosen;
    // Set when a word is refused: the text of the stop box, which names the word and gives the
    // program's usage in one line.
    std::optional<std::string> fault;
};

// "Usage: VorlekClient.exe [/hold=device|hooks] [/orders=any|servers]"
std::string SwitchUsage(std::span<const SwitchForm> forms, std::string_view program);

// words: the command line without the program's name. program: the file name in the usage.
SwitchReading ReadSwitches(std::span<const std::string> words, std::span<const SwitchForm> forms,
                           std::string_view program);

}  // namespace vorlek
