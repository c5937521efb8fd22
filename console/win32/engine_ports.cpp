#include "console/win32/engine_ports.h"

#include <ctime>

#include "console/resource.h"

namespace vorlek {

LRESULT StationListBox::Send(UINT message, WPARAM wParam, LPARAM lParam) const {
    if (listBox_ == nullptr) {
        return LB_ERR;
    }
    return SendMessageA(listBox_, message, wParam, lParam);
}

int StationListBox::Add(const std::string& text) {
    return static_cast<int>(Send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int StationListBox::FindPrefix(int start, const std::string& prefix) {
    return static_cast<int>(
        Send(LB_FINDSTRING, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(prefix.c_str())));
}

void StationListBox::Delete(int index) {
    Send(LB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

void StationListBox::HoldDrawing() {
    Send(WM_SETREDRAW, FALSE, 0);
}

void StationListBox::ReleaseDrawing() {
    Send(WM_SETREDRAW, TRUE, 0);
    if (listBox_ != nullptr) {
        InvalidateRect(listBox_, nullptr, TRUE);
    }
}

void StationListBox::SetSelected(int index, bool selected) {
    Send(LB_SETSEL, selected ? TRUE : FALSE, index);
}

bool StationListBox::IsSelected(int index) {
    return Send(LB_GETSEL, static_cast<WPARAM>(index), 0) > 0;
}

std::optional<std::string> StationListBox::Text(int index) {
    // The length first, so that no row can overrun the buffer it is read into.
    const LRESULT length = Send(LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) {
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT copied =
        Send(LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    if (copied < 0) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

std::vector<int> StationListBox::SelectedIndices(std::size_t max) {
    std::vector<int> indices(max);
    const LRESULT count = Send(LB_GETSELITEMS, max, reinterpret_cast<LPARAM>(indices.data()));
    indices.resize(count < 0 ? 0 : static_cast<std::size_t>(count));
    return indices;
}

void MainDialogWindow::SetDeathTimerText(const std::string& text) {
    if (mainDialog_ != nullptr) {
        SetDlgItemTextA(mainDialog_, IDC_DEATH_TIMER, text.c_str());
        SendDlgItemMessageA(mainDialog_, IDC_DEATH_TIMER, EM_SETMODIFY, FALSE, 0);
    }
}

bool MainDialogWindow::DeathTimerTyped() {
    return mainDialog_ != nullptr &&
           SendDlgItemMessageA(mainDialog_, IDC_DEATH_TIMER, EM_GETMODIFY, 0, 0) != 0;
}

void MainDialogWindow::BringToForeground() {
    if (mainDialog_ != nullptr) {
        SetForegroundWindow(mainDialog_);
    }
}

std::uint32_t CalendarClock::Now() {
    return static_cast<std::uint32_t>(std::time(nullptr));
}

}  // namespace vorlek
