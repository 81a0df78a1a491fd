#pragma once
// The size of a maximised window, which places new notes and centres replies.

#include <cstdint>

namespace vp::platform {

struct ScreenSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

// Windows: the maximised-window metrics. POSIX programs have no desktop of
// their own; they answer a fixed 1024 x 768 so that placement stays defined.
ScreenSize maximizedWindowSize();

} // namespace vp::platform
