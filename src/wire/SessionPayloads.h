#pragma once
// The byte layouts of the session requests and of the server's notices,
// apart from the sockets that carry them. Builders give a PayloadWriter
// (ok() false when the payload would pass the wire's bound); parsers give 1
// when the bytes hold the whole layout and 0, touching nothing, otherwise.

#include "foundation/TextString.h"
#include "wire/Payload.h"

#include <cstdint>

namespace vp {

// {U, P, 4, user name, password, behindProxy}.
uint64_t loginPayloadSize(const TextString& userName, const TextString& password);
PayloadWriter loginPayload(const TextString& userName, const TextString& password, uint32_t behindProxy);

// What a log-in payload says, as the server reads it.
struct LoginRequest {
    TextString userName;
    TextString password;
    uint32_t behindProxy = 0;
};
// The whole layout and nothing after it; the flag's length must be 4.
uint32_t parseLoginPayload(const ByteBuffer& payload, LoginRequest& request);

// The four lengths, then user name, current password, user name again, new
// password.
PayloadWriter changePasswordPayload(const TextString& userName, const TextString& currentPassword,
                                    const TextString& userNameAgain, const TextString& newPassword);

struct PasswordChange {
    TextString userName;
    TextString currentPassword;
    TextString userNameAgain;
    TextString newPassword;
};
// The four lengths and exactly the four texts they announce.
uint32_t parseChangePasswordPayload(const ByteBuffer& payload, PasswordChange& change);

// The four lengths, 4, the contact's user and server names, the asking
// user's name and server name, and the caller's value.
PayloadWriter queryStatusPayload(const TextString& contactUser, const TextString& contactServer,
                                 const TextString& ownUser, const TextString& ownServer, uint32_t value);

struct StatusQuery {
    TextString contactUser;
    TextString contactServer;
    TextString ownUser;
    TextString ownServer;
    uint32_t value = 0;
};
// The whole layout and nothing after it; the value's length must be 4.
uint32_t parseQueryStatusPayload(const ByteBuffer& payload, StatusQuery& query);

// The presence of one user, as a notice or an answer carries it.
struct PresenceNotice {
    TextString userName;
    TextString serverName;
    TextString address;  // dotted; "0.0.0.0" behind a proxy or firewall
    uint32_t status = 0; // nonzero: online
};

// A pushed presence change: the user, server and address lengths, the
// status length (which must be 4), the three texts and the status.
PayloadWriter contactStatusPayload(const PresenceNotice& notice);
uint32_t parseContactStatus(const ByteBuffer& payload, PresenceNotice& notice);
// The final data of a status query: the address length, a word that is
// skipped (the server writes 4, the status's length), the address text and
// the status.
PayloadWriter statusAnswerPayload(const TextString& address, uint32_t status);
uint32_t parseStatusAnswer(const TextString& data, TextString& address, uint32_t& status);
// A known-contact query: the user name's length (above 4), the user name,
// and the server name filling the rest.
uint32_t parseKnownContactQuery(const ByteBuffer& payload, TextString& userName, TextString& serverName);

} // namespace vp
