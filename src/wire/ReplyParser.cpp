#include "wire/ReplyParser.h"

#include "foundation/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace vp {

uint32_t ReplyParser::wanted() const {
    if (m_outcome != Outcome::Pending) return 0;
    if (m_step == Step::Text) return m_header.length - m_textAt;
    return 4 - m_blockAt % 4;
}

uint32_t ReplyParser::consume(const uint8_t* bytes, uint32_t count) {
    if (bytes == nullptr) return 0;
    uint32_t taken = 0;
    while (taken < count && wanted() > 0) {
        const uint32_t part = std::min(wanted(), count - taken);
        if (m_step == Step::Text) {
            std::memcpy(m_text.data() + m_textAt, bytes + taken, part);
            m_textAt += part;
            if (m_textAt == m_header.length) finish(yes() ? Outcome::Yes : Outcome::No);
        } else {
            std::memcpy(m_block + m_blockAt, bytes + taken, part);
            m_blockAt += part;
            if (m_blockAt % 4 == 0) finishWord();
        }
        taken += part;
    }
    return taken;
}

// The block is taken word by word: a reply of another version is not read
// past its first word, and a reader whose connection drops knows which word
// it was waiting for.
void ReplyParser::finishWord() {
    switch (m_step) {
    case Step::Version:
        m_version = ProtocolVersion::fromWord(readLittleEndian32(m_block));
        if (m_version == m_expected) m_step = Step::Flag;
        else finish(Outcome::OtherVersion);
        break;
    case Step::Flag:
        m_header.code = readLittleEndian32(m_block + 4);
        m_step = Step::Length;
        break;
    case Step::Length:
        FrameHeader::decode(m_block, sizeof m_block, m_header);
        if (m_header.length == 0) {
            finish(yes() ? Outcome::Yes : Outcome::No);
            break;
        }
        // A length beyond the bound is treated as memory that cannot be had,
        // before anything is allocated.
        m_text = m_header.length <= wire::kMaxPayloadLength ? TextString(nullptr, m_header.length) : TextString::none();
        if (m_text.isValid()) m_step = Step::Text;
        else finish(Outcome::NoRoom);
        break;
    case Step::Text:
    case Step::Done:
        break;
    }
}

void ReplyParser::finish(Outcome outcome) {
    m_step = Step::Done;
    m_outcome = outcome;
}

} // namespace vp
