#pragma once
// The counted single-byte string that carries all text, and the raw byte field.
//
// Neither type throws. A failed allocation leaves a TextString with length 0 and
// no buffer (isValid() false) and a ByteBuffer empty; every reader treats such a
// string as empty.

#include <cstdint>

namespace vp {

class TextString {
public:
    TextString();                                     // empty: length 0, one NUL byte
    TextString(const char* text);                     // up to the first NUL; null is empty
    TextString(const char* bytes, uint32_t count);    // exactly count bytes (NULs kept), then a NUL
    TextString(const TextString& other);
    TextString(TextString&& other) noexcept;
    ~TextString();

    // The string a failed allocation leaves behind (length 0, no buffer), for
    // operations that report running out of memory through their result.
    static TextString none();

    TextString& operator=(const char* text);
    TextString& operator=(const TextString& other);
    TextString& operator=(TextString&& other) noexcept;

    // Both texts, each taken up to its first NUL.
    TextString operator+(const char* text) const;
    TextString operator+(const TextString& other) const;

    // Byte-wise and case-sensitive, up to the first NUL of either side.
    bool operator==(const TextString& other) const;
    bool operator==(const char* text) const;

    // A-Z and a-z compare equal; every other byte must match exactly.
    bool equalsIgnoreCase(const TextString& other) const;
    // A copy in which only A-Z become a-z.
    TextString lowerCased() const;
    // A copy with every run of c reduced to one c and c removed at both ends:
    // with '\\' it normalises folder paths, with ' ' it normalises words.
    TextString collapseSeparator(char c) const;

    uint32_t length() const { return m_length; }
    uint32_t size() const { return m_length; }
    // The buffer itself: null only after a failed allocation.
    const char* data() const { return m_data; }
    char* data() { return m_data; }
    // Never null: the text, or "" after a failed allocation.
    const char* c_str() const { return m_data ? m_data : ""; }
    bool isValid() const { return m_data != nullptr; }
    bool isEmpty() const { return m_length == 0 || m_data == nullptr || m_data[0] == '\0'; }

private:
    // Replaces the content with count bytes (and a NUL); on failure the string
    // becomes 0/null.
    void assignBytes(const char* bytes, uint32_t count);
    static TextString concat(const char* a, const char* b);
    void release();

    uint32_t m_length = 0;
    char* m_data = nullptr;
};

class ByteBuffer {
public:
    ByteBuffer() = default;                           // size 0, no data
    explicit ByteBuffer(uint32_t size);               // size zero bytes
    ByteBuffer(const void* bytes, uint32_t count);
    ByteBuffer(const ByteBuffer& other);
    ByteBuffer(ByteBuffer&& other) noexcept;
    ~ByteBuffer();

    ByteBuffer& operator=(const ByteBuffer& other);
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;

    // Same size keeps the content; any other size gives that many zero bytes.
    // 1, or 0 when the allocation failed (the buffer is then empty).
    uint32_t resize(uint32_t size);
    // Replaces the content; 1, or 0 when the allocation failed.
    uint32_t assign(const void* bytes, uint32_t count);
    // 1 when both hold the same number of bytes and the same bytes.
    uint32_t matches(const ByteBuffer& other) const;

    uint32_t size() const { return m_size; }
    const uint8_t* data() const { return m_data; }
    uint8_t* data() { return m_data; }

private:
    void release();

    uint32_t m_size = 0;
    uint8_t* m_data = nullptr;
};

} // namespace vp
