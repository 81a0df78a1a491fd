// The client's session requests to the server, and its answers to the
// short notices the server pushes: presence changes and known-contact
// queries.

#include "app/AppInfo.h"
#include "contacts/ContactList.h"
#include "protocol/ClientProtocol.h"
#include "protocol/Payload.h"
#include "protocol/Wire.h"
#include "settings/Endpoints.h"
#include "settings/GeneralOptions.h"

namespace vp {

namespace {

constexpr char kCannotConnect[] = "Sorry.  Cannot connect to server at this moment.\n";
constexpr char kLocateNotSent[] = "Cannot send data to the server.";
constexpr char kLocateFirstLost[] = "Sorry, cannot complete this task.\n\nPossibly because the network communication is lost.";
constexpr char kLocateFinalLost[] = "Sorry, cannot complete task.\n\nPossibly because the network communication is lost.";
constexpr char kPasswordNoMemory[] = "Sorry, cannot complete task.\n\nPossible reason: out of memory.";
constexpr char kPasswordNotSent[] = "Sorry, cannot complete task.\n\nPossible reason: server is not responding.";
constexpr char kPasswordFirstLost[] = "Sorry.  Network communication is lost.";
constexpr char kPasswordRefused[] = "The server has refused the connection.";
constexpr char kPasswordUnsupported[] = "The server does not support password change.";
constexpr char kPasswordInvalid[] = "Sorry, cannot complete task.\n\nPossible reason: invalid password.";
constexpr char kPasswordFinalLost[] = "Sorry, cannot complete task.\n\nPossible reason: the network communication is lost.";
constexpr char kNoMemory[] = "Not enough memory to continue.";
constexpr char kConnectionLost[] = "Connection lost unexpectedly.";
constexpr char kQueryRefused[] = "Server has refused this request.";

// Room for the longest dotted address with its terminator.
constexpr uint32_t kAddressSize = 64;

uint64_t lengthOf(const TextString& text) { return text.length(); }

} // namespace

// The wait between looks is a readiness wait of at most one interval, so a
// connection that comes up is taken at once; the budget stays the same.
uint32_t ClientProtocol::ConnectToServer(TcpSocket& socket, const TextString& host, uint16_t /*port*/,
                                         uint32_t totalWaitMilliseconds, uint32_t intervalMilliseconds) {
    socket.SetNonBlocking(1);
    socket.Connect(host, m_context.serverPort);
    uint32_t remaining = totalWaitMilliseconds;
    while (socket.PollConnected(intervalMilliseconds) == 0 && socket.IsValid() && remaining > 0)
        remaining = remaining > intervalMilliseconds ? remaining - intervalMilliseconds : 0;
    if (socket.PollConnected() == 1) {
        socket.SetNonBlocking(0);
        return 1;
    }
    m_errorText = kCannotConnect;
    return 0;
}

uint32_t ClientProtocol::Login(TextString& result, TcpSocket& socket, const TextString& serverHost,
                               const TextString& userName, const TextString& password) {
    m_errorText = "";
    const uint32_t ok = [&]() -> uint32_t {
        PayloadWriter payload(16 + lengthOf(userName) + lengthOf(password));
        if (!payload.ok()) return 0;
        if (!sendHeader(socket, wire::kLogin, payload.size())) return 0;
        if (GetYesNo(socket, m_ownVersion) != 1) return 0;
        // The second YES carries this client's address as the server sees it.
        if (GetYesNo(socket, m_ownVersion) != 1) return 0;
        uint32_t behindProxy = 1;
        if (m_context.listener && m_context.listener->isPeerListenerRunning()) {
            char local[kAddressSize] = {};
            LocalAddress(local, sizeof local);
            behindProxy = m_replyText == local ? 0 : 1;
        }
        payload.word(userName.length());
        payload.word(password.length());
        payload.word(4);
        payload.text(userName);
        payload.text(password);
        payload.word(behindProxy);
        if (!SendAll(socket, payload.data(), payload.size())) return 0;
        if (behindProxy) {
            // The relay ticket, which the relay channel presents to the server.
            if (GetYesNo(socket, m_ownVersion) != 1 || m_replyText.isEmpty()) return 0;
            if (!m_context.listener || !m_context.listener->openEventConnection(serverHost, m_replyText)) return 0;
        }
        return GetYesNo(socket, m_ownVersion) == 1 ? 1 : 0;
    }();
    result = ok ? m_replyText : m_errorText;
    return ok;
}

uint32_t ClientProtocol::Locate(TcpSocket& socket, const TextString& userName, uint32_t timeoutMilliseconds) {
    if (!sendHeader(socket, wire::kLocate, userName.length())) {
        m_errorText = kLocateNotSent;
        return 0;
    }
    const int32_t first = GetYesNoTimed(socket, m_ownVersion, timeoutMilliseconds);
    if (first < 0) {
        m_errorText = kLocateFirstLost;
        return 0;
    }
    if (first == 0) {
        if (!m_errorText.isEmpty()) return 0;
        if (m_ownVersion.compare(m_replyVersion) <= 0) {
            const TextString home = m_context.general ? m_context.general->GetString(GeneralOptions::kHomeURL)
                                                      : TextString(endpoints::kMakerHomePage);
            m_errorText = TextString("Sorry, cannot deliver this note.\nIt appears you are running an incompatible "
                                     "(older?) version.\n\nGo to '") +
                          home + "' to download the latest version.";
        } else {
            m_errorText = TextString("Sorry, cannot deliver this note.\nThe receiver is running an out-dated "
                                     "version.\n\nPlease ask them to upgrade their ") +
                          kDisplayName + ".";
        }
        return 0;
    }
    if (!SendAll(socket, userName.data(), userName.length())) {
        m_errorText = kLocateFinalLost;
        return 0;
    }
    const int32_t found = GetYesNoTimed(socket, m_ownVersion, timeoutMilliseconds);
    if (found == 1) return 1;
    if (found < 0) m_errorText = kLocateFinalLost;
    else if (m_errorText.isEmpty()) m_errorText = TextString("Sorry, cannot find '") + userName + "' at the moment.";
    return 0;
}

uint32_t ClientProtocol::ChangePassword(TcpSocket& socket, const TextString& userName,
                                        const TextString& currentPassword, const TextString& userNameAgain,
                                        const TextString& newPassword) {
    m_errorText = "";
    if (!socket.IsConnected()) return 0;
    PayloadWriter payload(16 + lengthOf(userName) + lengthOf(currentPassword) + lengthOf(userNameAgain) +
                          lengthOf(newPassword));
    if (!payload.ok()) {
        m_errorText = kPasswordNoMemory;
        return 0;
    }
    for (const TextString* field : {&userName, &currentPassword, &userNameAgain, &newPassword})
        payload.word(field->length());
    for (const TextString* field : {&userName, &currentPassword, &userNameAgain, &newPassword})
        payload.text(*field);

    if (!sendHeader(socket, wire::kChangePassword, payload.size())) {
        m_errorText = kPasswordNotSent;
        return 0;
    }
    const int32_t first = GetYesNo(socket, m_ownVersion);
    if (first < 0) {
        m_errorText = kPasswordFirstLost;
        return 0;
    }
    if (first == 0) {
        if (m_errorText.isEmpty())
            m_errorText = m_replyVersion == m_ownVersion ? kPasswordRefused : kPasswordUnsupported;
        return 0;
    }
    if (!SendAll(socket, payload.data(), payload.size())) return 0;
    const int32_t changed = GetYesNo(socket, m_ownVersion);
    if (changed == 1) return 1;
    if (changed < 0) m_errorText = kPasswordFinalLost;
    else if (m_errorText.isEmpty()) m_errorText = kPasswordInvalid;
    return 0;
}

uint32_t ClientProtocol::QueryStatus(TextString& address, uint32_t& status, TcpSocket& socket,
                                     const TextString& contactUser, const TextString& contactServer,
                                     const TextString& ownUser, const TextString& ownServer, uint32_t value) {
    address = "";
    status = 0;
    const uint32_t ok = [&]() -> uint32_t {
        PayloadWriter payload(24 + lengthOf(contactUser) + lengthOf(contactServer) + lengthOf(ownUser) +
                              lengthOf(ownServer));
        if (!payload.ok()) {
            m_errorText = kNoMemory;
            return 0;
        }
        for (const TextString* text : {&contactUser, &contactServer, &ownUser, &ownServer}) payload.word(text->length());
        payload.word(4);
        for (const TextString* text : {&contactUser, &contactServer, &ownUser, &ownServer}) payload.text(*text);
        payload.word(value);

        int32_t reply = -1;
        if (sendHeader(socket, wire::kQueryStatus, payload.size())) {
            reply = GetYesNo(socket, m_ownVersion);
            if (reply == 1) reply = SendAll(socket, payload.data(), payload.size()) ? GetYesNo(socket, m_ownVersion) : -1;
        }
        if (reply == 0) {
            if (m_errorText.isEmpty()) m_errorText = kQueryRefused;
            return 0;
        }
        // The answer: address length, a word the client skips, the address
        // text, the status. An answer that does not hold them is as good as
        // a connection lost half-way.
        PayloadReader answer(m_replyText);
        uint32_t addressLength = 0;
        uint32_t skipped = 0;
        TextString answered;
        uint32_t answeredStatus = 0;
        if (reply < 0 || !answer.word(addressLength) || !answer.word(skipped) || !answer.text(addressLength, answered) ||
            !answer.word(answeredStatus)) {
            m_errorText = kConnectionLost;
            return 0;
        }
        address = answered;
        status = answeredStatus;
        return 1;
    }();
    applyPresence(contactUser, contactServer, ok ? status : 0, address);
    return ok;
}

uint32_t ClientProtocol::ContactStatusEvent(TcpSocket& socket, uint32_t length) {
    ByteBuffer payload;
    if (!allocatePayload(payload, length)) {
        m_errorText = kNoMemory;
        SendReply(socket, m_ownVersion.packed(), wire::kNo, TextString());
        return 0;
    }
    if (!SendReply(socket, m_ownVersion.packed(), wire::kYes, TextString()) ||
        !RecvAll(socket, payload.data(), length) ||
        !SendReply(socket, m_ownVersion.packed(), wire::kYes, TextString())) {
        m_errorText = kConnectionLost;
        return 0;
    }
    // User, server and address lengths, the status length (always 4), the
    // three texts and the status. A malformed event changes nothing.
    PayloadReader event(payload);
    uint32_t userLength = 0, serverLength = 0, addressLength = 0, statusLength = 0, online = 0;
    TextString user, server, address;
    if (!event.word(userLength) || !event.word(serverLength) || !event.word(addressLength) ||
        !event.word(statusLength) || statusLength != 4 || !event.text(userLength, user) ||
        !event.text(serverLength, server) || !event.text(addressLength, address) || !event.word(online))
        return 0;
    applyPresence(user, server, online, address);
    return 1;
}

uint32_t ClientProtocol::KnownContactQuery(TcpSocket& socket, const FrameHeader& request) {
    uint32_t known = 0;
    ByteBuffer payload;
    if (request.length > 0 && allocatePayload(payload, request.length) &&
        RecvAll(socket, payload.data(), request.length)) {
        // The user name's length (above 4), the user name, and the server
        // name filling the rest.
        PayloadReader query(payload);
        uint32_t userLength = 0;
        TextString user, server;
        ContactHandle handle = 0;
        known = query.word(userLength) && userLength > 4 && query.text(userLength, user) && query.rest(server) &&
                m_context.contacts && m_context.contacts->findContactByName(user, server, handle);
    }
    SendReply(socket, m_ownVersion.packed(), known ? wire::kYes : wire::kNo, TextString());
    return known;
}

// Any nonzero status means online; the model knows only 1 and 0.
void ClientProtocol::applyPresence(const TextString& user, const TextString& server, uint32_t online,
                                   const TextString& address) {
    ContactHandle handle = 0;
    if (!m_context.contacts || !m_context.contacts->findContactByName(user, server, handle)) return;
    m_context.contacts->setOnline(handle, online != 0 ? 1 : 0, address);
}

} // namespace vp
