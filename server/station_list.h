// The console's station list: a sorted list box with multiple selection, one row per station.
// The methods follow the list-box messages the console uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlek {

class StationList {
public:
    virtual ~StationList() = default;
    // LB_ADDSTRING: sorts the row in and returns its index.
    virtual int Add(const std::string& text) = 0;
    // LB_FINDSTRING: the first row after index start, wrapping to the top, whose text begins
    // with prefix (letter case ignored); -1 when none does.
    virtual int FindPrefix(int start, const std::string& prefix) = 0;
    // LB_DELETESTRING.
    virtual void Delete(int index) = 0;
    // LB_SETSEL; an index beyond the last row has no effect.
    virtual void SetSelected(int index, bool selected) = 0;
    // LB_GETSEL; false for an index beyond the last row.
    virtual bool IsSelected(int index) = 0;
    // LB_GETTEXT; nullopt when there is no such row.
    virtual std::optional<std::string> Text(int index) = 0;
    // LB_GETSELITEMS: the selected indices in ascending order, at most max of them.
    virtual std::vector<int> SelectedIndices(std::size_t max) = 0;
    // WM_SETREDRAW: while held, row changes are not drawn one by one; the release draws the list
    // as it then is. The engine holds the drawing only for a run of changes that shows no box.
    virtual void HoldDrawing() {}
    virtual void ReleaseDrawing() {}
};

// The rest of the main dialog that the engine touches.
class ConsoleWindow {
public:
    virtual ~ConsoleWindow() = default;
    // The text of the Death Timer edit 1008. Writing it ends what DeathTimerTyped tells.
    virtual void SetDeathTimerText(const std::string& text) = 0;
    // EM_GETMODIFY: whether the operator has typed into the Death Timer edit since its text was
    // last written.
    virtual bool DeathTimerTyped() = 0;
    // SetForegroundWindow on the main dialog.
    virtual void BringToForeground() = 0;
};

// The calendar clock in whole seconds since 1970.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t Now() = 0;
};

}  // namespace vorlek
