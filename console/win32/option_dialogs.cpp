#include <array>

#include "console/operator_input.h"
#include "console/resource.h"
#include "console/win32/console_windows.h"

namespace vorlek {

namespace {

// The controls of one option dialog.
struct OptionDialog {
    TimingOption option;
    int checkBox;
    int edit;
    int setButton;
    int closeButton;
};

constexpr OptionDialog kPeriodicCheckDialog{TimingOption::PeriodicCheck, IDC_PERIODIC_CHECK_PERFORM,
                                            IDC_PERIODIC_CHECK_PERIOD, IDC_PERIODIC_CHECK_SET,
                                            IDC_PERIODIC_CHECK_CLOSE};
constexpr OptionDialog kTimeoutDialog{TimingOption::Timeout, IDC_TIMEOUT_ENABLE, IDC_TIMEOUT_VALUE,
                                      IDC_TIMEOUT_SET, IDC_TIMEOUT_CLOSE};
constexpr OptionDialog kClientWarningDialog{TimingOption::ClientWarning, IDC_CLIENT_WARNING_ENABLE,
                                            IDC_CLIENT_WARNING_VALUE, IDC_CLIENT_WARNING_SET,
                                            IDC_CLIENT_WARNING_CLOSE};

// The edit and "Set" follow the check box.
void EnableValue(HWND dialog, const OptionDialog& controls) {
    const BOOL enabled = IsDlgButtonChecked(dialog, controls.checkBox) == BST_CHECKED;
    EnableWindow(GetDlgItem(dialog, controls.edit), enabled);
    EnableWindow(GetDlgItem(dialog, controls.setButton), enabled);
}

void Open(HWND dialog, const OptionDialog& controls) {
    Server& server = TheConsole().server();
    SetDlgItemTextA(dialog, controls.edit, OptionText(server, controls.option).c_str());
    CheckDlgButton(dialog, controls.checkBox,
                   IsOptionOn(server, controls.option) ? BST_CHECKED : BST_UNCHECKED);
    EnableValue(dialog, controls);
}

void Set(HWND dialog, const OptionDialog& controls) {
    std::array<char, kEditTextLimit + 1> text{};
    GetDlgItemTextA(dialog, controls.edit, text.data(), static_cast<int>(text.size()));
    SetOption(TheConsole().server(), controls.option, text.data());
    EndDialog(dialog, 0);
}

INT_PTR OptionDialogProc(const OptionDialog& controls, HWND dialog, UINT message, WPARAM wParam) {
    switch (message) {
        case WM_INITDIALOG:
            Open(dialog, controls);
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == controls.checkBox && HIWORD(wParam) == BN_CLICKED) {
                FlipOption(TheConsole().server(), controls.option);
                EnableValue(dialog, controls);
            } else if (id == controls.setButton) {
                Set(dialog, controls);
            } else if (id == controls.closeButton || id == IDCANCEL) {  // IDCANCEL: Escape
                EndDialog(dialog, 0);
            }
            return TRUE;
        }
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) {
                EndDialog(dialog, 0);
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK PeriodicCheckProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    return OptionDialogProc(kPeriodicCheckDialog, dialog, message, wParam);
}

INT_PTR CALLBACK TimeoutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    return OptionDialogProc(kTimeoutDialog, dialog, message, wParam);
}

INT_PTR CALLBACK ClientWarningProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    return OptionDialogProc(kClientWarningDialog, dialog, message, wParam);
}

}  // namespace vorlek
