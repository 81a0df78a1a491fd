#pragma once
// The notification area's icons of a window: each has an identifier, which
// is also the message its mouse events arrive as.

#include "foundation/TextString.h"

#include <windows.h>

#include <cstdint>

namespace vp {

// NIM_ADD with the icon and the message, and the tip when it is not empty.
bool addTrayIcon(HWND window, HICON icon, uint32_t identifier, const TextString& tip);
// NIM_MODIFY of the icon when one is given and of the tip when it is not
// empty.
bool modifyTrayIcon(HWND window, HICON icon, uint32_t identifier, const TextString& tip);
bool removeTrayIcon(HWND window, uint32_t identifier);

} // namespace vp
