#include "link/win32/message_boxes_win32.h"

#include <windows.h>

#include <string>

namespace vorlek {

namespace {

UINT BoxStyle(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Information:
            return MB_ICONINFORMATION;
        case BoxIcon::Stop:
            return MB_ICONHAND;
        case BoxIcon::None:
            break;
    }
    return MB_OK;
}

}  // namespace

void Win32MessageBoxes::Show(std::string_view text, std::optional<std::string_view> caption,
                             BoxIcon icon) {
    // MessageBoxA wants terminated strings; a null caption leaves the system's default one.
    const std::string terminatedText(text);
    const std::optional<std::string> terminatedCaption =
        caption ? std::optional<std::string>(std::string(*caption)) : std::nullopt;
    MessageBoxA(nullptr, terminatedText.c_str(),
                terminatedCaption ? terminatedCaption->c_str() : nullptr, BoxStyle(icon));
}

}  // namespace vorlek
