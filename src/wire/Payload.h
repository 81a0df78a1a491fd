#pragma once
// Payloads on the wire: runs of little-endian words and texts without
// terminators, laid out by each exchange.
//
// PayloadWriter fills a buffer of a size known in advance and fails for good
// on a write that does not fit; PayloadReader takes words and texts from
// received bytes and refuses, without moving, anything that would run past
// their end.

#include "foundation/TextString.h"

#include <cstdint>

namespace vp {

class PayloadWriter {
public:
    // Room for size bytes; ok() is false when size is beyond the wire's
    // bound or the memory is not there.
    explicit PayloadWriter(uint64_t size);

    // False also once a write did not fit: the payload is short and must
    // not go out.
    bool ok() const { return m_ok; }
    // Each appends at the cursor; one that runs past the size makes the
    // writer fail.
    void word(uint32_t value);
    void text(const TextString& text);
    void bytes(const void* from, uint32_t count);
    // Leaves count zero bytes.
    void skip(uint32_t count) { bytes(nullptr, count); }

    // Null and 0 while the writer has failed, so that a short payload
    // cannot be sent even by a caller that forgot ok().
    const uint8_t* data() const { return m_ok ? m_buffer.data() : nullptr; }
    uint32_t size() const { return m_ok ? m_buffer.size() : 0; }

private:
    ByteBuffer m_buffer;
    uint32_t m_at = 0;
    bool m_ok = false;
};

class PayloadReader {
public:
    PayloadReader(const uint8_t* bytes, uint32_t size) : m_bytes(bytes), m_size(size) {}
    explicit PayloadReader(const ByteBuffer& buffer) : PayloadReader(buffer.data(), buffer.size()) {}
    explicit PayloadReader(const TextString& text)
        : PayloadReader(reinterpret_cast<const uint8_t*>(text.data()), text.length()) {}

    // Each is false, taking nothing, when the bytes left are too few.
    bool word(uint32_t& value);
    bool text(uint32_t length, TextString& text);
    // The bytes left, as a text.
    bool rest(TextString& text) { return this->text(remaining(), text); }
    uint32_t remaining() const { return m_size - m_at; }

private:
    const uint8_t* m_bytes;
    uint32_t m_size;
    uint32_t m_at = 0;
};

// Room for a payload of length bytes announced by the other side: 0 when
// length is beyond wire::kMaxPayloadLength or the memory is not there.
uint32_t allocatePayload(ByteBuffer& buffer, uint32_t length);

} // namespace vp
