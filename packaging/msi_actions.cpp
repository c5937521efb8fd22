// The custom actions of the MSI packages: what Windows Installer's own tables cannot do. The
// immediate ones look at the machine and plan; the deferred ones, run as the system inside the
// installation's transaction, change it, each with the data its immediate partner planned
// (Windows Installer hands a deferred action only the property of its own name).
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "link/host_list.h"
#include "link/signed_order.h"

namespace {

// The device that the agent opens under /hold=device.
constexpr wchar_t kInputLockDevice[] = L"\\\\.\\VORLEK";
// The agent's program, and the start of the names it is put aside under.
constexpr wchar_t kAgentProgram[] = L"VorlekClient.exe";
constexpr wchar_t kPutAside[] = L"VorlekClient.exe.old";
// The console's top window, which exists while the console runs.
constexpr wchar_t kConsoleWindowClass[] = L"VorlekServerWndClass";
// Separates the folder from the rest in a deferred action's data; no path holds it.
constexpr wchar_t kDataSeparator = L'|';

// The agent's switches that the package writes into its shortcut, each with its values and
// how a refusal names them.
struct SwitchProperty {
    const wchar_t* name;
    std::array<const wchar_t*, 3> values;
    const wchar_t* named;
};
constexpr SwitchProperty kAgentSwitches[] = {
    {L"HOLD", {L"device", L"hooks"}, L"device or hooks"},
    {L"ORDERS", {L"any", L"servers", L"signed"}, L"any, servers or signed"},
    {L"START", {L"available", L"blocked"}, L"available or blocked"},
    {L"COUNTDOWN", {L"off", L"on"}, L"off or on"},
};

constexpr char kNobodyToObey[] =
    "ORDERS=servers needs the address of a console (SERVERS): with none, the agent would obey "
    "nobody and stop at every start.";
constexpr char kNoCng[] =
    "ORDERS=signed needs Windows Vista or later: on this Windows the agent would refuse to start.";
constexpr char kNoRoomKeys[] =
    "ORDERS=signed needs the public line of every console (ROOMKEYS): without a usable "
    "\"roomkeys\" the agent would refuse to start.";
// Separates the public lines in ROOMKEYS and /ROOMKEYS=.
constexpr char kRoomKeysSeparator = '|';

class Record {
public:
    explicit Record(UINT fields) : handle_(MsiCreateRecord(fields)) {}
    ~Record() { MsiCloseHandle(handle_); }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
    MSIHANDLE get() const { return handle_; }

private:
    MSIHANDLE handle_;
};

std::wstring Property(MSIHANDLE session, const wchar_t* name) {
    wchar_t none[1] = L"";
    DWORD size = 0;
    if (MsiGetPropertyW(session, name, none, &size) != ERROR_MORE_DATA) {
        return {};
    }
    std::wstring value(++size, L'\0');
    if (MsiGetPropertyW(session, name, value.data(), &size) != ERROR_SUCCESS) {
        return {};
    }
    value.resize(size);
    return value;
}

// Whether a property holds value, in any case (as the ~= of a condition compares).
bool PropertyIs(MSIHANDLE session, const wchar_t* name, const wchar_t* value) {
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, Property(session, name).c_str(), -1,
                          value, -1) == CSTR_EQUAL;
}

// A folder of the installation (INSTALLDIR, the program folder), ending in a backslash.
std::wstring FolderProperty(MSIHANDLE session, const wchar_t* name) {
    std::wstring folder = Property(session, name);
    if (!folder.empty() && folder.back() != L'\\') {
        folder.push_back(L'\\');
    }
    return folder;
}

std::string Utf8(std::wstring_view text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), converted.data(),
                        size, nullptr, nullptr);
    return converted;
}

std::wstring Wide(std::string_view text) {
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring converted(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), converted.data(),
                        size);
    return converted;
}

// Writes a line into the installation's log; an error is also shown to whoever watches the
// installation (nobody under /qn, where the log and the exit code tell it).
void Say(MSIHANDLE session, INSTALLMESSAGE kind, const std::wstring& text) {
    const Record record(0);
    MsiRecordSetStringW(record.get(), 0, text.c_str());
    MsiProcessMessage(session, kind, record.get());
}

