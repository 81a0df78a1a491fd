#pragma once
// The version word that opens every block on the wire.
//
// Packed: bits 24..31 build, 20..23 major (1..4), 16..19 minor, and in bits
// 0..15 a check value, the complement of bits 16..31. On the wire, byte by
// byte: check low, check high, major << 4 | minor, build. A word whose check
// or major is wrong is invalid, and every invalid version packs to
// 0xFFFFFFFF, so two invalid versions compare equal.

#include <cstdint>

namespace vp {

class ProtocolVersion {
public:
    static constexpr uint32_t kInvalidWord = 0xFFFFFFFF;

    // Empty: nothing received yet, invalid.
    ProtocolVersion() = default;
    // The version with these parts (invalid when a part is out of range).
    ProtocolVersion(uint32_t major, uint32_t minor, uint32_t build);
    // The version a received word carries.
    static ProtocolVersion fromWord(uint32_t word);
    // This system's own version, 1.3.0 (the word 0x0013FFEC).
    static ProtocolVersion own();

    bool isValid() const { return m_received && m_checkValid && m_majorValid; }
    // The word to send; 0xFFFFFFFF when invalid.
    uint32_t packed() const { return isValid() ? m_word : kInvalidWord; }
    uint32_t major() const { return (m_word >> 20) & 0xF; }
    uint32_t minor() const { return (m_word >> 16) & 0xF; }
    uint32_t build() const { return m_word >> 24; }

    // Equality of the packed values.
    bool operator==(const ProtocolVersion& other) const { return packed() == other.packed(); }
    // -1, 0 or 1 as this version is older than, as new as or newer than
    // other: an invalid version is older than any valid one; otherwise the
    // minor version decides, then the build. The major takes no part.
    int32_t compare(const ProtocolVersion& other) const;

private:
    uint32_t m_word = kInvalidWord;
    bool m_received = false;
    bool m_checkValid = false;
    bool m_majorValid = false;
};

} // namespace vp
