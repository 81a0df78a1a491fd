#pragma once
// One conversation on the wire, to the server or to another client: the
// framing of requests and replies, the serving of one request that arrives
// on the peer port, and the session requests to the server.
//
// Callers make a fresh object per connection, run one or a few exchanges
// and read errorText afterwards to show the user what went wrong. Results
// are 1 / 0, and -1 from the reply readers for a lost connection. The object
// and its socket belong to one thread at a time.

#include "foundation/TcpSocket.h"
#include "foundation/TextString.h"
#include "protocol/ProtocolPorts.h"
#include "wire/FrameHeader.h"
#include "wire/ProtocolVersion.h"

#include <cstdint>

namespace vp {

class ClientProtocol {
public:
    explicit ClientProtocol(const ProtocolContext& context = ProtocolContext());
    // Resets the owned socket when it is still connected.
    ~ClientProtocol();
    ClientProtocol(const ClientProtocol&) = delete;
    ClientProtocol& operator=(const ClientProtocol&) = delete;

    const ProtocolVersion& ownVersion() const { return m_ownVersion; }
    const ProtocolVersion& requesterVersion() const { return m_requesterVersion; }
    const ProtocolVersion& replyVersion() const { return m_replyVersion; }
    const TextString& errorText() const { return m_errorText; }
    const TextString& replyText() const { return m_replyText; }
    void setErrorText(const TextString& text) { m_errorText = text; }
    TcpSocket& socket() { return m_socket; }
    const ProtocolContext& context() const { return m_context; }

    // ---- Framing ----

    // Reads one reply: 1 YES (its data in replyText), 0 NO (its reason in
    // errorText) or a reply of another version than expected (nothing more
    // is read), -1 when the connection failed (a diagnostic in replyText).
    int32_t GetYesNo(TcpSocket& socket, const ProtocolVersion& expected);
    // The same with each read waiting at most timeoutMilliseconds / 1000
    // whole seconds, and without diagnostics.
    int32_t GetYesNoTimed(TcpSocket& socket, const ProtocolVersion& expected, uint32_t timeoutMilliseconds);
    // 1 when all count bytes went out / arrived; 0 for an invalid socket, a
    // null buffer, a count of 0 or a failed transfer.
    uint32_t SendAll(TcpSocket& socket, const void* bytes, uint32_t count);
    uint32_t RecvAll(TcpSocket& socket, void* buffer, uint32_t count);
    uint32_t RecvAllTimed(TcpSocket& socket, void* buffer, uint32_t count, uint32_t timeoutMilliseconds);
    // Sends {version, flag, length of text} and the text when there is one.
    uint32_t SendReply(TcpSocket& socket, uint32_t version, uint32_t flag, const TextString& text);
    // For a request whose payload follows a YES: YES, the payload into
    // replyText, YES again.
    uint32_t AcceptUpload(TcpSocket& socket, const FrameHeader& request);
    // Reads and serves one request on an accepted peer connection: 1 when it
    // was served or ignored, 0 when it was refused (a NO went back) or failed.
    uint32_t HandleRequest(TcpSocket& socket);

    // ---- Session requests to the server ----

    // Connects to host, always at the context's server port (the given port
    // is not used), within totalWaitMilliseconds, looking every interval.
    // The socket is left blocking.
    uint32_t ConnectToServer(TcpSocket& socket, const TextString& host, uint16_t port, uint32_t totalWaitMilliseconds,
                             uint32_t intervalMilliseconds);
    // Logs in; the server's greeting, or errorText, lands in result. Opens
    // the relay channel when this client cannot take connections.
    uint32_t Login(TextString& result, TcpSocket& socket, const TextString& serverHost, const TextString& userName,
                   const TextString& password);
    // The user's address in replyText ("0.0.0.0": only through the relay).
    uint32_t Locate(TcpSocket& socket, const TextString& userName, uint32_t timeoutMilliseconds);
    uint32_t ChangePassword(TcpSocket& socket, const TextString& userName, const TextString& currentPassword,
                            const TextString& userNameAgain, const TextString& newPassword);
    // A contact's presence, also applied to the contact model.
    uint32_t QueryStatus(TextString& address, uint32_t& status, TcpSocket& socket, const TextString& contactUser,
                         const TextString& contactServer, const TextString& ownUser, const TextString& ownServer,
                         uint32_t value);
    // A presence change the server pushes: YES, the event, YES; applied to
    // the contact model.
    uint32_t ContactStatusEvent(TcpSocket& socket, uint32_t length);
    // Is the user named in the payload on the contact list: 1 answered YES,
    // 0 answered NO.
    uint32_t KnownContactQuery(TcpSocket& socket, const FrameHeader& request);

    // ---- Note delivery ----

