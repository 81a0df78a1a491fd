#include "support/TempDir.h"

#include "platform/Path.h"

#include <atomic>
#include <chrono>
#include <system_error>

namespace vp::test {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto candidate = base / ("vp-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            m_path = candidate;
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code error;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(m_path, error);
}

std::string TempDir::path(const std::string& relative) const {
    std::string result = platform::fromNativePath(m_path.string());
    if (!relative.empty()) {
        result += '\\';
        for (char c : relative) result += (c == '/') ? '\\' : c;
    }
    return result;
}

} // namespace vp::test
