#include "link/win32/command_line_win32.h"

#include <cstdlib>

namespace vorlek {

std::vector<std::string> CommandLineWords() {
    std::vector<std::string> words;
    for (int i = 1; i < __argc; ++i) {
        words.emplace_back(__argv[i]);
    }
    return words;
}

}  // namespace vorlek
