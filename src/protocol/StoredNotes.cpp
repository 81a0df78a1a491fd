// Notes kept on the server for a user who is not online: leaving one there,
// and downloading those kept for this user.

#include "protocol/ClientProtocol.h"
#include "protocol/ServerTexts.h"
#include "wire/StoredNotePayloads.h"
#include "wire/Wire.h"

#include <utility>

namespace vp {

namespace {

constexpr char kGeneralError[] = "General Error.";
constexpr char kNoMemory[] = "Sorry. There is not enough memory to complete this operation.";
using server_texts::kNotResponding;
constexpr const char* kLost = server_texts::kConnectionLost;
constexpr char kUnexpectedlyLost[] = "Sorry.  Network communication is unexpectedly lost.";
constexpr char kFinalLost[] = "Network communication is lost.";
using server_texts::kRefused;
constexpr char kUnsupported[] = "The server does not support this operation.";
constexpr char kOperationRefused[] = "The server has refused this operation.";

} // namespace

void ClientProtocol::explainRefusal(const char* sameVersion, const char* otherVersion) {
    if (m_errorText.isEmpty()) m_errorText = m_replyVersion == m_ownVersion ? sameVersion : otherVersion;
}

uint32_t ClientProtocol::LeaveNote(TcpSocket& socket, const TextString& receiverText, const uint8_t* block,
                                   uint32_t blockLength) {
    if (!socket.IsConnected() || (block == nullptr && blockLength != 0)) {
        m_errorText = kGeneralError;
        return 0;
    }
    const PayloadWriter payload = leaveNotePayload(receiverText, blockLength);
    if (!payload.ok()) {
        m_errorText = kNoMemory;
        return 0;
    }
    if (!sendHeader(socket, wire::kLeaveNote, payload.size())) {
        m_errorText = kNotResponding;
        return 0;
    }
    // The request's YES, then the payload's; the block, then the final one.
    const std::pair<const uint8_t*, uint32_t> sends[] = {{payload.data(), payload.size()}, {block, blockLength}};
    for (const auto& [bytes, count] : sends) {
        const int32_t reply = GetYesNo(socket, m_ownVersion);
        if (reply != 1) {
            if (reply < 0) m_errorText = kLost;
            else explainRefusal(kRefused, kUnsupported);
            return 0;
        }
        if (!SendAll(socket, bytes, count)) {
            m_errorText = kLost;
            return 0;
        }
    }
    const int32_t stored = GetYesNo(socket, m_ownVersion);
    if (stored == 1) return 1;
    if (stored < 0) m_errorText = kUnexpectedlyLost;
    else explainRefusal(kRefused, kUnsupported);
    return 0;
}

uint32_t ClientProtocol::NoteDownLoad(TcpSocket& socket, const TextString& userName, const TextString& password,
                                      ByteBuffer& notes) {
    notes = ByteBuffer();
    if (!socket.IsConnected()) return 0;
    const PayloadWriter payload = noteDownLoadPayload(userName, password);
    if (!payload.ok()) {
        m_errorText = kNoMemory;
        return 0;
    }
    if (!sendHeader(socket, wire::kNoteDownLoad, payload.size())) {
        m_errorText = kNotResponding;
        return 0;
    }
    const int32_t accepted = GetYesNo(socket, m_ownVersion);
    if (accepted != 1) {
        if (accepted < 0) m_errorText = kLost;
        else explainRefusal(kRefused, kUnsupported);
        return 0;
    }
    if (!SendAll(socket, payload.data(), payload.size())) {
        m_errorText = kLost;
        return 0;
    }
    // {version, 1, size} announces the block, {version, 0, 0} says there is
    // nothing.
    uint8_t block[FrameHeader::kSize];
    FrameHeader announcement;
    if (!RecvAll(socket, block, sizeof block) || !FrameHeader::decode(block, sizeof block, announcement) ||
        announcement.version != m_ownVersion.packed() || announcement.code > wire::kYes) {
        m_errorText = kLost;
        return 0;
    }
    if (announcement.code == wire::kNo) {
        m_errorText = kRefused;
        return 0;
    }
    ByteBuffer received;
    if (announcement.length > 0) {
        // A block the wire does not allow, or that does not fit, is turned
        // down: the server keeps the notes for another try.
        if (!allocatePayload(received, announcement.length)) {
            SendReply(socket, m_ownVersion.packed(), wire::kNo, TextString());
            m_errorText = kNoMemory;
            return 0;
        }
        if (!SendReply(socket, m_ownVersion.packed(), wire::kYes, TextString()) ||
            !RecvAll(socket, received.data(), received.size()) ||
            !SendReply(socket, m_ownVersion.packed(), wire::kYes, TextString())) {
            m_errorText = kLost;
            return 0;
        }
    } else if (!SendReply(socket, m_ownVersion.packed(), wire::kNo, TextString())) {
        m_errorText = kLost;
        return 0;
    }
    // The server deletes the notes it sent before its final YES.
    const int32_t done = GetYesNo(socket, m_ownVersion);
    if (done != 1) {
        if (done < 0) m_errorText = kFinalLost;
        else explainRefusal(kRefused, kOperationRefused);
        return 0;
    }
    notes = std::move(received);
    return 1;
}

} // namespace vp
