// The framing: replies read field by field, complete sends and receives,
// and the dispatch of one request that arrives on the peer port.

#include "protocol/ClientProtocol.h"

#include "foundation/LittleEndian.h"
#include "notes/NoteRecord.h"
#include "wire/ReplyParser.h"
#include "wire/Wire.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

namespace vp {

namespace {

constexpr int64_t kUntimed = -1;

// A reply's text is received in runs of at most this many bytes.
constexpr uint32_t kReceiveChunk = 4096;

TextString diagnostic(const char* step) {
    return TextString("ClientProtocol::GetYesNo(): (_INVALID_YESNO_ ") + step + ")";
}

// The step of a reply whose bytes stopped coming, as the diagnostic names it.
const char* lostStep(const ReplyParser& reply) {
    switch (reply.step()) {
    case ReplyParser::Step::Version:
        return "1";
    case ReplyParser::Step::Flag:
        return "2";
    case ReplyParser::Step::Length:
        return reply.yes() ? "YES-1" : "NO-1";
    case ReplyParser::Step::Text:
    case ReplyParser::Step::Done:
        break;
    }
    return reply.yes() ? "YES-3" : "NO-2";
}

// Exactly count bytes, each receive waiting at most seconds (kUntimed: as
// long as it takes).
uint32_t receiveExactly(TcpSocket& socket, void* buffer, uint32_t count, int64_t seconds) {
    if (!socket.IsValid() || buffer == nullptr || count == 0) return 0;
    auto* at = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        const uint32_t received =
            seconds == kUntimed ? socket.Recv(at, count) : socket.RecvTimed(at, count, static_cast<uint32_t>(seconds));
        if (received == 0) return 0;
        at += received;
        count -= received;
    }
    return 1;
}

} // namespace

ClientProtocol::ClientProtocol(const ProtocolContext& context)
    : m_context(context), m_ownVersion(ProtocolVersion::own()) {}

ClientProtocol::~ClientProtocol() {
    if (m_socket.IsConnected()) m_socket.Reset();
}

int32_t ClientProtocol::GetYesNo(TcpSocket& socket, const ProtocolVersion& expected) {
    return readReply(socket, expected, kUntimed);
}

int32_t ClientProtocol::GetYesNoTimed(TcpSocket& socket, const ProtocolVersion& expected,
                                      uint32_t timeoutMilliseconds) {
    return readReply(socket, expected, timeoutMilliseconds);
}

// The parser decides what each received run of bytes means; this only
// moves them. A reply of another version is left unread after its first
// word: the caller abandons the connection. The timed form leaves no
// diagnostics.
int32_t ClientProtocol::readReply(TcpSocket& socket, const ProtocolVersion& expected, int64_t timeoutMilliseconds) {
    const bool diagnostics = timeoutMilliseconds == kUntimed;
    m_errorText = "";
    m_replyText = "";
    ReplyParser reply(expected);
    uint8_t chunk[kReceiveChunk];
    while (reply.wanted() > 0) {
        const uint32_t count = std::min(reply.wanted(), kReceiveChunk);
        if (!receive(socket, chunk, count, timeoutMilliseconds)) {
            if (diagnostics) m_replyText = diagnostic(lostStep(reply));
            return -1;
        }
        reply.consume(chunk, count);
        if (reply.hasVersion()) m_replyVersion = reply.version();
    }
    switch (reply.outcome()) {
    case ReplyParser::Outcome::Yes:
        m_replyText = reply.takeText();
        return 1;
    case ReplyParser::Outcome::No:
        m_errorText = reply.takeText();
        return 0;
    case ReplyParser::Outcome::NoRoom:
        // A NO whose reason cannot be taken is still a NO.
        if (!reply.yes()) return 0;
        if (diagnostics) m_replyText = diagnostic("YES-2");
        return -1;
    case ReplyParser::Outcome::OtherVersion:
    case ReplyParser::Outcome::Pending:
        break;
    }
    return 0;
}

uint32_t ClientProtocol::receive(TcpSocket& socket, void* buffer, uint32_t count, int64_t timeoutMilliseconds) {
    if (timeoutMilliseconds == kUntimed) return RecvAll(socket, buffer, count);
    return RecvAllTimed(socket, buffer, count, static_cast<uint32_t>(timeoutMilliseconds));
}

uint32_t ClientProtocol::SendAll(TcpSocket& socket, const void* bytes, uint32_t count) {
    if (!socket.IsValid() || bytes == nullptr || count == 0) return 0;
    const auto* at = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        const uint32_t sent = socket.Send(at, count);
        if (sent == 0) return 0;
        at += sent;
        count -= sent;
    }
    return 1;
}

