#include "wire/Payload.h"
#include "wire/SessionPayloads.h"

#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace vp {
namespace {

// A write that did not fit used to be dropped while ok() stayed true, so a
// short payload went out as if it were whole.
TEST(PayloadWriterTest, AWriteThatDoesNotFitFailsTheWriter) {
    PayloadWriter full(7);
    full.word(1);
    full.text("abc");
    ASSERT_TRUE(full.ok());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(full.data()), full.size()), test::le32(1) + "abc");

    PayloadWriter wordPastTheEnd(7);
    wordPastTheEnd.text("abc");
    wordPastTheEnd.word(1);
    wordPastTheEnd.word(2);
    PayloadWriter textPastTheEnd(6);
    textPastTheEnd.word(1);
    textPastTheEnd.text("abc");
    for (const PayloadWriter* failed : {&wordPastTheEnd, &textPastTheEnd}) {
        EXPECT_FALSE(failed->ok());
        // Nothing of a failed writer can be sent.
        EXPECT_EQ(failed->data(), nullptr);
        EXPECT_EQ(failed->size(), 0u);
    }
}

std::string bytesOf(const PayloadWriter& payload) {
    return std::string(reinterpret_cast<const char*>(payload.data()), payload.size());
}

ByteBuffer bufferOf(const std::string& bytes) { return ByteBuffer(bytes.data(), static_cast<uint32_t>(bytes.size())); }

// The server's answers are read back by the client's own parsers.
TEST(SessionPayloadsTest, ThePresenceAnswersKeepTheirLayout) {
    using test::le32;
    const PresenceNotice notice{"ann", "hub", "10.0.0.7", 1};
    const std::string event = bytesOf(contactStatusPayload(notice));
    EXPECT_EQ(event, le32(3) + le32(3) + le32(8) + le32(4) + "annhub10.0.0.7" + le32(1));
    PresenceNotice parsed;
    ASSERT_EQ(parseContactStatus(bufferOf(event), parsed), 1u);
    EXPECT_EQ(std::string(parsed.address.c_str()), "10.0.0.7");

    const std::string answer = bytesOf(statusAnswerPayload("0.0.0.0", 0));
    EXPECT_EQ(answer, le32(7) + le32(4) + "0.0.0.0" + le32(0));
    TextString address;
    uint32_t status = 9;
    ASSERT_EQ(parseStatusAnswer(TextString(answer.data(), static_cast<uint32_t>(answer.size())), address, status), 1u);
    EXPECT_EQ(status, 0u);
}

// The session requests as the server reads them: what the client writes is
// taken whole, and a cut, a longer or a mislabelled payload is refused.
TEST(SessionPayloadsTest, TheServerReadsOnlyWholeRequests) {
    using test::le32;
    const std::string login = bytesOf(loginPayload("bob", "secret", 1));
    const std::string change = bytesOf(changePasswordPayload("bob", "old", "bob", "new1"));
    const std::string query = bytesOf(queryStatusPayload("ann", "hub", "bob", "hub", 1));
    LoginRequest request;
    ASSERT_EQ(parseLoginPayload(bufferOf(login), request), 1u);
    EXPECT_EQ(std::string(request.userName.c_str()) + "/" + request.password.c_str() + "/" +
                  std::to_string(request.behindProxy), "bob/secret/1");
    PasswordChange passwordChange;
    ASSERT_EQ(parseChangePasswordPayload(bufferOf(change), passwordChange), 1u);
    EXPECT_EQ(std::string(passwordChange.currentPassword.c_str()) + "/" + passwordChange.userNameAgain.c_str() + "/" +
                  passwordChange.newPassword.c_str(), "old/bob/new1");
    StatusQuery statusQuery;
    ASSERT_EQ(parseQueryStatusPayload(bufferOf(query), statusQuery), 1u);
    EXPECT_EQ(std::string(statusQuery.contactUser.c_str()) + "@" + statusQuery.contactServer.c_str() + " for " +
                  statusQuery.ownUser.c_str() + " " + std::to_string(statusQuery.value), "ann@hub for bob 1");

    const struct {
        const char* what;
        std::string login, change, query;
    } refused[] = {
        {"cut by a byte", login.substr(0, login.size() - 1), change.substr(0, change.size() - 1),
         query.substr(0, query.size() - 1)},
        {"a byte after the layout", login + "x", change + "x", query + "x"},
        {"a value whose length is not 4", le32(3) + le32(6) + le32(5) + "bobsecret" + le32(1), "",
         le32(3) + le32(3) + le32(3) + le32(3) + le32(5) + "annhubbobhub" + le32(1)},
        {"a length past the end", le32(0xFFFFFFFF) + login.substr(4), le32(0xFFFFFFFF) + change.substr(4),
         le32(0xFFFFFFFF) + query.substr(4)},
    };
    for (const auto& bad : refused) {
        SCOPED_TRACE(bad.what);
        EXPECT_EQ(parseLoginPayload(bufferOf(bad.login), request), 0u);
        EXPECT_EQ(parseChangePasswordPayload(bufferOf(bad.change), passwordChange), 0u);
        EXPECT_EQ(parseQueryStatusPayload(bufferOf(bad.query), statusQuery), 0u);
    }
}

} // namespace
} // namespace vp
