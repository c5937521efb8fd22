#include <algorithm>
#include <array>
#include <cstdint>

#include "console/operator_input.h"
#include "console/resource.h"
#include "console/win32/console_windows.h"
#include "link/protocol.h"

namespace vorlek {

namespace {

struct WordCommand {
    int id;
    StatusWord word;
};

// Buttons and Alt+letters that send one mode command to the selected stations.
constexpr std::array kWordCommands{
    WordCommand{IDC_PAUSE, ModeWord(ModeCommand::Pause)},
    WordCommand{IDA_PAUSE, ModeWord(ModeCommand::Pause)},
    WordCommand{IDC_RESUME, ModeWord(ModeCommand::Resume)},
    WordCommand{IDA_RESUME, ModeWord(ModeCommand::Resume)},
    WordCommand{IDC_BLOCK, ModeWord(ModeCommand::Block)},
    WordCommand{IDA_BLOCK, ModeWord(ModeCommand::Block)},
    WordCommand{IDC_FREE, ModeWord(ModeCommand::Free)},
    WordCommand{IDA_FREE, ModeWord(ModeCommand::Free)},
    WordCommand{IDC_UNLIMITED, ModeWord(ModeCommand::Unlimited)},
    WordCommand{IDA_UNLIMITED, ModeWord(ModeCommand::Unlimited)},
    WordCommand{IDC_LOGOFF, ModeWord(ModeCommand::LogOff)},
    WordCommand{IDA_LOGOFF, ModeWord(ModeCommand::LogOff)},
    WordCommand{IDC_REBOOT, ModeWord(ModeCommand::Reboot)},
    WordCommand{IDA_REBOOT, ModeWord(ModeCommand::Reboot)},
};

struct AddTimeButton {
    int id;
    std::uint32_t seconds;
};

constexpr std::array kAddTimeButtons{
    AddTimeButton{IDC_ADD_5_SECONDS, 5},     AddTimeButton{IDC_ADD_10_SECONDS, 10},
    AddTimeButton{IDC_ADD_30_SECONDS, 30},   AddTimeButton{IDC_ADD_1_MINUTE, 60},
    AddTimeButton{IDC_ADD_2_MINUTES, 120},   AddTimeButton{IDC_ADD_3_MINUTES, 180},
    AddTimeButton{IDC_ADD_5_MINUTES, 300},   AddTimeButton{IDC_ADD_10_MINUTES, 600},
    AddTimeButton{IDC_ADD_20_MINUTES, 1200}, AddTimeButton{IDC_ADD_30_MINUTES, 1800},
    AddTimeButton{IDC_ADD_1_HOUR, 3600},     AddTimeButton{IDC_ADD_2_HOURS, 7200},
    AddTimeButton{IDC_ADD_3_HOURS, 10800},   AddTimeButton{IDC_ADD_5_HOURS, 18000},
    AddTimeButton{IDC_ADD_1_DAY, 86400},
};

void UpdateFromDeathTimer(HWND dialog) {
    std::array<char, kEditTextLimit + 1> text{};
    GetDlgItemTextA(dialog, IDC_DEATH_TIMER, text.data(), static_cast<int>(text.size()));
    // Read, the value is no longer being typed: reports may write "N/A" over it again, so that a
    // later Alt+U does not send it to whatever is selected then.
    SendDlgItemMessageA(dialog, IDC_DEATH_TIMER, EM_SETMODIFY, FALSE, 0);
    UpdateDeathTimer(TheConsole().server(), text.data());
}

void Exit(HWND) {
    TheConsole().Shutdown();
}

void FocusStationList(HWND dialog) {
    SetFocus(GetDlgItem(dialog, IDC_STATION_LIST));
}

template <int DialogId, DLGPROC Procedure>
void OpenModal(HWND dialog) {
    DialogBoxParamA(TheConsole().instance(), MAKEINTRESOURCEA(DialogId), dialog, Procedure, 0);
}

struct DialogCommand {
    int id;
    void (*handler)(HWND dialog);
};

constexpr std::array kDialogCommands{
    DialogCommand{IDC_UPDATE, UpdateFromDeathTimer},
    DialogCommand{IDA_UPDATE, UpdateFromDeathTimer},
    DialogCommand{IDC_EXIT, Exit},
    DialogCommand{IDA_EXIT, Exit},
    DialogCommand{IDM_EXIT, Exit},
    DialogCommand{IDA_FOCUS_CLIENTS, FocusStationList},
    DialogCommand{IDM_PERIODIC_CHECK, OpenModal<IDD_PERIODIC_CHECK, PeriodicCheckProc>},
    DialogCommand{IDM_TIMEOUT, OpenModal<IDD_TIMEOUT, TimeoutProc>},
    DialogCommand{IDM_CLIENT_WARNING, OpenModal<IDD_CLIENT_WARNING, ClientWarningProc>},
    DialogCommand{IDM_EDIT_CLIENT_LIST, OpenModal<IDD_EDIT_CLIENTS, EditClientsProc>},
};

template <typename Table>
auto FindCommand(const Table& table, int id) {
    return std::find_if(table.begin(), table.end(),
                        [id](const auto& entry) { return entry.id == id; });
}

// Alt+D, Alt+T and "About" are in no table: they do nothing.
void OnCommand(HWND dialog, int id, int notification) {
    Server& server = TheConsole().server();
    if (id == IDC_STATION_LIST) {
        if (notification == LBN_SELCHANGE) {
            server.OnSelectionChanged();
        }
    } else if (const auto word = FindCommand(kWordCommands, id); word != kWordCommands.end()) {
        server.SendToSelected(word->word);
    } else if (const auto add = FindCommand(kAddTimeButtons, id); add != kAddTimeButtons.end()) {
        server.AddTime(add->seconds);
    } else if (const auto other = FindCommand(kDialogCommands, id);
               other != kDialogCommands.end()) {
        other->handler(dialog);
    }
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) {
                TheConsole().Shutdown();
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace vorlek
