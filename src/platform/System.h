#pragma once
// The facts about the machine and the user that start-up needs, and the two
// small services it uses (making a folder, pausing).

#include <cstdint>
#include <string>

namespace vp::platform {

// The major version of Windows. The POSIX programs are no Windows client and
// only have to pass the start-up check: 10 there.
uint32_t osMajorVersion();
// The Windows folder in the system's form; empty on POSIX and on failure.
std::string windowsFolder();
// The name the user logged on with; empty when it cannot be found.
std::string loginUserName();
// Makes one folder (path in the system's form). false when nothing was made,
// also when the folder is there already.
bool createDirectory(const char* path);
void sleepMilliseconds(uint32_t milliseconds);

} // namespace vp::platform
