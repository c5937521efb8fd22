// VorlekProbe: a test-only console program that the room tests run in the prefix and host of
// the program under test, to drive its station link and its windows from inside Wine.
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/tools/probe/probe_commands.h"
#include "tests/tools/probe/probe_output.h"

namespace {

using vorlek::probe::Arguments;

struct Subcommand {
    std::wstring_view name;
    int (*run)(Arguments);
    const char* usage;
};

constexpr Subcommand kSubcommands[] = {
    {L"endpoint", vorlek::probe::RunEndpoint,
     "endpoint [hello ADDR | status-request ADDR | broadcast-status-request | send ADDR HEX |"
     " broadcast HEX | receive MS | receive-into SIZE MS | look-up ADDR | look-up-name NAME | hold "
     "MS]..."},
    {L"rows", vorlek::probe::RunRows, "rows TITLE LIST_ID"},
    {L"select", vorlek::probe::RunSelect, "select TITLE LIST_ID [INDEX...]"},
    {L"click", vorlek::probe::RunClick, "click TITLE CONTROL_ID"},
    {L"command", vorlek::probe::RunCommand, "command TITLE ID"},
    {L"end-session", vorlek::probe::RunEndSession, "end-session TITLE FLAGS"},
    {L"set-text", vorlek::probe::RunSetText, "set-text TITLE CONTROL_ID TEXT"},
    {L"get-text", vorlek::probe::RunGetText, "get-text TITLE [CONTROL_ID]"},
    {L"state", vorlek::probe::RunState, "state TITLE CONTROL_ID"},
    {L"answer-times", vorlek::probe::RunAnswerTimes,
     "answer-times TITLE CONTROL_ID INTERVAL_MS DURATION_MS"},
    {L"focus", vorlek::probe::RunFocus, "focus TITLE CONTROL_ID"},
    {L"boxes", vorlek::probe::RunBoxes, "boxes"},
    {L"close-box", vorlek::probe::RunCloseBox, "close-box CAPTION [TIMEOUT_MS]"},
    {L"wait-box", vorlek::probe::RunWaitBox, "wait-box CAPTION TIMEOUT_MS"},
    {L"windows", vorlek::probe::RunWindows, "windows"},
    {L"expose", vorlek::probe::RunExpose, "expose TITLE"},
    {L"hold-file", vorlek::probe::RunHoldFile, "hold-file PATH MS"},
    {L"input-window", vorlek::probe::RunInputWindow, "input-window TITLE MS"},
};

int Usage() {
    for (const auto& subcommand : kSubcommands) {
        vorlek::probe::PrintLine(std::string("usage: VorlekProbe [--wait MS] ") + subcommand.usage);
    }
    return vorlek::probe::kUsage;
}

std::vector<std::wstring> CommandLineArguments() {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    if (words != nullptr) {
        arguments.assign(words, words + count);
        LocalFree(words);
    }
    return arguments;
}

}  // namespace

int main() {
    vorlek::probe::InitOutput();
    const std::vector<std::wstring> arguments = CommandLineArguments();
    Arguments rest = Arguments(arguments).subspan(arguments.empty() ? 0 : 1);
    // "--wait MS" before the subcommand: how long windows and boxes may take to appear.
    if (rest.size() >= 2 && rest[0] == L"--wait") {
        const auto wait = vorlek::probe::Number(rest[1]);
        if (!wait) {
            return Usage();
        }
        vorlek::probe::SetFindTimeout(*wait);
        rest = rest.subspan(2);
    }
    if (rest.empty()) {
        return Usage();
    }
    for (const auto& subcommand : kSubcommands) {
        if (rest[0] == subcommand.name) {
            return subcommand.run(rest.subspan(1));
        }
    }
    return Usage();
}
