#include "tests/tools/probe/probe_commands.h"
#include "tests/tools/probe/probe_output.h"

namespace vorlek::probe {

// Opens the file for reading and lets others read and write it but not delete it, as a program
// that has it open without FILE_SHARE_DELETE does: meanwhile it can be written, but neither
// renamed nor deleted.
int RunHoldFile(Arguments args) {
    const auto milliseconds = args.size() == 2 ? Number(args[1]) : std::nullopt;
    if (!milliseconds) {
        return kUsage;
    }
    const HANDLE file =
        CreateFileW(args[0].c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        PrintLine("cannot open " + Utf8(args[0]));
        return kFailed;
    }
    PrintLine("holding " + Utf8(args[0]));
    Sleep(*milliseconds);
    CloseHandle(file);
    return kOk;
}

}  // namespace vorlek::probe
