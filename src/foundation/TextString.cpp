#include "foundation/TextString.h"

#include <cstring>
#include <new>
#include <utility>

namespace vp {

namespace {

// Bytes of a possibly null text up to its first NUL.
uint32_t textLength(const char* text) {
    return text ? static_cast<uint32_t>(std::strlen(text)) : 0;
}

} // namespace

TextString::TextString() { assignBytes(nullptr, 0); }

TextString::TextString(const char* text) { assignBytes(text, textLength(text)); }

TextString::TextString(const char* bytes, uint32_t count) { assignBytes(bytes, count); }

TextString::TextString(const TextString& other) { assignBytes(other.m_data, other.m_data ? other.m_length : 0); }

TextString::TextString(TextString&& other) noexcept
    : m_length(std::exchange(other.m_length, 0)), m_data(std::exchange(other.m_data, nullptr)) {}

TextString::~TextString() { release(); }

TextString TextString::none() {
    TextString result;
    result.release();
    return result;
}

TextString& TextString::operator=(const char* text) {
    if (text == m_data) return *this;
    // The text may point into our own buffer; copy before freeing.
    TextString copy(text);
    *this = std::move(copy);
    return *this;
}

TextString& TextString::operator=(const TextString& other) {
    if (this == &other) return *this;
    TextString copy(other);
    *this = std::move(copy);
    return *this;
}

TextString& TextString::operator=(TextString&& other) noexcept {
    if (this == &other) return *this;
    release();
    m_length = std::exchange(other.m_length, 0);
    m_data = std::exchange(other.m_data, nullptr);
    return *this;
}

TextString TextString::operator+(const char* text) const { return concat(m_data, text); }

TextString TextString::operator+(const TextString& other) const { return concat(m_data, other.m_data); }

TextString TextString::concat(const char* a, const char* b) {
    const uint32_t lengthA = textLength(a);
    const uint32_t lengthB = textLength(b);
    TextString result;
    if (static_cast<uint64_t>(lengthA) + lengthB >= UINT32_MAX) {
        result.release();
        return result;
    }
    result.assignBytes(nullptr, lengthA + lengthB);
    if (result.m_data) {
        if (lengthA) std::memcpy(result.m_data, a, lengthA);
        if (lengthB) std::memcpy(result.m_data + lengthA, b, lengthB);
    }
    return result;
}

bool TextString::operator==(const TextString& other) const { return *this == other.m_data; }

bool TextString::operator==(const char* text) const {
    return std::strcmp(c_str(), text ? text : "") == 0;
}

bool TextString::equalsIgnoreCase(const TextString& other) const {
    // Like operator==, the comparison ends at the first NUL of either side.
    const char* a = c_str();
    const char* b = other.c_str();
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a);
        unsigned char y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
        if (x == 0) return true;
    }
}

TextString TextString::lowerCased() const {
    TextString copy(*this);
    for (uint32_t i = 0; copy.m_data && i < copy.m_length; ++i) {
        char& c = copy.m_data[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return copy;
}

TextString TextString::collapseSeparator(char c) const {
    TextString result;
    if (!m_data || m_length == 0) return result;
    result.assignBytes(nullptr, m_length);
    if (!result.m_data) return result;
    uint32_t out = 0;
    bool pendingSeparator = false;
    for (uint32_t i = 0; i < m_length; ++i) {
        if (m_data[i] == c) {
            // A separator is written only when more text follows it, which
            // drops runs at both ends and folds runs in between.
            pendingSeparator = out > 0;
            continue;
        }
        if (pendingSeparator) result.m_data[out++] = c;
        pendingSeparator = false;
        result.m_data[out++] = m_data[i];
    }
    result.m_data[out] = '\0';
    result.m_length = out;
    return result;
}

void TextString::assignBytes(const char* bytes, uint32_t count) {
    char* fresh = (count == UINT32_MAX) ? nullptr : new (std::nothrow) char[static_cast<size_t>(count) + 1];
    release();
    if (!fresh) return;
    if (bytes && count) std::memcpy(fresh, bytes, count);
    else std::memset(fresh, 0, count);
    fresh[count] = '\0';
    m_data = fresh;
    m_length = count;
}

void TextString::release() {
    delete[] m_data;
    m_data = nullptr;
    m_length = 0;
}

ByteBuffer::ByteBuffer(uint32_t size) { resize(size); }

ByteBuffer::ByteBuffer(const void* bytes, uint32_t count) { assign(bytes, count); }

ByteBuffer::ByteBuffer(const ByteBuffer& other) { assign(other.m_data, other.m_size); }

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : m_size(std::exchange(other.m_size, 0)), m_data(std::exchange(other.m_data, nullptr)) {}

ByteBuffer::~ByteBuffer() { release(); }

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other) {
    if (this != &other) assign(other.m_data, other.m_size);
    return *this;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this == &other) return *this;
    release();
    m_size = std::exchange(other.m_size, 0);
    m_data = std::exchange(other.m_data, nullptr);
    return *this;
}

uint32_t ByteBuffer::resize(uint32_t size) {
    if (size == m_size) return 1;
    release();
    if (size == 0) return 1;
    uint8_t* fresh = new (std::nothrow) uint8_t[size]();
    if (!fresh) return 0;
    m_data = fresh;
    m_size = size;
    return 1;
}

uint32_t ByteBuffer::assign(const void* bytes, uint32_t count) {
    if (count == 0) {
        release();
        return 1;
    }
    if (!bytes) return 0;
    // The bytes may lie inside our own buffer; copy before freeing.
    uint8_t* fresh = new (std::nothrow) uint8_t[count];
    if (!fresh) {
        release();
        return 0;
    }
    std::memcpy(fresh, bytes, count);
    release();
    m_data = fresh;
    m_size = count;
    return 1;
}

uint32_t ByteBuffer::matches(const ByteBuffer& other) const {
    if (m_size != other.m_size) return 0;
    if (m_size == 0) return 1;
    return std::memcmp(m_data, other.m_data, m_size) == 0 ? 1 : 0;
}

void ByteBuffer::release() {
    delete[] m_data;
    m_data = nullptr;
    m_size = 0;
}

} // namespace vp
