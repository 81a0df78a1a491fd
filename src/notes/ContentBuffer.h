#pragma once
// The RTF text of a note: counted bytes (no NUL at the end) and a write
// position for filling it piece by piece, as the rich-edit stream does.

#include <cstdint>

namespace vp {

class ContentBuffer {
public:
    ContentBuffer() = default;
    ContentBuffer(const ContentBuffer& other);
    ContentBuffer& operator=(const ContentBuffer& other);
    ContentBuffer(ContentBuffer&& other) noexcept;
    ContentBuffer& operator=(ContentBuffer&& other) noexcept;
    ~ContentBuffer();

    // Copies count bytes; position 0. 1, or 0 when memory ran out (empty then).
    uint32_t assign(const void* bytes, uint32_t count);
    // count uninitialised bytes to be filled with write; position 0. 1 / 0.
    uint32_t allocate(uint32_t count);
    // Writes at the position and advances it; 0 (nothing written) when the
    // bytes would pass the end.
    uint32_t write(const void* bytes, uint32_t count);
    // Adds count bytes at the end; position 0. 1, or 0 when memory ran out
    // (the old content is kept then).
    uint32_t append(const void* bytes, uint32_t count);
    void clear();

    const char* data() const { return m_data; }
    char* data() { return m_data; }
    uint32_t size() const { return m_size; }
    uint32_t position() const { return m_position; }

private:
    char* m_data = nullptr;
    uint32_t m_size = 0;
    uint32_t m_position = 0;
};

} // namespace vp
