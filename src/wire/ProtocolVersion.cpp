#include "wire/ProtocolVersion.h"

namespace vp {

namespace {

uint32_t checkValue(uint32_t word) { return ~(word >> 16) & 0xFFFF; }

} // namespace

ProtocolVersion::ProtocolVersion(uint32_t major, uint32_t minor, uint32_t build) {
    if (major > 15 || minor > 15 || build > 255) return;
    const uint32_t upper = build << 8 | major << 4 | minor;
    *this = fromWord(upper << 16 | (~upper & 0xFFFF));
}

ProtocolVersion ProtocolVersion::fromWord(uint32_t word) {
    ProtocolVersion version;
    version.m_word = word;
    version.m_received = true;
    version.m_checkValid = (word & 0xFFFF) == checkValue(word);
    const uint32_t major = (word >> 20) & 0xF;
    version.m_majorValid = major >= 1 && major <= 4;
    return version;
}

ProtocolVersion ProtocolVersion::own() { return ProtocolVersion(1, 3, 0); }

int32_t ProtocolVersion::compare(const ProtocolVersion& other) const {
    if (!isValid()) return -1;
    if (!other.isValid()) return 1;
    if (minor() != other.minor()) return minor() < other.minor() ? -1 : 1;
    if (build() != other.build()) return build() < other.build() ? -1 : 1;
    return 0;
}

} // namespace vp
