#pragma once
// The byte layouts of leaving a note on the server for an offline user and
// of downloading the notes kept there, apart from the sockets that carry
// them. Parsers give 1 when the bytes hold the whole layout and 0, touching
// nothing, otherwise.

#include "foundation/TextString.h"

#include "wire/Payload.h"

#include <cstdint>
#include <span>
#include <vector>

namespace vp {

// What the request to leave a note says: {U, D, user name, zero bytes}. The
// zero bytes stand for the rest of a receiver text that named a server
// ("ann@mainhub") and carry nothing; D is the length of the stored-note
// block that follows the request's second reply.
struct LeaveNoteRequest {
    TextString userName;
    uint32_t blockLength = 0;
};
uint32_t parseLeaveNotePayload(const ByteBuffer& payload, LeaveNoteRequest& request);
// The request's payload for receiverText ("ann", or "ann@mainhub" whose
// server part goes as that many zero bytes) and a block of blockLength.
PayloadWriter leaveNotePayload(const TextString& receiverText, uint32_t blockLength);

// A stored-note block is {u32 P, then P bytes}; 1 when size bytes hold
// exactly that.
uint32_t isWholeStoredNote(const uint8_t* block, uint32_t size);
// {P, the P bytes of payload}.
PayloadWriter storedNoteBlock(const uint8_t* payload, uint32_t size);
// The records of a downloaded block of stored notes, in order: each the P
// bytes after its length word. A length that passes the end of the block
// ends the walk.
std::vector<std::span<const uint8_t>> storedNoteRecords(const uint8_t* block, uint32_t size);

// {U, P, user name, password}, and nothing after it.
struct NoteDownLoadRequest {
    TextString userName;
    TextString password;
};
uint32_t parseNoteDownLoadPayload(const ByteBuffer& payload, NoteDownLoadRequest& request);
PayloadWriter noteDownLoadPayload(const TextString& userName, const TextString& password);

} // namespace vp
