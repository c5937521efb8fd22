// Message boxes without owner window, shown with MessageBoxA. The call returns when the person
// has closed the box; meanwhile the box's own message loop serves timers and socket messages.
#pragma once

#include <optional>
#include <string_view>

#include "link/message_boxes.h"

namespace vorlek {

class Win32MessageBoxes final : public MessageBoxes {
public:
    void Show(std::string_view text, std::optional<std::string_view> caption,
              BoxIcon icon) override;
};

}  // namespace vorlek
