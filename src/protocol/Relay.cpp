// Reaching a client that takes no connections: the sender asks the server to
// relay, the server hands the receiver a ticket (over its relay channel, or
// on its peer port), and the receiver comes back to the server with the
// ticket on a connection of its own, on which the sender's request then
// arrives as if on the peer port.

#include "foundation/LittleEndian.h"
#include "protocol/ClientProtocol.h"
#include "protocol/RelayAnswers.h"
#include "protocol/ServerTexts.h"
#include "wire/Payload.h"
#include "wire/Wire.h"

#include <memory>
#include <new>

namespace vp {

namespace {

constexpr char kNotSetUp[] = "Network communication has not been setup properly.";
constexpr char kServerNotResponding[] = "Server is not responding.";
using server_texts::kRefused;
constexpr const char* kLost = server_texts::kConnectionLost;
constexpr char kNoProxySupport[] = "The server does not support proxy connection.";
constexpr char kAnswerLost[] = "ProxyAnswer request unsuccessful\n\nPossibly because the network communication is lost.";
constexpr char kAnswerRefused[] = "ProxyAnswer request to the server was unsuccessful.";
constexpr char kTicketNotSent[] =
    "PoxyAnswer request unsuccessful.\n\nPossibly because the network communication is lost.";
constexpr char kAcceptanceLost[] =
    "ProxyAnswer request unsuccessful.\n\nPossibly because the network communication is lost.";
constexpr char kNotAccepted[] = "ProxyAnswer request to the server at was unsuccessful.";

constexpr uint32_t kChannelConnectWaitMilliseconds = 60000;
constexpr uint32_t kChannelPollIntervalMilliseconds = 1000;
// Room for a peer's dotted address with its terminator.
constexpr uint32_t kPeerAddressSize = 101;

} // namespace

uint32_t ClientProtocol::RequestRelay(TcpSocket& socket, const TextString& receiverName,
                                      uint32_t timeoutMilliseconds, uint32_t /*intervalMilliseconds*/) {
    if (!socket.IsValid() || !socket.IsConnected()) {
        m_errorText = kNotSetUp;
        return 0;
    }
    if (!sendHeader(socket, wire::kProxyRequest, receiverName.length())) {
        m_errorText = kServerNotResponding;
        return 0;
    }
    const int32_t header = GetYesNoTimed(socket, m_ownVersion, timeoutMilliseconds);
    if (header != 1) {
        if (header < 0) m_errorText = kLost;
        else explainRefusal(kRefused, kNoProxySupport);
        return 0;
    }
    if (!SendAll(socket, receiverName.data(), receiverName.length())) return 0;
    // The server answers once the receiver has come back with the ticket.
    const int32_t joined = GetYesNoTimed(socket, m_ownVersion, timeoutMilliseconds);
    if (joined == 1) return 1;
    if (joined < 0) m_errorText = kLost;
    else if (m_errorText.isEmpty()) m_errorText = kRefused;
    return 0;
}

uint32_t ClientProtocol::StartRelayAnswer(TcpSocket& socket, const TextString& ticket) {
    char address[kPeerAddressSize] = {};
    if (!m_context.relay || !socket.PeerAddress(address, sizeof address) || address[0] == '\0') return 0;
    std::unique_ptr<RelayJob> job(new (std::nothrow) RelayJob());
    if (!job) return 0;
    job->serverAddress = address;
    job->ticket = ticket;
    if (!job->serverAddress.isValid() || !job->ticket.isValid()) return 0;
    return m_context.relay->startRelayThread(std::move(job), m_context);
}

// The server's NO reason is not kept: the relay thread shows nothing.
uint32_t ClientProtocol::ProxyAnswer(TcpSocket& socket, const TextString& ticket) {
    if (!socket.IsValid() || !socket.IsConnected()) {
        m_errorText = kNotSetUp;
        return 0;
    }
    if (!sendHeader(socket, wire::kProxyAnswer, ticket.length())) return 0;
    const int32_t header = GetYesNo(socket, m_ownVersion);
    if (header != 1) {
        if (header < 0) m_errorText = kAnswerLost;
        else if (m_errorText.isEmpty()) m_errorText = kAnswerRefused;
        return 0;
    }
    if (!SendAll(socket, ticket.data(), ticket.length())) {
        m_errorText = kTicketNotSent;
        return 0;
    }
    const int32_t accepted = GetYesNo(socket, m_ownVersion);
    if (accepted == 1) return 1;
    m_errorText = accepted < 0 ? kAcceptanceLost : kNotAccepted;
    return 0;
}

uint32_t ClientProtocol::OpenChannel(TcpSocket& socket, const TextString& serverHost, const TextString& ticket) {
    if (!ConnectToServer(socket, serverHost, wire::kServerPort, kChannelConnectWaitMilliseconds,
                         kChannelPollIntervalMilliseconds))
        return 0;
    if (!sendHeader(socket, wire::kOpenChannel, ticket.length())) return 0;
    if (GetYesNo(socket, m_ownVersion) != 1) return 0;
    if (!SendAll(socket, ticket.data(), ticket.length())) return 0;
    return GetYesNo(socket, m_ownVersion) == 1 ? 1 : 0;
}

// Each block arrives whole, its payload right after the header with no YES
// before it. A block that cannot be taken leaves the channel out of step
// with the server, so the channel counts as gone.
uint32_t ClientProtocol::ChannelMessage(TcpSocket& socket) {
    uint8_t block[FrameHeader::kSize];
    if (!RecvAll(socket, block, 4)) return 0;
    m_requesterVersion = ProtocolVersion::fromWord(readLittleEndian32(block));
    // Only the word is taken; the next call reads on from there.
    if (!m_requesterVersion.isValid()) return 1;
    FrameHeader header;
    if (!RecvAll(socket, block + 4, FrameHeader::kSize - 4) || !FrameHeader::decode(block, sizeof block, header))
        return 0;
    ByteBuffer payload;
    if (header.length > 0 && (!allocatePayload(payload, header.length) ||
                              !RecvAll(socket, payload.data(), header.length)))
        return 0;
    switch (header.code) {
    case wire::kContactStatus:
        ContactStatusEvent(socket, header.length);
        break;
    case wire::kProxyRequest:
        if (header.length > 0 &&
            !StartRelayAnswer(socket, TextString(reinterpret_cast<const char*>(payload.data()), header.length)))
            SendReply(socket, m_requesterVersion.packed(), wire::kNo, TextString());
        break;
    default:
        break;
    }
    return 1;
}

// The server keeps this connection open while it relays and closes it when
// the relay ends; a NO on it, or its close, tells it the relay cannot start.
uint32_t ClientProtocol::serveRelayRequest(TcpSocket& socket, const FrameHeader& header) {
    if (!SendReply(socket, m_requesterVersion.packed(), wire::kYes, TextString())) return 0;
    TextString ticket(nullptr, header.length);
    if (!ticket.isValid() || !RecvAll(socket, ticket.data(), header.length)) return 0;
    if (!StartRelayAnswer(socket, ticket)) {
        SendReply(socket, m_requesterVersion.packed(), wire::kNo, TextString());
        return 0;
    }
    socket.WaitReadable();
    return 1;
}

void RunRelayJob(const RelayJob& job, const ProtocolContext& context, TcpSocket& socket) {
    ClientProtocol protocol(context);
    if (job.size == RelayJob::kSize && !job.serverAddress.isEmpty() && socket.IsValid() &&
        socket.Connect(job.serverAddress, context.serverPort) && protocol.ProxyAnswer(socket, job.ticket))
        protocol.HandleRequest(socket);
    // The server ends the relay by closing the connection.
    socket.WaitReadable();
}

} // namespace vp
