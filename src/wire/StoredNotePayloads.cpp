#include "wire/StoredNotePayloads.h"

#include "foundation/LittleEndian.h"
#include "wire/Payload.h"

#include <cstring>
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

PayloadWriter leaveNotePayload(const TextString& receiverText, uint32_t blockLength) {
    const void* at = std::memchr(receiverText.data(), '@', receiverText.length());
    const uint32_t userLength =
        at ? static_cast<uint32_t>(static_cast<const char*>(at) - receiverText.data()) : receiverText.length();
    PayloadWriter payload(uint64_t{receiverText.length()} + 8);
    payload.word(userLength);
    payload.word(blockLength);
    payload.text(TextString(receiverText.c_str(), userLength));
    // The writer's buffer starts as zero bytes.
    payload.skip(receiverText.length() - userLength);
    return payload;
}

PayloadWriter storedNoteBlock(const uint8_t* payload, uint32_t size) {
    PayloadWriter block(uint64_t{size} + 4);
    block.word(size);
    block.bytes(payload, size);
    return block;
}

std::vector<std::span<const uint8_t>> storedNoteRecords(const uint8_t* block, uint32_t size) {
    std::vector<std::span<const uint8_t>> records;
    uint32_t at = 0;
    while (size - at >= 4) {
        const uint32_t length = readLittleEndian32(block + at);
        if (length > size - at - 4) break;
        records.emplace_back(block + at + 4, length);
        at += 4 + length;
    }
    return records;
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

PayloadWriter noteDownLoadPayload(const TextString& userName, const TextString& password) {
    PayloadWriter payload(uint64_t{userName.length()} + password.length() + 8);
    payload.word(userName.length());
    payload.word(password.length());
    payload.text(userName);
    payload.text(password);
    return payload;
}

} // namespace vp
