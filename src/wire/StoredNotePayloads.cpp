#include "wire/StoredNotePayloads.h"

#include "foundation/LittleEndian.h"
#include "wire/Payload.h"

#include <utility>

namespace vp {

uint32_t parseLeaveNotePayload(const ByteBuffer& payload, LeaveNoteRequest& request) {
    PayloadReader reader(payload);
    uint32_t userLength = 0;
    LeaveNoteRequest parsed;
    if (!reader.word(userLength) || !reader.word(parsed.blockLength) || !reader.text(userLength, parsed.userName))
        return 0;
    request = std::move(parsed);
    return 1;
}

uint32_t isWholeStoredNote(const uint8_t* block, uint32_t size) {
    return size >= 4 && readLittleEndian32(block) == size - 4 ? 1 : 0;
}

uint32_t parseNoteDownLoadPayload(const ByteBuffer& payload, NoteDownLoadRequest& request) {
    PayloadReader reader(payload);
    uint32_t userLength = 0;
    uint32_t passwordLength = 0;
    NoteDownLoadRequest parsed;
    if (!reader.word(userLength) || !reader.word(passwordLength) || !reader.text(userLength, parsed.userName) ||
        !reader.text(passwordLength, parsed.password) || reader.remaining() != 0)
        return 0;
    request = std::move(parsed);
    return 1;
}

} // namespace vp
