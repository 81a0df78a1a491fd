// The server's notices and answers as they arrive on the peer port and in
// the session: presence events, status answers, known-contact queries; and
// the session and stored-note requests as they arrive at the server.

#include "wire/SessionPayloads.h"
#include "wire/StoredNotePayloads.h"
#include "wire/Wire.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vp;
    if (size > wire::kMaxPayloadLength) return 0;
    const ByteBuffer payload(data, static_cast<uint32_t>(size));
    PresenceNotice notice;
    parseContactStatus(payload, notice);
    TextString address;
    uint32_t status = 0;
    parseStatusAnswer(TextString(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size)), address, status);
    TextString user;
    TextString server;
    parseKnownContactQuery(payload, user, server);
    LoginRequest login;
    parseLoginPayload(payload, login);
    PasswordChange change;
    parseChangePasswordPayload(payload, change);
    StatusQuery query;
    parseQueryStatusPayload(payload, query);
    LeaveNoteRequest leave;
    parseLeaveNotePayload(payload, leave);
    isWholeStoredNote(data, static_cast<uint32_t>(size));
    NoteDownLoadRequest download;
    parseNoteDownLoadPayload(payload, download);
    return 0;
}
