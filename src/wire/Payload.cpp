#include "wire/Payload.h"

#include "foundation/LittleEndian.h"
#include "wire/Wire.h"

#include <cstring>
#include <utility>

namespace vp {

PayloadWriter::PayloadWriter(uint64_t size) {
    m_ok = size <= wire::kMaxPayloadLength && m_buffer.resize(static_cast<uint32_t>(size)) == 1;
}

void PayloadWriter::word(uint32_t value) {
    if (!m_ok) return;
    if (m_buffer.size() - m_at < 4) {
        m_ok = false;
        return;
    }
    writeLittleEndian32(m_buffer.data() + m_at, value);
    m_at += 4;
}

void PayloadWriter::text(const TextString& text) { bytes(text.data(), text.length()); }

void PayloadWriter::bytes(const void* from, uint32_t count) {
    if (!m_ok || count == 0) return;
    if (m_buffer.size() - m_at < count) {
        m_ok = false;
        return;
    }
    if (from) std::memcpy(m_buffer.data() + m_at, from, count);
    m_at += count;
}

uint32_t allocatePayload(ByteBuffer& buffer, uint32_t length) {
    if (length > wire::kMaxPayloadLength) return 0;
    return buffer.resize(length);
}

bool PayloadReader::word(uint32_t& value) {
    if (remaining() < 4) return false;
    value = readLittleEndian32(m_bytes + m_at);
    m_at += 4;
    return true;
}

bool PayloadReader::text(uint32_t length, TextString& text) {
    if (remaining() < length) return false;
    TextString taken(reinterpret_cast<const char*>(m_bytes + m_at), length);
    if (!taken.isValid()) return false;
    text = std::move(taken);
    m_at += length;
    return true;
}

} // namespace vp
