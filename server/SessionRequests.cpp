// The short session requests: each on a connection of its own, answered
// from the presence registry and the storage.

#include "SessionExchanges.h"
#include "storage/PasswordHash.h"
#include "storage/Storage.h"
#include "storage/UserKey.h"
#include "wire/SessionPayloads.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <optional>

namespace vp::server {

namespace asio = boost::asio;

namespace {

constexpr char kWrongPassword[] = "The current password is not right.";
constexpr char kNamesDiffer[] = "The user name was given twice, differently.";
constexpr char kEmptyPassword[] = "The new password cannot be empty.";
constexpr char kNotChanged[] = "The password could not be changed at the moment. Please try again later.";

// A name may come with its server ("ann@mainhub"); the user part names the
// account here.
std::string userPart(const std::string& name) { return name.substr(0, name.find('@')); }

enum class PasswordOutcome { Changed, UnknownUser, WrongPassword, Failed };

} // namespace

asio::awaitable<bool> isRegistered(ServerState& state, const std::optional<std::string>& key) {
    if (!key) co_return false;
    auto lookUp = [&storage = state.storage, key = *key] { return storage.userExists(key); };
    co_return co_await state.offload(lookUp);
}

std::string unknownUserText(const std::string& name, const std::string& serverName) {
    return fmt::format("No user named {}@{} is registered here.", name, serverName);
}

std::string notOnlineText(const std::string& name, const std::string& serverName) {
    return fmt::format("{}@{} is not online.", name, serverName);
}

asio::awaitable<Next> serveLocate(Conversation& conversation, const FrameHeader& header) {
    ByteBuffer payload;
    if (const bool done = co_await conversation.acceptPayload(header, payload); !done) co_return Next::End;
    const std::string name = userPart(asString(payload));
    const auto key = userKey(name);
    if (key) {
        if (const auto user = conversation.state().presence.find(*key)) {
            const bool sent = co_await conversation.reply(true, user->reachableAddress());
            co_return sent ? Next::Another : Next::End;
        }
    }
    const std::string& serverName = conversation.config().serverName;
    const bool registered = co_await isRegistered(conversation.state(), key);
    const std::string reason = registered ? notOnlineText(name, serverName) : unknownUserText(name, serverName);
    co_return co_await conversation.decline(reason);
}

// The request carries the user name twice and the current password; no
// session is needed. A wrong password counts against the address as a
// failed log-in does.
asio::awaitable<Next> serveChangePassword(Conversation& conversation, const FrameHeader& header) {
    ServerState& state = conversation.state();
    ByteBuffer payload;
    if (const bool done = co_await conversation.acceptPayload(header, payload); !done) co_return Next::End;
    PasswordChange change;
    if (!parseChangePasswordPayload(payload, change))
        co_return co_await conversation.reject(kMalformedRequest, "a malformed password change");
    const std::string name = asString(change.userName);
    if (!change.userName.equalsIgnoreCase(change.userNameAgain)) co_return co_await conversation.decline(kNamesDiffer);
    if (change.newPassword.length() == 0) co_return co_await conversation.decline(kEmptyPassword);
    const auto key = userKey(name);
    if (!key) co_return co_await conversation.decline(unknownUserText(name, conversation.config().serverName));

    co_await conversation.waitOutThrottle();
    auto changePassword = [&storage = state.storage, key = *key, current = asString(change.currentPassword),
                           next = asString(change.newPassword)] {
        const auto hash = storage.passwordHash(key);
        if (!hash) return PasswordOutcome::UnknownUser;
        if (!verifyPassword(*hash, current)) return PasswordOutcome::WrongPassword;
        const auto nextHash = hashPassword(next);
        if (!nextHash || storage.setPasswordHash(key, *nextHash) != StorageResult::Done)
            return PasswordOutcome::Failed;
        return PasswordOutcome::Changed;
    };
    const PasswordOutcome outcome = co_await state.offload(changePassword);
    const std::string& address = conversation.socket().peerAddress();
    switch (outcome) {
    case PasswordOutcome::Changed:
        state.throttle.succeeded(address);
        spdlog::info("{} from {} changed the password", name, address);
        break;
    case PasswordOutcome::UnknownUser:
        state.throttle.failed(address, Clock::now());
        co_return co_await conversation.decline(unknownUserText(name, conversation.config().serverName));
    case PasswordOutcome::WrongPassword:
        state.throttle.failed(address, Clock::now());
        spdlog::warn("{} from {}: a password change with a wrong password", name, address);
        co_return co_await conversation.decline(kWrongPassword);
    case PasswordOutcome::Failed:
        co_return co_await conversation.decline(kNotChanged);
    }
    const bool sent = co_await conversation.reply(true);
    co_return sent ? Next::Another : Next::End;
}

// The answer is {address length, 4, address, status}. An asker that is
// online here is registered for pushes of the user's presence, under the
// names it asked with.
asio::awaitable<Next> serveQueryStatus(Conversation& conversation, const FrameHeader& header) {
    ServerState& state = conversation.state();
    ByteBuffer payload;
    if (const bool done = co_await conversation.acceptPayload(header, payload); !done) co_return Next::End;
    StatusQuery query;
    if (!parseQueryStatusPayload(payload, query))
        co_return co_await conversation.reject(kMalformedRequest, "a malformed status query");
    const std::string name = asString(query.contactUser);
    const auto key = userKey(name);
    // The asker is registered before the user is looked up: a log-in of the
    // user that comes in between is then pushed to it, and one that came
    // before is found. The other way round, a log-in between the two would
    // reach the asker neither way.
    const auto askerKey = userKey(asString(query.ownUser));
    if (key && askerKey) state.presence.watch(*askerKey, *key, KnownAs{name, asString(query.contactServer)});
    const auto user = key ? state.presence.find(*key) : std::nullopt;
    bool registered = user.has_value();
    if (!registered) registered = co_await isRegistered(state, key);
    if (!registered) {
        if (key && askerKey) state.presence.unwatch(*askerKey, *key);
        co_return co_await conversation.decline(unknownUserText(name, conversation.config().serverName));
    }
    const std::string address = user ? user->reachableAddress() : kRelayOnlyAddress;
    const PayloadWriter answer = statusAnswerPayload(address.c_str(), user ? 1 : 0);
    const bool sent = co_await conversation.reply(
        true, std::string_view(reinterpret_cast<const char*>(answer.data()), answer.size()));
    co_return sent ? Next::Another : Next::End;
}

} // namespace vp::server