UINT Refuse(MSIHANDLE session, const std::wstring& why) {
    Say(session, INSTALLMESSAGE_ERROR, why);
    return ERROR_INSTALL_FAILURE;
}

// A deferred action's data: the folder (ending in a backslash) and what follows the separator.
struct ActionData {
    std::wstring folder;
    std::wstring rest;
};

std::wstring Joined(const std::wstring& folder, const std::wstring& rest) {
    return folder + kDataSeparator + rest;
}

ActionData DataOf(MSIHANDLE session) {
    const std::wstring data = Property(session, L"CustomActionData");
    const std::size_t separator = data.find(kDataSeparator);
    if (separator == std::wstring::npos) {
        return {};
    }
    return {data.substr(0, separator), data.substr(separator + 1)};
}

// N of a name "VorlekClient.exe.oldN", or 0 for any other name.
unsigned long PutAsideNumber(std::wstring_view name) {
    constexpr std::wstring_view prefix = kPutAside;
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 9 ||
        name.substr(0, prefix.size()) != prefix) {
        return 0;
    }
    unsigned long number = 0;
    for (const wchar_t c : name.substr(prefix.size())) {
        if (c < L'0' || c > L'9') {
            return 0;
        }
        number = number * 10 + static_cast<unsigned long>(c - L'0');
    }
    return number;
}

// Calls visit with the name of every copy of the agent's program put aside in folder.
template <typename Visit>
void ForEachPutAside(const std::wstring& folder, Visit visit) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + kPutAside + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if (PutAsideNumber(found.cFileName) != 0) {
            visit(std::wstring(found.cFileName));
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A file's bytes as the characters of the same values (a deferred action's data is text), or
// nothing when it cannot be read.
std::optional<std::wstring> FileBytes(const std::wstring& path) {
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    std::wstring bytes;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        bytes.push_back(static_cast<wchar_t>(c));
    }
    std::fclose(file);
    return bytes;
}

