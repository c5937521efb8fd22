// Message boxes without owner window: how both programs tell the person at the machine about
// failures and events. Show returns when the person has closed the box; on Windows the box runs
// a nested message loop, so timers and datagrams may be handled inside the call.
#pragma once

#include <optional>
#include <string_view>

namespace vorlek {

enum class BoxIcon {
    None,         // MB_OK
    Information,  // MB_ICONINFORMATION
    Stop,         // MB_ICONHAND
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // A caption of nullopt leaves the system's default caption.
    virtual void Show(std::string_view text, std::optional<std::string_view> caption,
                      BoxIcon icon) = 0;
};

}  // namespace vorlek
