#include "platform/Screen.h"

namespace vp::platform {

ScreenSize maximizedWindowSize() {
    // The server and the robot never show a note; any stable size will do.
    return ScreenSize{1024, 768};
}

} // namespace vp::platform
