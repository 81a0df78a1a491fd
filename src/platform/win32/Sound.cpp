#include "platform/Sound.h"

#include <windows.h>
#include <mmsystem.h>

namespace vp::platform {

bool playSoundFile(const char* path) {
    if (!path || !*path) return false;
    // Asynchronous, so that the contact model's thread never waits for the
    // sound; no default sound, so that a missing file stays silent.
    return PlaySoundA(path, nullptr, SND_ASYNC | SND_NODEFAULT | SND_FILENAME) != FALSE;
}

} // namespace vp::platform
