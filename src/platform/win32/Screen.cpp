#include "platform/Screen.h"

#include <windows.h>

namespace vp::platform {

ScreenSize maximizedWindowSize() {
    const int width = GetSystemMetrics(SM_CXMAXIMIZED);
    const int height = GetSystemMetrics(SM_CYMAXIMIZED);
    return ScreenSize{width > 0 ? static_cast<uint32_t>(width) : 0u, height > 0 ? static_cast<uint32_t>(height) : 0u};
}

} // namespace vp::platform
