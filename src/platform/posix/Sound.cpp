#include "platform/Sound.h"

namespace vp::platform {

// The Linux programs are headless: the server and the robot have nobody to
// play a sound to.
bool playSoundFile(const char*) { return false; }

} // namespace vp::platform
