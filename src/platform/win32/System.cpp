#include "platform/System.h"

#include <windows.h>

namespace vp::platform {

uint32_t osMajorVersion() {
    // GetVersion's low byte is the major version. Without a manifest newer
    // systems report 6, which is all the start-up check asks about.
    return LOBYTE(LOWORD(GetVersion()));
}

std::string windowsFolder() {
    char buffer[1024] = {};
    const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return {};
    try {
        return std::string(buffer, length);
    } catch (...) {
        return {};
    }
}

std::string loginUserName() {
    char buffer[1024] = {};
    DWORD size = sizeof buffer;
    if (!GetUserNameA(buffer, &size)) return {};
    try {
        return buffer;
    } catch (...) {
        return {};
    }
}

bool createDirectory(const char* path) {
    if (!path || !*path) return false;
    return CreateDirectoryA(path, nullptr) != 0;
}

void sleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

} // namespace vp::platform
