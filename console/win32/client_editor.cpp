#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "console/client_list_file.h"
#include "console/resource.h"
#include "console/win32/console_windows.h"

namespace vorlek {

namespace {

// Room for the entry typed into "Add Client": 254 characters and the terminator.
constexpr std::size_t kEntryBufferSize = 256;

// The last entry confirmed in "Add Client"; the editor reads it when that dialog ends with 1.
std::array<char, kEntryBufferSize> newEntry{};

// The caption of the boxes that say a save failed or holds entries the console will not read.
constexpr const char* kSaveFailedCaption = "Vorlek Server";

// The system's words for an error code, without the line end and full stop it ends with.
std::string SystemMessage(DWORD error) {
    std::array<char, 512> text{};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text.data(), static_cast<DWORD>(text.size()), nullptr);
    std::string message(text.data(), length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(error) : message;
}

class CurrentFolderFiles final : public ClientListFiles {
public:
    std::FILE* Open(const char* name, const char* mode) override { return std::fopen(name, mode); }
    std::optional<std::string> Replace(const char* from, const char* to) override {
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
            return std::nullopt;
        }
        return SystemMessage(GetLastError());
    }
    void Remove(const char* name) override { DeleteFileA(name); }
};

// The full path of a file of the current directory, as the operator finds it.
std::string FullPath(const char* name) {
    std::array<char, MAX_PATH> path{};
    const DWORD length =
        GetFullPathNameA(name, static_cast<DWORD>(path.size()), path.data(), nullptr);
    return length == 0 || length >= path.size() ? name : std::string(path.data(), length);
}

HWND EntryList(HWND dialog) {
    return GetDlgItem(dialog, IDC_CLIENT_ENTRIES);
}

void AddRow(HWND dialog, const char* text) {
    SendMessageA(EntryList(dialog), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void LoadEntries(HWND dialog) {
    std::FILE* file = std::fopen(kClientListFile, "r");
    if (file == nullptr) {
        return;
    }
    for (const std::string& entry : ReadClientEntries(file)) {
        AddRow(dialog, entry.c_str());
    }
    std::fclose(file);
}

std::vector<std::string> Rows(HWND dialog) {
    const HWND list = EntryList(dialog);
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    std::vector<std::string> rows;
    for (LRESULT row = 0; row < count; ++row) {
        const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
        if (length < 0) {
            continue;
        }
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        const LRESULT copied = SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(row),
                                            reinterpret_cast<LPARAM>(text.data()));
        text.resize(copied < 0 ? 0 : static_cast<std::size_t>(copied));
        rows.push_back(std::move(text));
    }
    return rows;
}

void AddEntry(HWND dialog) {
    const INT_PTR result = DialogBoxParamA(
        TheConsole().instance(), MAKEINTRESOURCEA(IDD_ADD_CLIENT), dialog, AddClientProc, 0);
    if (result != 0 && result != -1) {
        AddRow(dialog, newEntry.data());
    }
}

void RemoveSelectedEntry(HWND dialog) {
    const LRESULT selected = SendMessageA(EntryList(dialog), LB_GETCURSEL, 0, 0);
    if (selected != LB_ERR) {
        SendMessageA(EntryList(dialog), LB_DELETESTRING, static_cast<WPARAM>(selected), 0);
    }
}

// Saved entries that the console's start will pass over are named to the operator.
void WarnOfUnreadableEntries(HWND dialog, const std::vector<std::string>& entries) {
    const std::vector<std::string> unreadable = UnreadableEntries(entries);
    if (unreadable.empty()) {
        return;
    }
    std::string text = "Saved, but the console will not read these entries as stations:\n\n";
    for (const std::string& entry : unreadable) {
        text.append(entry).append("\n");
    }
    text.append("\nA computer name holds no digits; an address is four numbers joined by dots.");
    MessageBoxA(dialog, text.c_str(), kSaveFailedCaption, MB_OK | MB_ICONWARNING);
}

// A failed save leaves "clients" as it was; the operator is told so, over the editor.
void Save(HWND dialog) {
    CurrentFolderFiles files;
    const std::vector<std::string> entries = Rows(dialog);
    const std::optional<SaveFailure> failure = SaveClientList(entries, files);
    if (!failure) {
        WarnOfUnreadableEntries(dialog, entries);
        return;
    }
    const std::string text = "The client list was not saved.\n\n" + FullPath(failure->file) + ": " +
                             failure->reason + "\n\n\"" + kClientListFile +
                             "\" was left as it was.";
    MessageBoxA(dialog, text.c_str(), kSaveFailedCaption, MB_OK | MB_ICONSTOP);
}

bool IsCloseCommand(UINT message, WPARAM wParam) {
    return message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE;
}

}  // namespace

INT_PTR CALLBACK EditClientsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        LoadEntries(dialog);
        return FALSE;
    }
    if (IsCloseCommand(message, wParam)) {
        EndDialog(dialog, 0);
        return FALSE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    switch (LOWORD(wParam)) {
        case IDC_CLIENT_ADD:
            AddEntry(dialog);
            break;
        case IDC_CLIENT_REMOVE:
            RemoveSelectedEntry(dialog);
            break;
        case IDC_CLIENT_SAVE:
            Save(dialog);
            break;
        case IDC_CLIENT_CLOSE:
        case IDCANCEL:  // Escape
            EndDialog(dialog, 0);
            break;
        default:
            break;
    }
    return TRUE;
}

INT_PTR CALLBACK AddClientProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (IsCloseCommand(message, wParam)) {
        EndDialog(dialog, 0);
        return FALSE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    switch (LOWORD(wParam)) {
        case IDC_NEW_CLIENT_OK:
            GetDlgItemTextA(dialog, IDC_NEW_CLIENT_NAME, newEntry.data(),
                            static_cast<int>(newEntry.size() - 1));
            EndDialog(dialog, 1);
            break;
        case IDC_NEW_CLIENT_CANCEL:
        case IDCANCEL:  // Escape
            EndDialog(dialog, 0);
            break;
        default:
            break;
    }
    return TRUE;
}

}  // namespace vorlek
