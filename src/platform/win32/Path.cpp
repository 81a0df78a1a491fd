#include "platform/Path.h"

namespace vp::platform {

// Windows paths are already in the system's form; only forward slashes that a
// caller may have written are turned round.
std::string toNativePath(const char* path) {
    std::string result = path ? path : "";
    for (char& c : result) {
        if (c == '/') c = '\\';
    }
    return result;
}

std::string fromNativePath(const std::string& nativePath) { return toNativePath(nativePath.c_str()); }

} // namespace vp::platform
