// What the path mapping of every platform shares.
#include "platform/Path.h"

#include <new>

namespace vp::platform {

std::string nativePathOrEmpty(const char* path) noexcept {
    try {
        return toNativePath(path);
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}

} // namespace vp::platform
