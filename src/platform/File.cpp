// Ownership of files and mappings, the same on every platform; opening,
// reading and mapping are in posix/ and win32/.
#include "platform/File.h"

#include <utility>

namespace vp::platform {

File::File(File&& other) noexcept : m_handle(std::exchange(other.m_handle, -1)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        m_handle = std::exchange(other.m_handle, -1);
    }
    return *this;
}

File::~File() { close(); }

FileMapping::FileMapping(FileMapping&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_valid(std::exchange(other.m_valid, false)) {}

FileMapping& FileMapping::operator=(FileMapping&& other) noexcept {
    if (this != &other) {
        reset();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_valid = std::exchange(other.m_valid, false);
    }
    return *this;
}

FileMapping::~FileMapping() { reset(); }

} // namespace vp::platform
