// The subcommands that read and drive the windows of another program of the same prefix.
// Windows are found by their exact title (dialogs first), waiting up to the find timeout for them
// to appear; every message that waits for the other program has a time limit too, so a program that
// hangs or shows a box makes the probe fail instead of hang.
//
// Output lines:
//   rows         "INDEX\tSELECTED\tTEXT" per row, SELECTED 1 or 0
//   boxes        "CAPTION\tTEXT" per visible dialog window (TEXT: its static 0xFFFF, or empty)
//   windows      "CLASS\tTITLE\tLEFT,TOP,RIGHT,BOTTOM" per visible top-level window
//   get-text     the text; state "enabled=E visible=V checked=C"
//   close-box    "closed CAPTION\tTEXT"; wait-box "box CAPTION\tTEXT"
//   answer-times "UNIX_TIME\tSECONDS" per question
// Texts are escaped (\\, \t, \r, \n); a missing window prints "no window TITLE" or "no box
// CAPTION" and a missing control "no control ID", with exit code 1.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/tools/probe/probe_commands.h"
#include "tests/tools/probe/probe_output.h"

namespace vorlek::probe {

namespace {

// How long a window to act on may take to appear, unless "--wait MS" says otherwise.
DWORD findTimeout = kDefaultFindTimeout;
// How long another program may take to answer one message.
constexpr UINT kAnswerTimeout = 5000;
constexpr DWORD kPollInterval = 50;
// The id of the text of a message box.
constexpr int kBoxTextId = 0xFFFF;
constexpr wchar_t kDialogClass[] = L"#32770";

std::optional<LRESULT> Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kAnswerTimeout,
                            &answer) == 0) {
        return std::nullopt;
    }
    return static_cast<LRESULT>(answer);
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

// The title of a top-level window; read without sending it a message.
std::wstring Title(HWND window) {
    std::wstring title(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    title.resize(static_cast<std::size_t>(
        GetWindowTextW(window, title.data(), static_cast<int>(title.size()))));
    return title;
}

// The text of a control of another program, by WM_GETTEXT.
std::wstring ControlText(HWND control) {
    const auto length = Ask(control, WM_GETTEXTLENGTH, 0, 0);
    if (!length || *length <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(*length) + 1, L'\0');
    const auto copied =
        Ask(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied ? static_cast<std::size_t>(*copied) : 0);
    return text;
}

bool IsDialog(HWND window) {
    return ClassName(window) == kDialogClass;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// Every top-level window, topmost first.
std::vector<HWND> TopWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// The top-level window with exactly this title: a visible dialog first, then any visible
// window, then a hidden one. onlyDialogs limits the search to visible dialogs (message boxes).
HWND FindTitled(const std::wstring& title, bool onlyDialogs) {
    HWND visible = nullptr;
    HWND hidden = nullptr;
    for (HWND window : TopWindows()) {
        if (Title(window) != title) {
            continue;
        }
        const bool shown = IsWindowVisible(window) != FALSE;
        if (shown && IsDialog(window)) {
            return window;
        }
        if (onlyDialogs) {
            continue;
        }
        if (shown && visible == nullptr) {
            visible = window;
        } else if (!shown && hidden == nullptr) {
            hidden = window;
        }
    }
    return visible != nullptr ? visible : hidden;
}

HWND WaitForTitled(const std::wstring& title, bool onlyDialogs, DWORD timeout) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND window = FindTitled(title, onlyDialogs)) {
            return window;
        }
        if (GetTickCount() - start >= timeout) {
            return nullptr;
        }
        Sleep(kPollInterval);
    }
}

// The window named by args[0] and, when wanted, its control args[1]; prints why when missing.
struct Target {
    HWND window = nullptr;
    HWND control = nullptr;
    int controlId = 0;
};

std::optional<Target> FindTarget(Arguments args, bool wantControl) {
    if (args.empty() || (wantControl && args.size() < 2)) {
        return std::nullopt;
    }
    Target target;
    target.window = WaitForTitled(args[0], false, findTimeout);
    if (target.window == nullptr) {
        PrintLine("no window " + Escaped(args[0]));
        return std::nullopt;
    }
    if (!wantControl) {
        return target;
    }
    const auto id = Number(args[1]);
    if (!id) {
        PrintLine("bad id " + Escaped(args[1]));
        return std::nullopt;
    }
    target.controlId = static_cast<int>(*id);
    target.control = GetDlgItem(target.window, target.controlId);
    if (target.control == nullptr) {
        PrintLine("no control " + std::to_string(*id));
        return std::nullopt;
    }
    return target;
}

std::string BoxLine(HWND box) {
    const HWND text = GetDlgItem(box, kBoxTextId);
    return Escaped(Title(box)) + "\t" + (text != nullptr ? Escaped(ControlText(text)) : "");
}

}  // namespace

void SetFindTimeout(DWORD milliseconds) {
    findTimeout = milliseconds;
}