// Writes bytes into path: into a new file first, which then takes the place of the old.
bool WriteFileBytes(const std::wstring& path, std::string_view bytes) {
    const std::wstring written = path + L".new";
    const HANDLE file = CreateFileW(written.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD done = 0;
    const bool wrote =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
        done == bytes.size();
    if (CloseHandle(file) && wrote &&
        MoveFileExW(written.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    const DWORD error = GetLastError();
    DeleteFileW(written.c_str());
    SetLastError(error);
    return false;
}

// A file that the package writes from a property, as the system, with the deferred action that
// writes it and the rollback action that puts it back.
struct ListFile {
    const wchar_t* name;
    const wchar_t* write;
    const wchar_t* putBack;
};
constexpr ListFile kServersFile{L"servers", L"WriteServers", L"PutServersBack"};
constexpr ListFile kRoomKeysFile{L"roomkeys", L"WriteRoomKeys", L"PutRoomKeysBack"};

// Plans the writing of lines into file, with its rollback holding what the file is now (1 and
// its bytes, 0 when there is none, nothing when it cannot be read).
void PlanListFile(MSIHANDLE session, const std::wstring& folder, const ListFile& file,
                  const std::string& lines) {
    MsiSetPropertyW(session, file.write, Joined(folder, Wide(lines)).c_str());
    const std::wstring path = folder + file.name;
    if (const std::optional<std::wstring> before = FileBytes(path)) {
        MsiSetPropertyW(session, file.putBack, Joined(folder, L"1" + *before).c_str());
    } else if (!FileExists(path)) {
        MsiSetPropertyW(session, file.putBack, Joined(folder, L"0").c_str());
    }
}

// Writes the file as planned.
UINT WriteListFile(MSIHANDLE session, const std::wstring& name) {
    const ActionData data = DataOf(session);
    const std::wstring path = data.folder + name;
    if (data.folder.empty()) {
        return Refuse(session, L"The folder of \"" + name + L"\" is unknown; nothing was changed.");
    }
    if (!WriteFileBytes(path, Utf8(data.rest))) {
        return Refuse(session, path + L" could not be written (error " +
                                   std::to_wstring(GetLastError()) + L"); nothing was changed.");
    }
    return ERROR_SUCCESS;
}

// The rollback of WriteListFile: the file as it was, or none when there was none.
UINT PutListFileBack(MSIHANDLE session, const std::wstring& name) {
    const ActionData data = DataOf(session);
    const std::wstring path = data.folder + name;
    if (data.rest.starts_with(L'1')) {
        std::string bytes;
        for (const wchar_t c : std::wstring_view(data.rest).substr(1)) {
            bytes.push_back(static_cast<char>(c));
        }
        WriteFileBytes(path, bytes);
    } else if (data.rest == L"0") {
        DeleteFileW(path.c_str());
    }
    return ERROR_SUCCESS;
}

// "roomkeys" written from the public lines an administrator gave: lines separated by '|',
// blanks around them allowed, each a line that the agent reads as a key. lines holds one per
// line, each ended by CR LF; problem says why the entries cannot stand, and is empty when they
// can.
struct RoomKeysText {
    std::string lines;
    std::string problem;
};

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

RoomKeysText RoomKeysFromEntries(std::string_view entries) {
    // A refusal quotes the start of a line: enough to tell which it is.
    constexpr std::size_t kQuoted = 24;
    RoomKeysText text;
    for (std::size_t at = 0; at <= entries.size();) {
        const std::size_t end = std::min(entries.find(kRoomKeysSeparator, at), entries.size());
        const std::string_view entry = Trimmed(entries.substr(at, end - at));
        if (entry.empty()) {
            return {{}, "A public line is missing in \"" + std::string(entries) + "\"."};
        }
        // The agent reads a line of at most its limit with the line end, and no line in it.
        if (entry.size() + 2 > vorlek::kRoomKeysLineLimit ||
            entry.find_first_of("\r\n") != std::string_view::npos ||
            !vorlek::ReadPublicKeyLine(entry)) {
            const std::string quoted(entry.substr(0, kQuoted));
            return {{},
                    "\"" + quoted + (entry.size() > kQuoted ? "..." : "") +
                        "\" is not a public line of VorlekKey.exe (vorlek-p256 BASE64 comment)."};
        }
        text.lines.append(entry).append("\r\n");
        at = end + 1;
    }
    return text;
}

// Whether the agent would start with the "roomkeys" at path.
bool HoldsRoomKeys(const std::wstring& path) {
    std::FILE* file = _wfopen(path.c_str(), L"rt");
    if (file == nullptr) {
        return false;
    }
    const bool holds = vorlek::ReadRoomKeys(file).has_value();
    std::fclose(file);
    return holds;
}

// What the setup program is handed: lines (1) or the problem (0), in at most size characters
// with the terminating null; tooLong says what cannot be handed back whole.
int Answer(const std::string& problem, const std::string& lines, const wchar_t* tooLong,
           wchar_t* out, int size) {
    if (size <= 0) {
        return 0;
    }
    bool usable = problem.empty();
    std::wstring answer = Wide(usable ? lines : problem);
    if (answer.size() >= static_cast<std::size_t>(size)) {
        usable = false;
        answer = std::wstring(tooLong) + L" for the setup program.";
        answer.resize(std::min(answer.size(), static_cast<std::size_t>(size - 1)));
    }
    out[answer.copy(out, answer.size())] = L'\0';
    return usable ? 1 : 0;
}

}  // namespace

// Sets INPUT_LOCK_DEVICE to 1 when the device opens, so that the package can choose the agent's
// /hold= as the setup program does: Windows Installer has no search that opens a device.
extern "C" __declspec(dllexport) UINT __stdcall FindInputLockDevice(MSIHANDLE session) {
    HANDLE device = CreateFileW(kInputLockDevice, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
        MsiSetPropertyW(session, L"INPUT_LOCK_DEVICE", L"1");
    }
    return ERROR_SUCCESS;
}

// Checks the switches' values, SERVERS by the rules the agent reads "servers" with and ROOMKEYS
// by those of "roomkeys", and plans the writing of each file given (see PlanListFile); refuses
// ORDERS=servers when neither SERVERS nor an existing "servers" names a console, and
// ORDERS=signed when neither ROOMKEYS nor an existing "roomkeys" holds a usable key.
extern "C" __declspec(dllexport) UINT __stdcall CheckAgentSettings(MSIHANDLE session) {
    for (const SwitchProperty& property : kAgentSwitches) {
        if (std::none_of(property.values.begin(), property.values.end(), [&](const wchar_t* value) {
                return value != nullptr && PropertyIs(session, property.name, value);
            })) {
            return Refuse(session, std::wstring(property.name) + L" is " + property.named + L".");
        }
    }
    const std::wstring folder = FolderProperty(session, L"INSTALLDIR");
    const std::wstring servers = Property(session, L"SERVERS");
    bool namesAnyone = false;
    if (!servers.empty()) {
        const vorlek::HostListText text = vorlek::HostListFromEntries(Utf8(servers));
        if (!text.problem.empty()) {
            return Refuse(session, L"SERVERS: " + Wide(text.problem) + L" Nothing was changed.");
        }
        PlanListFile(session, folder, kServersFile, text.lines);
        namesAnyone = !text.lines.empty();
    } else if (std::FILE* file = _wfopen((folder + L"servers").c_str(), L"rt")) {
        namesAnyone = vorlek::NamesAnyHost(file);
        std::fclose(file);
    }
    if (!namesAnyone && PropertyIs(session, L"ORDERS", L"servers")) {
        return Refuse(session, Wide(kNobodyToObey));
    }
    // VersionNT is 600 from Windows Vista, the first with CNG.
    if (PropertyIs(session, L"ORDERS", L"signed") &&
        _wtoi(Property(session, L"VersionNT").c_str()) < 600) {
        return Refuse(session, Wide(kNoCng));
    }
    const std::wstring roomKeys = Property(session, L"ROOMKEYS");
    if (!roomKeys.empty()) {
        const RoomKeysText text = RoomKeysFromEntries(Utf8(roomKeys));
        if (!text.problem.empty()) {
            return Refuse(session, L"ROOMKEYS: " + Wide(text.problem) + L" Nothing was changed.");
        }
        PlanListFile(session, folder, kRoomKeysFile, text.lines);
    } else if (PropertyIs(session, L"ORDERS", L"signed") && !HoldsRoomKeys(folder + L"roomkeys")) {
        return Refuse(session, Wide(kNoRoomKeys));
    }
    return ERROR_SUCCESS;
}

// "servers" and "roomkeys" written as CheckAgentSettings planned, and put back on a rollback.
extern "C" __declspec(dllexport) UINT __stdcall WriteServers(MSIHANDLE session) {
    return WriteListFile(session, kServersFile.name);
}
extern "C" __declspec(dllexport) UINT __stdcall PutServersBack(MSIHANDLE session) {
    return PutListFileBack(session, kServersFile.name);
}
extern "C" __declspec(dllexport) UINT __stdcall WriteRoomKeys(MSIHANDLE session) {
    return WriteListFile(session, kRoomKeysFile.name);
}
extern "C" __declspec(dllexport) UINT __stdcall PutRoomKeysBack(MSIHANDLE session) {
    return PutListFileBack(session, kRoomKeysFile.name);
}

// The setup program's checks of /SERVERS= and /ROOMKEYS=, by the rules of SERVERS and ROOMKEYS:
// entries in, and out the lines of the file (1) or why the entries cannot stand (0), in at most
// size characters with the terminating null.
extern "C" __declspec(dllexport) int __stdcall HostListLines(const wchar_t* entries, wchar_t* out,
                                                             int size) {
    const vorlek::HostListText text = vorlek::HostListFromEntries(Utf8(entries));
    return Answer(text.problem, text.lines, L"The list of addresses is too long", out, size);
}
extern "C" __declspec(dllexport) int __stdcall RoomKeysLines(const wchar_t* entries, wchar_t* out,
                                                             int size) {
    const RoomKeysText text = RoomKeysFromEntries(Utf8(entries));
    return Answer(text.problem, text.lines, L"The public lines are too long", out, size);
}

// The setup program's check of an existing "roomkeys" for /ORDERS=signed: 1 when the agent
// would start with it.
extern "C" __declspec(dllexport) int __stdcall HasRoomKeys(const wchar_t* path) {
    return HoldsRoomKeys(path) ? 1 : 0;
}

// Refuses to install or remove the console while it runs: it keeps the stations' time in memory
// and is never ended from here.
extern "C" __declspec(dllexport) UINT __stdcall FindRunningConsole(MSIHANDLE session) {
    if (FindWindowW(kConsoleWindowClass, nullptr) == nullptr) {
        return ERROR_SUCCESS;
    }
    return Refuse(session, PropertyIs(session, L"REMOVE", L"ALL")
                               ? L"Vorlek Server is running. Exit it (File, Exit) and "
                                 L"uninstall again; nothing was removed."
                               : L"Vorlek Server is running. Exit it (File, Exit) and run "
                                 L"setup again; nothing was changed.");
}

// Refuses SIGN=1 while the console's data folder holds no "room.key": the package makes no key,
// since its actions that change the computer run as the system account, and a key made by that
// account is one that an operator's console cannot read.
extern "C" __declspec(dllexport) UINT __stdcall FindRoomKey(MSIHANDLE session) {
    const std::wstring folder = FolderProperty(session, L"DATADIR");
    if (FileExists(folder + L"room.key")) {
        return ERROR_SUCCESS;
    }
    return Refuse(session, L"SIGN=1 needs the console's key " + folder +
                               L"room.key: make it there first, as the account that runs the "
                               L"console, with \"VorlekKey.exe new room.key\". Nothing was "
                               L"changed.");
}

// The file of a running agent cannot be replaced, but it can be renamed. An upgrade puts the
// program aside under a name no earlier upgrade used, one above the highest there, and plans
// both moves with it: PutProgramAside, and PutProgramBack for a rollback.
extern "C" __declspec(dllexport) UINT __stdcall PlanProgramAside(MSIHANDLE session) {
    const std::wstring folder = FolderProperty(session, L"INSTALLDIR");
    if (!FileExists(folder + kAgentProgram)) {
        return ERROR_SUCCESS;
    }
    unsigned long highest = 0;
    ForEachPutAside(folder, [&highest](const std::wstring& name) {
        highest = std::max(highest, PutAsideNumber(name));
    });
    const std::wstring data = Joined(folder, kPutAside + std::to_wstring(highest + 1));
    MsiSetPropertyW(session, L"PutProgramAside", data.c_str());
    MsiSetPropertyW(session, L"PutProgramBack", data.c_str());
    return ERROR_SUCCESS;
}

// Deletes the copies earlier upgrades put aside whose agents have ended, then renames the
// program. Where it cannot, Windows Installer replaces the program at the next restart.
extern "C" __declspec(dllexport) UINT __stdcall PutProgramAside(MSIHANDLE session) {
    const ActionData data = DataOf(session);
    if (data.rest.empty()) {
        return ERROR_SUCCESS;
    }
    ForEachPutAside(data.folder, [&data](const std::wstring& name) {
        DeleteFileW((data.folder + name).c_str());
    });
    if (!MoveFileW((data.folder + kAgentProgram).c_str(), (data.folder + data.rest).c_str())) {
        Say(session, INSTALLMESSAGE_INFO,
            L"The agent's program could not be put aside (error " +
                std::to_wstring(GetLastError()) + L"): it is replaced at the next restart.");
    }
    return ERROR_SUCCESS;
}

// The rollback of PutProgramAside: the program put aside by this installation takes its place
// again, over a new one that is left.
extern "C" __declspec(dllexport) UINT __stdcall PutProgramBack(MSIHANDLE session) {
    const ActionData data = DataOf(session);
    const std::wstring putAside = data.folder + data.rest;
    if (data.rest.empty() || !FileExists(putAside)) {
        return ERROR_SUCCESS;
    }
    if (!MoveFileExW(putAside.c_str(), (data.folder + kAgentProgram).c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
        Say(session, INSTALLMESSAGE_INFO,
            L"The agent's program could not be put back from " + putAside + L" (error " +
                std::to_wstring(GetLastError()) + L").");
    }
    return ERROR_SUCCESS;
}