uint32_t ClientProtocol::RecvAll(TcpSocket& socket, void* buffer, uint32_t count) {
    return receiveExactly(socket, buffer, count, kUntimed);
}

uint32_t ClientProtocol::RecvAllTimed(TcpSocket& socket, void* buffer, uint32_t count, uint32_t timeoutMilliseconds) {
    return receiveExactly(socket, buffer, count, timeoutMilliseconds / 1000);
}

uint32_t ClientProtocol::SendReply(TcpSocket& socket, uint32_t version, uint32_t flag, const TextString& text) {
    const auto header = FrameHeader{version, flag, text.length()}.encode();
    if (!SendAll(socket, header.data(), FrameHeader::kSize)) return 0;
    if (text.length() == 0) return 1;
    return SendAll(socket, text.data(), text.length());
}

uint32_t ClientProtocol::sendHeader(TcpSocket& socket, uint32_t code, uint32_t length) {
    const auto header = FrameHeader{m_ownVersion.packed(), code, length}.encode();
    return SendAll(socket, header.data(), FrameHeader::kSize);
}

// An upload too long to take is refused before the first YES.
uint32_t ClientProtocol::AcceptUpload(TcpSocket& socket, const FrameHeader& request) {
    m_replyText = "";
    if (request.length > wire::kMaxPayloadLength) return 0;
    if (!SendReply(socket, request.version, wire::kYes, TextString())) return 0;
    if (request.length != 0) {
        TextString upload(nullptr, request.length);
        if (!upload.isValid() || !RecvAll(socket, upload.data(), request.length)) return 0;
        m_replyText = std::move(upload);
    }
    return SendReply(socket, request.version, wire::kYes, TextString());
}

uint32_t ClientProtocol::HandleRequest(TcpSocket& socket) {
    if (!socket.IsValid()) return refuse(socket);
    // A requester of an invalid version is refused before the rest of its
    // block is read.
    uint8_t block[FrameHeader::kSize];
    if (!RecvAll(socket, block, 4)) return refuse(socket);
    m_requesterVersion = ProtocolVersion::fromWord(readLittleEndian32(block));
    if (!m_requesterVersion.isValid()) return refuse(socket);
    FrameHeader header;
    if (!RecvAll(socket, block + 4, FrameHeader::kSize - 4) || !FrameHeader::decode(block, sizeof block, header))
        return refuse(socket);

    // Every request but the probe and the unknown ones needs this system's
    // own version; the others are refused.
    const bool sameVersion = m_requesterVersion == m_ownVersion;
    switch (header.code) {
    case wire::kNoteHeader:
        if (sameVersion && serveNote(socket, header)) return 1;
        break;
    case wire::kProbe:
        break;
    case wire::kAnnouncement:
        if (sameVersion && serveAnnouncement(socket, header)) return 1;
        break;
    case wire::kContactStatus:
        if (sameVersion && ContactStatusEvent(socket, header.length)) return 1;
        break;
    case wire::kProxyRequest:
        // A relay start that fails has sent its own NO; this one follows.
        if (sameVersion && header.length > 0 && header.length <= wire::kMaxTicketLength && m_context.relay &&
            serveRelayRequest(socket, header))
            return 1;
        break;
    case wire::kKnownContactQuery:
        if (sameVersion && KnownContactQuery(socket, header)) return 1;
        break;
    default:
        return 1;
    }
    return refuse(socket);
}

// The NO of the dispatcher echoes the requester's version (0xFFFFFFFF when
// it was invalid or never arrived); a failed send changes nothing.
uint32_t ClientProtocol::refuse(TcpSocket& socket) {
    SendReply(socket, m_requesterVersion.packed(), wire::kNo, TextString());
    return 0;
}

uint32_t ClientProtocol::serveNote(TcpSocket& socket, const FrameHeader& header) {
    if (!m_context.notes) return 0;
    std::unique_ptr<NoteRecord> note(new (std::nothrow) NoteRecord());
    if (!note) return 0;
    // A note no window has taken over goes with the pointer.
    return m_context.notes->ReceiveNote(*this, socket, header, note);
}

uint32_t ClientProtocol::serveAnnouncement(TcpSocket& socket, const FrameHeader& header) {
    if (!m_context.announcements || !AcceptUpload(socket, header)) return 0;
    m_context.announcements->showAnnouncement(m_replyText);
    return 1;
}

} // namespace vp