int RunRows(Arguments args) {
    const auto target = FindTarget(args, true);
    if (!target) {
        return kFailed;
    }
    const auto count = Ask(target->control, LB_GETCOUNT, 0, 0);
    if (!count || *count == LB_ERR) {
        PrintLine("not a list " + std::to_string(target->controlId));
        return kFailed;
    }
    for (LRESULT row = 0; row < *count; ++row) {
        const WPARAM index = static_cast<WPARAM>(row);
        // Read as UTF-16: Wine hands a cross-process LB_GETTEXT of the A form over as UTF-16.
        const auto length = Ask(target->control, LB_GETTEXTLEN, index, 0);
        std::wstring text(length && *length > 0 ? static_cast<std::size_t>(*length) + 1 : 1, L'\0');
        const auto copied =
            Ask(target->control, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
        text.resize(copied && *copied > 0 ? static_cast<std::size_t>(*copied) : 0);
        const auto selected = Ask(target->control, LB_GETSEL, index, 0);
        PrintLine(std::to_string(row) + "\t" + (selected && *selected > 0 ? "1" : "0") + "\t" +
                  Escaped(text));
    }
    return kOk;
}

int RunSelect(Arguments args) {
    const auto target = FindTarget(args, true);
    if (!target) {
        return kFailed;
    }
    std::vector<WPARAM> indices;
    for (const auto& argument : args.subspan(2)) {
        const auto index = Number(argument);
        if (!index) {
            PrintLine("bad index " + Escaped(argument));
            return kUsage;
        }
        indices.push_back(*index);
    }
    const LONG style = GetWindowLongW(target->control, GWL_STYLE);
    if ((style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0) {
        Ask(target->control, LB_SETSEL, FALSE, -1);
        for (const WPARAM index : indices) {
            Ask(target->control, LB_SETSEL, TRUE, static_cast<LPARAM>(index));
        }
    } else if (indices.size() <= 1) {
        Ask(target->control, LB_SETCURSEL, indices.empty() ? static_cast<WPARAM>(-1) : indices[0],
            0);
    } else {
        PrintLine("single-selection list");
        return kUsage;
    }
    // A click tells the dialog of the change only when the list has LBS_NOTIFY.
    if ((style & LBS_NOTIFY) != 0) {
        const WPARAM notification = MAKEWPARAM(target->controlId, LBN_SELCHANGE);
        if (!Ask(GetParent(target->control), WM_COMMAND, notification,
                 reinterpret_cast<LPARAM>(target->control))) {
            PrintLine("notification pending");
        }
    }
    std::string line = "selected";
    for (const WPARAM index : indices) {
        line += ' ';
        line += std::to_string(index);
    }
    PrintLine(line);
    return kOk;
}

int RunClick(Arguments args) {
    const auto target = FindTarget(args, true);
    if (!target) {
        return kFailed;
    }
    // Posted: a click that opens a modal dialog or a box does not return until it is closed.
    PostMessageW(target->control, BM_CLICK, 0, 0);
    PrintLine("clicked " + std::to_string(target->controlId));
    return kOk;
}

int RunCommand(Arguments args) {
    if (args.size() < 2) {
        return kUsage;
    }
    const auto target = FindTarget(args.first(1), false);
    const auto id = Number(args[1]);
    if (!target || !id) {
        return kFailed;
    }
    PostMessageW(target->window, WM_COMMAND, MAKEWPARAM(*id, 0), 0);
    PrintLine("posted " + std::to_string(*id));
    return kOk;
}

int RunEndSession(Arguments args) {
    if (args.size() != 2) {
        return kUsage;
    }
    const auto target = FindTarget(args.first(1), false);
    const auto flags = Number(args[1]);
    if (!target || !flags) {
        return kFailed;
    }
    if (!Ask(target->window, WM_ENDSESSION, TRUE, static_cast<LPARAM>(*flags))) {
        return kFailed;
    }
    PrintLine("ended session " + std::to_string(*flags));
    return kOk;
}

int RunSetText(Arguments args) {
    if (args.size() < 3) {
        return kUsage;
    }
    const auto target = FindTarget(args, true);
    if (!target) {
        return kFailed;
    }
    if (!Ask(target->control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[2].c_str()))) {
        PrintLine("no answer");
        return kFailed;
    }
    PrintLine("set " + std::to_string(target->controlId));
    return kOk;
}

int RunGetText(Arguments args) {
    const auto target = FindTarget(args, args.size() > 1);
    if (!target) {
        return kFailed;
    }
    PrintLine(
        Escaped(target->control != nullptr ? ControlText(target->control) : Title(target->window)));
    return kOk;
}

namespace {

// The calendar clock as Unix time with sub-second digits, comparable with the console's own.
double UnixNow() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const auto ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks) / 1e7 - 11644473600.0;
}

}  // namespace

