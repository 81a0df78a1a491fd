#pragma once
// The 12-byte block that opens every request and every reply: the version
// word, the command code (in a reply the YES/NO flag) and the length of the
// bytes that follow, each a little-endian 32-bit word.

#include "foundation/LittleEndian.h"

#include <array>
#include <cstdint>

namespace vp {

struct FrameHeader {
    static constexpr uint32_t kSize = 12;

    uint32_t version = 0;
    uint32_t code = 0;
    uint32_t length = 0;

    std::array<uint8_t, kSize> encode() const {
        std::array<uint8_t, kSize> bytes{};
        writeLittleEndian32(bytes.data(), version);
        writeLittleEndian32(bytes.data() + 4, code);
        writeLittleEndian32(bytes.data() + 8, length);
        return bytes;
    }

    // The block that opens count received bytes: 1, or 0 (header untouched)
    // when fewer than kSize bytes are there.
    static uint32_t decode(const uint8_t* bytes, uint32_t count, FrameHeader& header) {
        if (bytes == nullptr || count < kSize) return 0;
        header.version = readLittleEndian32(bytes);
        header.code = readLittleEndian32(bytes + 4);
        header.length = readLittleEndian32(bytes + 8);
        return 1;
    }
};

} // namespace vp
