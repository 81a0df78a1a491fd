#pragma once
// One reply read as its bytes arrive: the version word, the YES/NO flag, the
// length, and the text the length announces. The parser asks for exactly the
// bytes of its current step, so a reader that gives it no more than wanted()
// never reads past the reply; a reply of another version than expected is
// not read past its first word.

#include "foundation/TextString.h"
#include "wire/FrameHeader.h"
#include "wire/ProtocolVersion.h"
#include "wire/Wire.h"

#include <cstdint>
#include <utility>

namespace vp {

class ReplyParser {
public:
    enum class Step { Version, Flag, Length, Text, Done };
    enum class Outcome {
        Pending,      // more bytes are wanted
        Yes,          // any nonzero flag
        No,
        OtherVersion, // the first word did not match
        NoRoom,       // the text is beyond the wire's bound or the memory is not there
    };

    explicit ReplyParser(const ProtocolVersion& expected) : m_expected(expected) {}

    // The bytes the current step still needs; 0 once the outcome is known.
    uint32_t wanted() const;
    // Takes as many of count bytes as the rest of the reply needs, and no
    // more; how many it took.
    uint32_t consume(const uint8_t* bytes, uint32_t count);

    Step step() const { return m_step; }
    Outcome outcome() const { return m_outcome; }
    // Valid from the flag on.
    bool yes() const { return m_header.code != wire::kNo; }
    // True once the version word has arrived.
    bool hasVersion() const { return m_step != Step::Version; }
    const ProtocolVersion& version() const { return m_version; }
    // The reply's text (the data of a YES, the reason of a NO), handed over.
    TextString takeText() { return std::move(m_text); }

private:
    void finishWord();
    void finish(Outcome outcome);

    ProtocolVersion m_expected;
    ProtocolVersion m_version;
    Step m_step = Step::Version;
    Outcome m_outcome = Outcome::Pending;
    uint8_t m_block[FrameHeader::kSize] = {};
    uint32_t m_blockAt = 0;
    FrameHeader m_header;
    TextString m_text;
    uint32_t m_textAt = 0;
};

} // namespace vp