    // Sends note to the user named by its peerName, at destinationHost (the
    // receiver's server, or the receiver's dotted address), as senderName:
    // 1 delivered, 0 not (errorText, when set, is for the user). Offers to
    // leave the note on the server when the receiver cannot be reached.
    uint32_t SendNote(const TextString& destinationHost, const TextString& senderName, NoteRecord& note);
    // Connects socket to the receiver's peer port: directly when
    // receiverName is a dotted address, else at the address the server
    // locates. throughRelay is 1 for a receiver only the relay reaches.
    uint32_t ConnectToReceiver(TcpSocket& socket, const TextString& destinationHost, const TextString& receiverName,
                               TextString& address, uint32_t& throughRelay, uint32_t totalWaitMilliseconds,
                               uint32_t intervalMilliseconds);
    // The note header, the payload and the attached file, on a connection
    // to the receiver: 1 delivered (errorText may still tell about the file
    // or the last acknowledgement), 0 not.
    uint32_t DeliverNote(TcpSocket& socket, const TextString& destinationHost, const TextString& senderName,
                         NoteRecord& note);
    // The mapped attachment in blocks while note.transferring stays 1: 1 when
    // the file went out, 0 when it could not or the user stopped it.
    uint32_t SendAttachment(TcpSocket& socket, NoteRecord& note);

    // ---- Relay ----

    // On a connection to the server: asks it to join this connection to
    // receiverName's, which only the relay reaches. Each read waits at most
    // timeoutMilliseconds; the interval is not used. 1 when the connection
    // now reaches the receiver.
    uint32_t RequestRelay(TcpSocket& socket, const TextString& receiverName, uint32_t timeoutMilliseconds,
                          uint32_t intervalMilliseconds);
    // Hands the ticket of a relay request that arrived on socket, with the
    // socket's peer as the server to answer, to a relay thread: 1 when one
    // was started.
    uint32_t StartRelayAnswer(TcpSocket& socket, const TextString& ticket);
    // On a connection to the server: presents the ticket, after which the
    // server forwards the sender's request on it. 1 when accepted.
    uint32_t ProxyAnswer(TcpSocket& socket, const TextString& ticket);
    // Connects socket to serverHost and opens the relay channel with the
    // ticket the log-in gave: 1 when open.
    uint32_t OpenChannel(TcpSocket& socket, const TextString& serverHost, const TextString& ticket);
    // Reads and serves one block the server sends over the open channel: 1
    // to keep reading, 0 when the channel is gone.
    uint32_t ChannelMessage(TcpSocket& socket);

    // ---- Stored notes ----

    // On a connection to the server: leaves the stored-note block (u32 P and
    // the P bytes of a note's payload) for the user receiverText names. 1
    // when the server keeps it.
    uint32_t LeaveNote(TcpSocket& socket, const TextString& receiverText, const uint8_t* block,
                       uint32_t blockLength);
    // On a connection to the server: the notes kept for userName, as one
    // block of stored-note records (see storedNoteRecords), into notes. 1
    // with the block (which may be empty), 0 with notes empty.
    uint32_t NoteDownLoad(TcpSocket& socket, const TextString& userName, const TextString& password,
                          ByteBuffer& notes);

private:
    // The relay request on the peer port: YES, the ticket, the relay thread,
    // and the connection held until the server closes it.
    uint32_t serveRelayRequest(TcpSocket& socket, const FrameHeader& header);
    // After a NO or a reply of another version: the server's reason stays;
    // without one, errorText says sameVersion or otherVersion by the reply's
    // version.
    void explainRefusal(const char* sameVersion, const char* otherVersion);
    // Connects socket to host:port, looking every interval for at most
    // totalWaitMilliseconds; the socket is left blocking. 1 when connected.
    uint32_t connectPolled(TcpSocket& socket, const TextString& host, uint16_t port, uint32_t totalWaitMilliseconds,
                           uint32_t intervalMilliseconds);
    uint32_t offerToLeaveOnServer(TcpSocket& socket, const TextString& destinationHost, NoteRecord& note);
    uint32_t deliverMapped(TcpSocket& socket, NoteRecord& note, bool withFile);
    int32_t readReply(TcpSocket& socket, const ProtocolVersion& expected, int64_t timeoutMilliseconds);
    uint32_t receive(TcpSocket& socket, void* buffer, uint32_t count, int64_t timeoutMilliseconds);
    uint32_t sendHeader(TcpSocket& socket, uint32_t code, uint32_t length);
    uint32_t refuse(TcpSocket& socket);
    uint32_t serveNote(TcpSocket& socket, const FrameHeader& header);
    uint32_t serveAnnouncement(TcpSocket& socket, const FrameHeader& header);
    void applyPresence(const TextString& user, const TextString& server, uint32_t online, const TextString& address);

    ProtocolContext m_context;
    ProtocolVersion m_ownVersion;
    ProtocolVersion m_requesterVersion;
    ProtocolVersion m_replyVersion;
    TextString m_errorText;
    TextString m_replyText;
    TcpSocket m_socket;
};

} // namespace vp
