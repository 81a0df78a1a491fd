// The client's session requests to the server, and its answers to the
// short notices the server pushes: presence changes and known-contact
// queries.

#include "app/AppInfo.h"
#include "contacts/ContactList.h"
#include "protocol/ClientProtocol.h"
#include "protocol/ServerTexts.h"
#include "settings/Endpoints.h"
#include "settings/GeneralOptions.h"
#include "wire/Payload.h"
#include "wire/SessionPayloads.h"
#include "wire/Wire.h"

namespace vp {

namespace {

constexpr char kCannotConnect[] = "Sorry.  Cannot connect to server at this moment.\n";
constexpr char kLocateNotSent[] = "Cannot send data to the server.";
constexpr char kLocateFirstLost[] = "Sorry, cannot complete this task.\n\nPossibly because the network communication is lost.";
constexpr char kLocateFinalLost[] = "Sorry, cannot complete task.\n\nPossibly because the network communication is lost.";
constexpr char kPasswordNoMemory[] = "Sorry, cannot complete task.\n\nPossible reason: out of memory.";
constexpr const char* kPasswordNotSent = server_texts::kNotResponding;
constexpr const char* kPasswordFirstLost = server_texts::kConnectionLost;
constexpr const char* kPasswordRefused = server_texts::kRefused;
constexpr char kPasswordUnsupported[] = "The server does not support password change.";
constexpr char kPasswordInvalid[] = "Sorry, cannot complete task.\n\nPossible reason: invalid password.";
constexpr char kPasswordFinalLost[] = "Sorry, cannot complete task.\n\nPossible reason: the network communication is lost.";
constexpr char kNoMemory[] = "Not enough memory to continue.";
constexpr char kConnectionLost[] = "Connection lost unexpectedly.";
constexpr char kQueryRefused[] = "Server has refused this request.";

// Room for the longest dotted address with its terminator.
constexpr uint32_t kAddressSize = 64;

} // namespace

uint32_t ClientProtocol::ConnectToServer(TcpSocket& socket, const TextString& host, uint16_t /*port*/,
                                         uint32_t totalWaitMilliseconds, uint32_t intervalMilliseconds) {
    if (connectPolled(socket, host, m_context.serverPort, totalWaitMilliseconds, intervalMilliseconds)) return 1;
    m_errorText = kCannotConnect;
    return 0;
}

// The wait between looks is a readiness wait of at most one interval, so a
// connection that comes up is taken at once; the budget stays the same. A
// socket closed meanwhile ends the wait, and a cancelled one fails each look
// at once, so the budget runs out without waiting.
uint32_t ClientProtocol::connectPolled(TcpSocket& socket, const TextString& host, uint16_t port,
                                       uint32_t totalWaitMilliseconds, uint32_t intervalMilliseconds) {
    if (!m_context.localAddress.isEmpty()) socket.Bind(0, m_context.localAddress.c_str());
    socket.SetNonBlocking(1);
    socket.Connect(host, port);
    uint32_t remaining = totalWaitMilliseconds;
    while (socket.PollConnected(intervalMilliseconds) == 0 && socket.IsValid() && remaining > 0)
        remaining = remaining > intervalMilliseconds ? remaining - intervalMilliseconds : 0;
    const uint32_t connected = socket.PollConnected();
    socket.SetNonBlocking(0);
    return connected;
}

uint32_t ClientProtocol::Login(TextString& result, TcpSocket& socket, const TextString& serverHost,
                               const TextString& userName, const TextString& password) {
    m_errorText = "";
    const uint32_t ok = [&]() -> uint32_t {
        const uint64_t size = loginPayloadSize(userName, password);
        if (size > wire::kMaxPayloadLength) return 0;
        if (!sendHeader(socket, wire::kLogin, static_cast<uint32_t>(size))) return 0;
        if (GetYesNo(socket, m_ownVersion) != 1) return 0;
        // The second YES carries this client's address as the server sees it.
        if (GetYesNo(socket, m_ownVersion) != 1) return 0;
        uint32_t behindProxy = 1;
        if (m_context.listener && m_context.listener->isPeerListenerRunning()) {
            char local[kAddressSize] = {};
            LocalAddress(local, sizeof local);
            const TextString own = m_context.localAddress.isEmpty() ? TextString(local) : m_context.localAddress;
            behindProxy = m_replyText == own ? 0 : 1;
        }
        const PayloadWriter payload = loginPayload(userName, password, behindProxy);
        if (!payload.ok() || !SendAll(socket, payload.data(), payload.size())) return 0;
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
    const PayloadWriter payload = changePasswordPayload(userName, currentPassword, userNameAgain, newPassword);
    if (!payload.ok()) {
        m_errorText = kPasswordNoMemory;
        return 0;
    }
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
        const PayloadWriter payload = queryStatusPayload(contactUser, contactServer, ownUser, ownServer, value);
        if (!payload.ok()) {
            m_errorText = kNoMemory;
            return 0;
        }
        int32_t reply = -1;
        if (sendHeader(socket, wire::kQueryStatus, payload.size())) {
            reply = GetYesNo(socket, m_ownVersion);
            if (reply == 1) reply = SendAll(socket, payload.data(), payload.size()) ? GetYesNo(socket, m_ownVersion) : -1;
        }
        if (reply == 0) {
            if (m_errorText.isEmpty()) m_errorText = kQueryRefused;
            return 0;
        }
        // An answer that does not hold the whole layout is as good as a
        // connection lost half-way.
        if (reply < 0 || !parseStatusAnswer(m_replyText, address, status)) {
            m_errorText = kConnectionLost;
            return 0;
        }
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
    // A malformed event changes nothing.
    PresenceNotice notice;
    if (!parseContactStatus(payload, notice)) return 0;
    applyPresence(notice.userName, notice.serverName, notice.status, notice.address);
    return 1;
}

uint32_t ClientProtocol::KnownContactQuery(TcpSocket& socket, const FrameHeader& request) {
    uint32_t known = 0;
    ByteBuffer payload;
    if (request.length > 0 && allocatePayload(payload, request.length) &&
        RecvAll(socket, payload.data(), request.length)) {
        TextString user;
        TextString server;
        ContactHandle handle = 0;
        known = parseKnownContactQuery(payload, user, server) && m_context.contacts &&
                m_context.contacts->findContactByName(user, server, handle);
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
