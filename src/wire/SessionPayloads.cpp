#include "wire/SessionPayloads.h"

#include <initializer_list>
#include <utility>

namespace vp {

namespace {

uint64_t totalLength(std::initializer_list<const TextString*> texts) {
    uint64_t total = 0;
    for (const TextString* text : texts) total += text->length();
    return total;
}

} // namespace

uint64_t loginPayloadSize(const TextString& userName, const TextString& password) {
    return 16 + totalLength({&userName, &password});
}

PayloadWriter loginPayload(const TextString& userName, const TextString& password, uint32_t behindProxy) {
    PayloadWriter payload(loginPayloadSize(userName, password));
    payload.word(userName.length());
    payload.word(password.length());
    payload.word(4);
    payload.text(userName);
    payload.text(password);
    payload.word(behindProxy);
    return payload;
}

uint32_t parseLoginPayload(const ByteBuffer& payload, LoginRequest& request) {
    PayloadReader reader(payload);
    uint32_t userLength = 0, passwordLength = 0, flagLength = 0;
    LoginRequest parsed;
    if (!reader.word(userLength) || !reader.word(passwordLength) || !reader.word(flagLength) || flagLength != 4 ||
        !reader.text(userLength, parsed.userName) || !reader.text(passwordLength, parsed.password) ||
        !reader.word(parsed.behindProxy) || reader.remaining() != 0)
        return 0;
    request = std::move(parsed);
    return 1;
}

PayloadWriter changePasswordPayload(const TextString& userName, const TextString& currentPassword,
                                    const TextString& userNameAgain, const TextString& newPassword) {
    const std::initializer_list<const TextString*> fields = {&userName, &currentPassword, &userNameAgain, &newPassword};
    PayloadWriter payload(16 + totalLength(fields));
    for (const TextString* field : fields) payload.word(field->length());
    for (const TextString* field : fields) payload.text(*field);
    return payload;
}

uint32_t parseChangePasswordPayload(const ByteBuffer& payload, PasswordChange& change) {
    PayloadReader reader(payload);
    PasswordChange parsed;
    TextString* fields[4] = {&parsed.userName, &parsed.currentPassword, &parsed.userNameAgain, &parsed.newPassword};
    uint32_t lengths[4] = {};
    for (uint32_t& length : lengths)
        if (!reader.word(length)) return 0;
    for (int i = 0; i < 4; ++i)
        if (!reader.text(lengths[i], *fields[i])) return 0;
    if (reader.remaining() != 0) return 0;
    change = std::move(parsed);
    return 1;
}

PayloadWriter queryStatusPayload(const TextString& contactUser, const TextString& contactServer,
                                 const TextString& ownUser, const TextString& ownServer, uint32_t value) {
    const std::initializer_list<const TextString*> texts = {&contactUser, &contactServer, &ownUser, &ownServer};
    PayloadWriter payload(24 + totalLength(texts));
    for (const TextString* text : texts) payload.word(text->length());
    payload.word(4);
    for (const TextString* text : texts) payload.text(*text);
    payload.word(value);
    return payload;
}

uint32_t parseQueryStatusPayload(const ByteBuffer& payload, StatusQuery& query) {
    PayloadReader reader(payload);
    uint32_t lengths[4] = {};
    uint32_t valueLength = 0;
    StatusQuery parsed;
    TextString* texts[4] = {&parsed.contactUser, &parsed.contactServer, &parsed.ownUser, &parsed.ownServer};
    for (uint32_t& length : lengths)
        if (!reader.word(length)) return 0;
    if (!reader.word(valueLength) || valueLength != 4) return 0;
    for (int i = 0; i < 4; ++i)
        if (!reader.text(lengths[i], *texts[i])) return 0;
    if (!reader.word(parsed.value) || reader.remaining() != 0) return 0;
    query = std::move(parsed);
    return 1;
}

PayloadWriter contactStatusPayload(const PresenceNotice& notice) {
    PayloadWriter payload(20 + totalLength({&notice.userName, &notice.serverName, &notice.address}));
    payload.word(notice.userName.length());
    payload.word(notice.serverName.length());
    payload.word(notice.address.length());
    payload.word(4);
    payload.text(notice.userName);
    payload.text(notice.serverName);
    payload.text(notice.address);
    payload.word(notice.status);
    return payload;
}

uint32_t parseContactStatus(const ByteBuffer& payload, PresenceNotice& notice) {
    PayloadReader event(payload);
    uint32_t userLength = 0, serverLength = 0, addressLength = 0, statusLength = 0;
    PresenceNotice parsed;
    if (!event.word(userLength) || !event.word(serverLength) || !event.word(addressLength) ||
        !event.word(statusLength) || statusLength != 4 || !event.text(userLength, parsed.userName) ||
        !event.text(serverLength, parsed.serverName) || !event.text(addressLength, parsed.address) ||
        !event.word(parsed.status))
        return 0;
    notice = std::move(parsed);
    return 1;
}

PayloadWriter statusAnswerPayload(const TextString& address, uint32_t status) {
    PayloadWriter payload(12 + static_cast<uint64_t>(address.length()));
    payload.word(address.length());
    payload.word(4);
    payload.text(address);
    payload.word(status);
    return payload;
}

uint32_t parseStatusAnswer(const TextString& data, TextString& address, uint32_t& status) {
    PayloadReader answer(data);
    uint32_t addressLength = 0;
    uint32_t skipped = 0;
    TextString parsedAddress;
    uint32_t parsedStatus = 0;
    if (!answer.word(addressLength) || !answer.word(skipped) || !answer.text(addressLength, parsedAddress) ||
        !answer.word(parsedStatus))
        return 0;
    address = std::move(parsedAddress);
    status = parsedStatus;
    return 1;
}

uint32_t parseKnownContactQuery(const ByteBuffer& payload, TextString& userName, TextString& serverName) {
    PayloadReader query(payload);
    uint32_t userLength = 0;
    TextString user;
    TextString server;
    if (!query.word(userLength) || userLength <= 4 || !query.text(userLength, user) || !query.rest(server)) return 0;
    userName = std::move(user);
    serverName = std::move(server);
    return 1;
}

} // namespace vp
