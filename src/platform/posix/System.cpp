#include "platform/System.h"

#include "platform/Path.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vp::platform {

uint32_t osMajorVersion() { return 10; }

std::string windowsFolder() { return {}; }

std::string loginUserName() {
    try {
        long size = sysconf(_SC_GETPW_R_SIZE_MAX);
        if (size <= 0) size = 16384;
        std::vector<char> buffer(static_cast<size_t>(size));
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name &&
            *found->pw_name) {
            return found->pw_name;
        }
        // Containers often run under a number that has no passwd entry.
        const char* user = std::getenv("USER");
        return (user && *user) ? user : "";
    } catch (...) {
        return {};
    }
}

bool createDirectory(const char* path) {
    if (!path || !*path) return false;
    try {
        return ::mkdir(toNativePath(path).c_str(), 0777) == 0;
    } catch (...) {
        return false;
    }
}

void sleepMilliseconds(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace vp::platform
