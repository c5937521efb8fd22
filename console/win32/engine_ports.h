// What the engine talks to in the console: list box 1006 as the station list, the rest of the
// main dialog (the Death Timer edit, the foreground) and the calendar clock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/station_list.h"

namespace vorlek {

// List box 1006 (sorted, multiple selection). Until Attach and after Detach there is no list:
// nothing is added, found, read or selected.
class StationListBox final : public StationList {
public:
    void Attach(HWND listBox) { listBox_ = listBox; }
    void Detach() { listBox_ = nullptr; }

    int Add(const std::string& text) override;
    int FindPrefix(int start, const std::string& prefix) override;
    void Delete(int index) override;
    void SetSelected(int index, bool selected) override;
    bool IsSelected(int index) override;
    std::optional<std::string> Text(int index) override;
    std::vector<int> SelectedIndices(std::size_t max) override;
    void HoldDrawing() override;
    void ReleaseDrawing() override;

private:
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) const;

    HWND listBox_ = nullptr;
};

class MainDialogWindow final : public ConsoleWindow {
public:
    void Attach(HWND mainDialog) { mainDialog_ = mainDialog; }
    void Detach() { mainDialog_ = nullptr; }

    void SetDeathTimerText(const std::string& text) override;
    bool DeathTimerTyped() override;
    void BringToForeground() override;

private:
    HWND mainDialog_ = nullptr;
};

// time(), in whole seconds since 1970, cut to 32 bits.
class CalendarClock final : public Clock {
public:
    std::uint32_t Now() override;
};

}  // namespace vorlek
