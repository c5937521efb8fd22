// The words of the program's command line, as the C runtime splits them before static
// initialisation: both programs read their switches before their global object starts up.
#pragma once

#include <string>
#include <vector>

namespace vorlek {

// Every word after the program's name.
std::vector<std::string> CommandLineWords();

}  // namespace vorlek
