#include "platform/Path.h"

#include <cctype>

namespace vp::platform {

std::string toNativePath(const char* path) {
    std::string result = path ? path : "";
    // "Z:\x" (any drive letter) is the POSIX root.
    if (result.size() >= 2 && std::isalpha(static_cast<unsigned char>(result[0])) && result[1] == ':') {
        result.erase(0, 2);
        if (result.empty() || (result[0] != '\\' && result[0] != '/')) result.insert(0, 1, '/');
    }
    for (char& c : result) {
        if (c == '\\') c = '/';
    }
    return result;
}

std::string fromNativePath(const std::string& nativePath) {
    std::string result = nativePath;
    for (char& c : result) {
        if (c == '/') c = '\\';
    }
    if (!result.empty() && result[0] == '\\') result.insert(0, "Z:");
    return result;
}

} // namespace vp::platform
