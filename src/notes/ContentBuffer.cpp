#include "notes/ContentBuffer.h"

#include <cstring>
#include <new>
#include <utility>

namespace vp {

ContentBuffer::ContentBuffer(const ContentBuffer& other) {
    assign(other.m_data, other.m_size);
}

ContentBuffer& ContentBuffer::operator=(const ContentBuffer& other) {
    if (this != &other) assign(other.m_data, other.m_size);
    return *this;
}

ContentBuffer::ContentBuffer(ContentBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0u)),
      m_position(std::exchange(other.m_position, 0u)) {}

ContentBuffer& ContentBuffer::operator=(ContentBuffer&& other) noexcept {
    if (this != &other) {
        clear();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0u);
        m_position = std::exchange(other.m_position, 0u);
    }
    return *this;
}

ContentBuffer::~ContentBuffer() {
    clear();
}

void ContentBuffer::clear() {
    delete[] m_data;
    m_data = nullptr;
    m_size = 0;
    m_position = 0;
}

uint32_t ContentBuffer::allocate(uint32_t count) {
    char* fresh = count ? new (std::nothrow) char[count] : nullptr;
    if (count && !fresh) {
        clear();
        return 0;
    }
    clear();
    m_data = fresh;
    m_size = count;
    return 1;
}

uint32_t ContentBuffer::assign(const void* bytes, uint32_t count) {
    if (count && !bytes) return 0;
    // The source may be this buffer's own bytes: copy before releasing them.
    char* fresh = count ? new (std::nothrow) char[count] : nullptr;
    if (count && !fresh) {
        clear();
        return 0;
    }
    if (count) std::memcpy(fresh, bytes, count);
    clear();
    m_data = fresh;
    m_size = count;
    return 1;
}

uint32_t ContentBuffer::write(const void* bytes, uint32_t count) {
    if (count == 0) return 1;
    if (!bytes || count > m_size - m_position) return 0;
    std::memcpy(m_data + m_position, bytes, count);
    m_position += count;
    return 1;
}

uint32_t ContentBuffer::append(const void* bytes, uint32_t count) {
    if (count == 0) {
        m_position = 0;
        return 1;
    }
    if (!bytes || count > UINT32_MAX - m_size) return 0;
    char* fresh = new (std::nothrow) char[m_size + count];
    if (!fresh) return 0;
    if (m_size) std::memcpy(fresh, m_data, m_size);
    std::memcpy(fresh + m_size, bytes, count);
    const uint32_t size = m_size + count;
    clear();
    m_data = fresh;
    m_size = size;
    return 1;
}

} // namespace vp