int RunAnswerTimes(Arguments args) {
    if (args.size() != 4) {
        return kUsage;
    }
    const auto interval = Number(args[2]);
    const auto duration = Number(args[3]);
    if (!interval || !duration) {
        return kUsage;
    }
    // The wait for the window is not an answer of its program: questions begin once it is
    // shown, when its controls are all made.
    const HWND window = WaitForTitled(args[0], true, findTimeout);
    const auto id = Number(args[1]);
    const HWND control =
        window != nullptr && id ? GetDlgItem(window, static_cast<int>(*id)) : nullptr;
    if (control == nullptr) {
        PrintLine("no control " + Escaped(args[1]) + " in a shown " + Escaped(args[0]));
        return kFailed;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < *duration && IsWindow(window)) {
        const double sent = UnixNow();
        LARGE_INTEGER before;
        LARGE_INTEGER after;
        QueryPerformanceCounter(&before);
        const bool answered = Ask(control, WM_GETTEXTLENGTH, 0, 0).has_value();
        QueryPerformanceCounter(&after);
        if (!answered) {
            PrintLine("no answer " + Escaped(args[1]));
            return kFailed;
        }
        char line[64];
        std::snprintf(line, sizeof line, "%.6f\t%.6f", sent,
                      static_cast<double>(after.QuadPart - before.QuadPart) /
                          static_cast<double>(frequency.QuadPart));
        PrintLine(line);
        Sleep(static_cast<DWORD>(*interval));
    }
    return kOk;
}

int RunState(Arguments args) {
    const auto target = FindTarget(args, true);
    if (!target) {
        return kFailed;
    }
    const auto checked = Ask(target->control, BM_GETCHECK, 0, 0);
    PrintLine(std::string("enabled=") + (IsWindowEnabled(target->control) ? "1" : "0") +
              " visible=" + (IsWindowVisible(target->control) ? "1" : "0") +
              " checked=" + std::to_string(checked ? *checked : 0));
    return kOk;
}

int RunFocus(Arguments args) {
    const auto target = FindTarget(args, true);
    if (!target) {
        return kFailed;
    }
    SetForegroundWindow(target->window);
    Ask(target->window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target->control), TRUE);
    PrintLine("focused " + std::to_string(target->controlId));
    return kOk;
}

int RunExpose(Arguments args) {
    if (args.size() != 1) {
        return kUsage;
    }
    const HWND window = WaitForTitled(args[0], false, findTimeout);
    if (window == nullptr) {
        PrintLine("no window " + Utf8(args[0]));
        return kFailed;
    }
    // What a desktop without composition does where a window that covered this one went away:
    // the region is to be erased and painted, the erase left to the window's next BeginPaint.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
    PrintLine("exposed " + Utf8(args[0]));
    return kOk;
}

int RunBoxes(Arguments) {
    for (HWND window : TopWindows()) {
        if (IsWindowVisible(window) && IsDialog(window)) {
            PrintLine(BoxLine(window));
        }
    }
    return kOk;
}

int RunCloseBox(Arguments args) {
    if (args.empty()) {
        return kUsage;
    }
    const auto timeout =
        args.size() > 1 ? Number(args[1]) : std::optional<unsigned long>(findTimeout);
    if (!timeout) {
        return kUsage;
    }
    const HWND box = WaitForTitled(args[0], true, *timeout);
    if (box == nullptr) {
        PrintLine("no box " + Escaped(args[0]));
        return kFailed;
    }
    const std::string line = BoxLine(box);
    HWND button = GetDlgItem(box, IDOK);
    if (button == nullptr) {
        button = GetDlgItem(box, IDCANCEL);
    }
    if (button == nullptr) {
        PrintLine("no button in " + line);
        return kFailed;
    }
    PostMessageW(button, BM_CLICK, 0, 0);
    // Returns once the box is gone, so that the next step of a test sees its effects.
    const DWORD start = GetTickCount();
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (GetTickCount() - start >= findTimeout) {
            PrintLine("still open " + line);
            return kFailed;
        }
        Sleep(kPollInterval);
    }
    PrintLine("closed " + line);
    return kOk;
}

int RunWaitBox(Arguments args) {
    const auto timeout = args.size() > 1 ? Number(args[1]) : std::nullopt;
    if (!timeout) {
        return kUsage;
    }
    const HWND box = WaitForTitled(args[0], true, *timeout);
    if (box == nullptr) {
        PrintLine("no box " + Escaped(args[0]));
        return kFailed;
    }
    PrintLine("box " + BoxLine(box));
    return kOk;
}

int RunWindows(Arguments) {
    for (HWND window : TopWindows()) {
        if (!IsWindowVisible(window)) {
            continue;
        }
        RECT frame{};
        GetWindowRect(window, &frame);
        PrintLine(Escaped(ClassName(window)) + "\t" + Escaped(Title(window)) + "\t" +
                  std::to_string(frame.left) + "," + std::to_string(frame.top) + "," +
                  std::to_string(frame.right) + "," + std::to_string(frame.bottom));
    }
    return kOk;
}

}  // namespace vorlek::probe
